// The panel without a window: the crate runtime with the settings file's modules, data logs and
// MQTT publishing, and every event a window would show (status bar, message boxes) written as one
// line on standard error, the module's address first for a further module. A bridge that cannot
// be opened is tried again every 10 s, since nobody is there to press OK. Under systemd it says
// when it is ready, what it is doing, and that its poll still runs (the watchdog).
#ifndef HEADLESSSERVICE_H
#define HEADLESSSERVICE_H

#include "crateevent.h"
#include "crateruntime.h"
#include "daemonnotify.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

namespace Brelk {

class ModuleSession;

class HeadlessService : public QObject
{
    Q_OBJECT

public:
    explicit HeadlessService(const QString &settingsFile, QObject *parent = nullptr);
    ~HeadlessService() override;

    void start();
    // Stops polling, writes the data logs' last rows, says "offline" to the broker and leaves
    // it, and closes the bridge.
    void stop();

    // Writes one line to standard error: with the local time as the data log writes it, or with
    // its priority when standard error is the journal.
    static void report(const QString &text,
                       CrateEvent::Priority priority = CrateEvent::Information);
    // Sends the debug output to standard error the same way.
    static void timeStampDebugLines();

private:
    void show(const CrateEvent &event);
    void tellSystemd(const CrateEvent &event);

    CrateRuntime crate;
    DaemonNotifier systemd;
    // Pings the watchdog while no tick does: the bridge is being opened again.
    QTimer idlePing;
    // The line last written about the bridge and about each module's answer, log and broker: a
    // message that would be repeated every tick, or every 10 s, is written only when it changes.
    QString bridgeLine;
    QHash<const ModuleSession *, QString> moduleLines;
    QHash<const ModuleSession *, QString> mqttLines;
};

} // namespace Brelk

#endif // HEADLESSSERVICE_H
