// The panel's settings file, brelkcontrol.ini: every key it holds, what each one defaults to, and
// what a bad value falls back to. Nothing else opens the file; each call opens it for the length
// of that call, so that a hand edit between two calls is seen. The file is UTF-8, with Qt 5 as
// with Qt 6. Every write replaces the file in one step, keeping its owner, group and mode.
#ifndef SETTINGS_H
#define SETTINGS_H

#include "channelgroup.h"
#include "commands.h"
#include "reading.h"

#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>

class QSettings;

namespace Brelk {

// A module of the crate besides the one of "BaseAddress": a `[Module_DC00]` group of the file.
struct ModuleConfig
{
    static constexpr quint32 NewModule = 0xFFFFFFFF;

    quint32 address = 0;
    // Free text, such as "Drift chamber"; empty when the module has no name.
    QString name;
    ResolutionSelection selection;
    // "VsetMaxA" and "VsetMaxB" of the group; read from the file only, never written.
    VoltageCeilings ceilings{};
    // The address whose group holds the module's keys now, or NewModule for a module not stored
    // yet: a module whose address is edited keeps its log and topic keys.
    quint32 storedAddress = NewModule;
};

class Settings
{
public:
    static constexpr const char *FileName = "brelkcontrol.ini";
    static constexpr const char *VmUsb = "VM-USB";
    static constexpr const char *V1718 = "V1718";

    // Modules in all, the first module included.
    static constexpr int MostModules = 16;

    explicit Settings(const QString &path);
    // brelkcontrol.ini in the executable's folder.
    static QString besideExecutable();

    QString path() const { return filePath; }

    // The further modules' groups, in ascending address order. A group whose address is no
    // multiple of 0x100 in 0x0000-0xFF00, is the first module's or another group's, or would
    // make more than 16 modules is ignored with a debug line naming it.
    QVector<ModuleConfig> furtherModules() const;
    // Makes the groups those of `modules`: a new module gets a group, a kept one (by its stored
    // address) its new address, name and options with its other keys, and a module that is gone
    // loses its group with every key in it.
    bool storeFurtherModules(const QVector<ModuleConfig> &modules);
    // Moves a further module's group, with every key in it, to another address.
    bool moveFurtherModule(quint32 oldAddress, quint32 newAddress);
    // The keys of one further module: the log, resolution options and "MqttTopic" calls of the
    // returned object read and write its group.
    Settings moduleGroup(quint32 address) const;
    // "Module_DC00".
    static QString moduleGroupName(quint32 address);

    // The channel groups of the `[Group_<Name>]` sections, in the file's order. A section whose
    // header stands twice is refused like a module group, with the reason in `problems`.
    QVector<ChannelGroup> channelGroups(QStringList *problems) const;

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
    // "VsetMaxA" and "VsetMaxB", in volts; an absent key is no ceiling, a value that is no number
    // or is negative none either, with a debug line naming key and value. Never written.
    VoltageCeilings voltageCeilings() const;

    // The data log that runs across restarts: an empty path when none.
    QString logFile() const;
    qint64 logIntervalMs() const;
    bool storeLog(const QString &path, qint64 intervalMs);
    bool removeLog();

    // Any other key, for the settings of a capability that keeps its own key names (MQTT).
    QVariant value(const QString &key, const QVariant &fallback = QVariant()) const;
    bool contains(const QString &key) const;
    // Empty when the key's value in the file is valid UTF-8, or the key is absent; else what is
    // wrong, naming the key. The toolkit replaces each byte that is no UTF-8 as it reads, so only
    // the file's own bytes tell.
    QString utf8Problem(const QString &key) const;
    // Sets keys with a value and removes keys with a null one, in one write. When `secret` (a
    // value holds a password) others lose every permission on the file, before the value is
    // written (owner and group keep theirs; a new file is its owner's alone). False when the file
    // could not be written or made so, with a debug line saying why; the file is then unchanged.
    bool store(const QVariantMap &values, bool secret = false);

private:
    Settings(const QString &path, const QString &group);
    QVector<ModuleConfig> readModuleGroups(bool reportIgnored) const;
    // "BaseAddress"; an out-of-range value is reported only when `report` is true, so that it is
    // said once however often the address is read.
    quint32 storedBaseAddress(bool report) const;
    QString groupKey(const QString &key) const;
    // Every write: `change` edits a copy of the file, which then replaces it (see store).
    bool edit(const std::function<void(QSettings &)> &change, bool secret = false);

    QString filePath;
    // Empty for the first module's keys at the top of the file.
    QString group;
};

} // namespace Brelk

#endif // SETTINGS_H
