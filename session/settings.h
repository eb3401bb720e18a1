// The panel's settings file, brelkcontrol.ini: every key it holds, what each one defaults to, and
// what a bad value falls back to. Nothing else opens the file; each call opens it for the length
// of that call, so that a hand edit between two calls is seen. The file is UTF-8, with Qt 5 as
// with Qt 6. Every write replaces the file in one step, keeping its owner, group and mode.
#ifndef SETTINGS_H
#define SETTINGS_H

#include "channelgroup.h"
#include "commands.h"
#include "reading.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>

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

// Where and how a module publishes: the broker, the topic prefix, the credentials and TLS.
struct MqttSettings
{
    static constexpr int DefaultPort = 1883;

    QString host; // empty: publishing off
    int port = DefaultPort;
    QString topic; // prefix without a trailing "/"
    QString user;
    QString password;
    bool rememberPassword = false;
    QString caFile; // non-empty: TLS, verifying the broker against this CA
    // Why the stored settings cannot be used: a value in the file that is not valid UTF-8, named
    // by its key. Empty for settings that do not come from the file.
    QString fileProblem;

    bool enabled() const { return !host.isEmpty(); }
    bool operator==(const MqttSettings &other) const;
    bool operator!=(const MqttSettings &other) const { return !(*this == other); }
};

// How far a remote command's "sent" time may lie from the clock, either way, when the file names
// no other span.
constexpr qint64 DefaultCommandMaxAgeMs = 2000;

// Told of every write to the file, by whichever copy of its Settings made it.
class SettingsSignals : public QObject
{
    Q_OBJECT

signals:
    // The file was rewritten: `keys` are the keys written or removed, each with its group
    // ("Module_DC00/Name"); a further module's group added, moved or removed is named as a group
    // ("Module_DC00/").
    void changed(const QStringList &keys);
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
    // One object per file for all copies of this Settings and their module groups: its signal
    // follows every write they make.
    SettingsSignals *changes() const { return notifier.get(); }
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

    // Any key by its name, for the few callers that read a key as it stands in the file.
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
    Settings(const QString &path, const QString &group,
             const std::shared_ptr<SettingsSignals> &notifier);
    QVector<ModuleConfig> readModuleGroups(bool reportIgnored) const;
    // "BaseAddress"; an out-of-range value is reported only when `report` is true, so that it is
    // said once however often the address is read.
    quint32 storedBaseAddress(bool report) const;
    QString groupKey(const QString &key) const;
    // Every write: `change` edits a copy of the file, which then replaces it (see store).
    bool edit(const std::function<void(QSettings &)> &change, const QStringList &keys,
              bool secret = false);

    QString filePath;
    // Empty for the first module's keys at the top of the file.
    QString group;
    std::shared_ptr<SettingsSignals> notifier;
};

// Where the panel's modules come from: "Source" = "bridge" (the crate behind the panel's own
// VME bridge; also for no key or any other value) or "broker" (the crates' services, through the
// broker of the Mqtt* keys); "AttachFilter", the topic filters (separated by commas) under which services are found
// (default "brelk/+"); "AttachModule", the prefix of the module the main window shows.
struct AttachSettings
{
    static constexpr const char *DefaultFilter = "brelk/+";
    bool attached = false;
    QString filter = QLatin1String(DefaultFilter);
    QString module;
};
AttachSettings loadAttachSettings(const Settings &settings);
bool storeAttachSettings(Settings &settings, const AttachSettings &attach);

// The broker settings, as kept under the Mqtt* keys.
// "brelk/dd00": the prefix used when none is stored.
QString defaultMqttTopic(int baseAddress);
// The prefix with surrounding blanks and trailing "/" removed.
QString normalizedMqttTopic(const QString &topic);
// Reads the Mqtt* keys; missing values and an unusable port take their defaults, so a file with
// only "MqttHost" publishes to port 1883 under the default prefix. A prefix the broker would
// refuse is kept as it is, for the publisher to report; so is a value that is not valid UTF-8
// (see MqttSettings::fileProblem).
MqttSettings loadMqttSettings(const Settings &settings, int baseAddress);
// Writes the keys; empty values and defaults are removed (a prefix equal to the default one
// follows the base address), and the password is written only when it is to be remembered, to a
// file that others cannot read (see Settings::store).
bool storeMqttSettings(Settings &settings, const MqttSettings &mqtt, int baseAddress);
// The broker settings of the file with a further module's prefix: the "MqttTopic" of its group,
// else the default prefix of its address.
MqttSettings loadModuleMqttSettings(const Settings &settings, quint32 baseAddress);
// "MqttCommands": "on" (in any case) allows remote commands; "off", no key or anything else does
// not. Stored as "on" or "off".
bool remoteCommandsAllowed(const Settings &settings);
bool storeRemoteCommandsAllowed(Settings &settings, bool allowed);
// Whether a write of these keys (as SettingsSignals::changed names them) changed the broker
// settings of the first module or of any further module.
bool touchesMqttSettings(const QStringList &keys);
// "MqttCommandMaxAge": how far, in milliseconds, a command's "sent" time may lie from the clock
// either way; 2000 when the key is missing or not a number from 1 to 3600000.
qint64 remoteCommandMaxAgeMs(const Settings &settings);

} // namespace Brelk

Q_DECLARE_METATYPE(Brelk::MqttSettings)

#endif // SETTINGS_H
