// The panel's settings file, brelkcontrol.ini: every key it holds, what each one defaults to, and
// what a bad value falls back to. Nothing else opens the file; each call opens it for the length
// of that call, so that a hand edit between two calls is seen.
#ifndef SETTINGS_H
#define SETTINGS_H

#include "reading.h"

#include <QString>
#include <QVariant>

namespace Brelk {

class Settings
{
public:
    static constexpr const char *FileName = "brelkcontrol.ini";
    static constexpr const char *VmUsb = "VM-USB";
    static constexpr const char *V1718 = "V1718";

    explicit Settings(const QString &path);
    // brelkcontrol.ini in the executable's folder.
    static QString besideExecutable();

    QString path() const { return filePath; }

    // A16 base address of the module; a value that is no number, or lies outside the A16 space,
    // falls back to 0xDD00 (the latter with a debug line).
    quint32 baseAddress() const;
    bool storeBaseAddress(quint32 address);

    // VM-USB or V1718; anything else is the VM-USB.
    QString vmeController() const;
    bool storeVmeController(const QString &controller);

    // Volts, or 0 for the default rule.
    double voltageDeviationAlarm() const;

    // The module's hardware options; an absent key is today's default (1 V, 1 uA, none), any
    // other value the default with a debug line naming key and value. Never written.
    ResolutionSelection resolutionOptions() const;

    // The data log that runs across restarts: an empty path when none.
    QString logFile() const;
    qint64 logIntervalMs() const;
    bool storeLog(const QString &path, qint64 intervalMs);
    bool removeLog();

    // Any other key, for the settings of a capability that keeps its own key names (MQTT).
    QVariant value(const QString &key, const QVariant &fallback = QVariant()) const;
    bool contains(const QString &key) const;
    // Sets keys with a value and removes keys with a null one, in one write. A value that holds
    // a password makes the file readable by its owner only.
    bool store(const QVariantMap &values, bool secret = false);

private:
    QString filePath;
};

} // namespace Brelk

#endif // SETTINGS_H
