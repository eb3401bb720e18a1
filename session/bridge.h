// The USB-to-VME bridge of the crate: owns the one `CVmeController`, creates the backend the
// settings name, opens it, and always closes an open controller before destroying it (the
// backends' destructors release their library but leave a connection open).
#ifndef BRIDGE_H
#define BRIDGE_H

#include <QString>
#include <QtGlobal>

class CVmeController;

namespace Brelk {

class Bridge
{
public:
    Bridge() = default;
    ~Bridge();
    Bridge(const Bridge &) = delete;
    Bridge &operator=(const Bridge &) = delete;

    // Replaces the controller by a new backend of the kind the setting names ("V1718" the CAEN
    // bridge, anything else the VM-USB) and opens controller number 0.
    bool connect(const QString &controllerSetting);
    // Takes an already made controller, open or not, in place of the current one.
    void adopt(CVmeController *replacement, bool isOpen);
    // Closes the connection; the controller stays, so that its name can still be shown.
    void close();
    // Closes the controller and opens it again, as after a USB cord was pulled and plugged back
    // in: the same backend, its library still loaded, controller number 0.
    bool reopen();

    CVmeController *controller() const { return vmeController; }
    bool isOpen() const { return open; }
    // The backend's name ("Wiener VM-USB", "CAEN V1718"); empty before the first connection.
    QString name() const;

    // Statuses are the backend's: negative means the cycle failed.
    quint16 read16(quint32 address, int addressModifier, int *status = nullptr);
    int write16(quint32 address, int addressModifier, quint16 data);
    // Why a cycle with this status failed, in the words of the backend's library.
    QString statusText(int status) const;

private:
    void release();

    CVmeController *vmeController = nullptr;
    bool open = false;
};

} // namespace Brelk

#endif // BRIDGE_H
