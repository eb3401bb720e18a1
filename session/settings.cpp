#include "settings.h"

#include "alarms.h"
#include "display.h"
#include "logschedule.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>

#include <algorithm>

namespace Brelk {

namespace {

const char *const BaseAddressKey = "BaseAddress";
const char *const DefaultBaseAddressText = "0xDD00";
const char *const VmeControllerKey = "VmeController";
const char *const VoltageDeviationAlarmKey = "VoltageDeviationAlarm";
const char *const VoltageResolutionKey = "VoltageResolution";
const char *const CurrentResolutionKey = "CurrentResolution";
const char *const SecondRangeKey = "SecondRange";
const char *const LogFileKey = "LogFile";
const char *const LogIntervalKey = "LogInterval";
const char *const NameKey = "Name";
const quint32 HighestA16Address = 0xFFFF;
const QLatin1String ModuleGroupPrefix("Module_");

// Parses a stored base address by its prefix: "0x" hexadecimal, a leading "0" octal, anything
// else decimal. The text must be one such number and nothing else; the toolkit's own parser
// would also take a binary "0b" prefix or stop at a NUL character.
bool parseBaseAddress(const QString &text, int *address)
{
    static const QRegularExpression prefixRule(
        QStringLiteral("^\\s*[+-]?(0[xX][0-9a-fA-F]+|0[0-7]*|[1-9][0-9]*)\\s*$"));
    if (!prefixRule.match(text).hasMatch())
        return false;
    bool ok = false;
    const int value = text.toInt(&ok, 0);
    if (ok)
        *address = value;
    return ok;
}

// An option key that is absent keeps the default; one the parser refuses is named.
template <typename Value>
void readOption(const QSettings &settings, const char *key, bool (*parse)(const QString &, Value *),
                Value *value)
{
    if (!settings.contains(QLatin1String(key)))
        return;
    const QString text = settings.value(QLatin1String(key)).toString();
    if (!parse(text, value))
        qDebug().noquote() << "Ignoring the setting" << key << "=" << text
                           << "(not a known option); using the default";
}

// The file's groups in the order they stand, those without a key too: every key of a further
// module's group is optional, so "[Module_DC00]" alone names a module, but the toolkit's reader
// lists only groups that hold a key.
QStringList groupsInFile(const QSettings &settings)
{
    QStringList groups;
    QFile file(settings.fileName());
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        static const QRegularExpression header(QStringLiteral("^\\s*\\[([^\\]]+)\\]\\s*$"));
        for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch match = header.match(line);
            if (match.hasMatch() && !groups.contains(match.captured(1)))
                groups << match.captured(1);
        }
    }
    for (const QString &group : settings.childGroups()) {
        if (!groups.contains(group))
            groups << group;
    }
    return groups;
}

} // namespace

Settings::Settings(const QString &path) : filePath(path) {}

Settings::Settings(const QString &path, const QString &group) : filePath(path), group(group) {}

QString Settings::groupKey(const QString &key) const
{
    return group.isEmpty() ? key : group + QLatin1Char('/') + key;
}

QString Settings::moduleGroupName(quint32 address)
{
    return ModuleGroupPrefix + QString::asprintf("%04X", address);
}

Settings Settings::moduleGroup(quint32 address) const
{
    return Settings(filePath, moduleGroupName(address));
}

QVector<ModuleConfig> Settings::furtherModules() const
{
    return readModuleGroups(true);
}

QVector<ModuleConfig> Settings::readModuleGroups(bool reportIgnored) const
{
    const QSettings settings(filePath, QSettings::IniFormat);
    const quint32 first = baseAddress();
    QVector<ModuleConfig> modules;
    for (const QString &group : groupsInFile(settings)) {
        if (!group.startsWith(ModuleGroupPrefix))
            continue;
        // Exactly four upper-case hex digits: the number parser alone would also take a sign or
        // a "0X" prefix, and the group would then not be the one `moduleGroup` reads.
        static const QRegularExpression digitsRule(QStringLiteral("^[0-9A-F]{4}$"));
        const QString digits = group.mid(ModuleGroupPrefix.size());
        const bool ok = digitsRule.match(digits).hasMatch();
        const uint address = ok ? digits.toUInt(nullptr, 16) : 0;
        QString problem;
        if (!ok || address % 0x100 != 0)
            problem =
                QStringLiteral("its address is not a multiple of 0x100 from 0x0000 to 0xFF00");
        else if (address == first)
            problem = QStringLiteral("it is the first module's address (BaseAddress)");
        else if (std::any_of(modules.cbegin(), modules.cend(),
                             [address](const ModuleConfig &m) { return m.address == address; }))
            problem = QStringLiteral("another group has the same address");
        else if (modules.size() + 1 >= MostModules)
            problem = QStringLiteral("the panel polls at most %1 modules").arg(MostModules);
        if (!problem.isEmpty()) {
            if (reportIgnored)
                qDebug().noquote() << "Ignoring the settings group" << group << "since" << problem;
            continue;
        }
        ModuleConfig module;
        module.address = address;
        module.storedAddress = address;
        module.name =
            settings.value(group + QLatin1Char('/') + QLatin1String(NameKey)).toString().trimmed();
        module.selection = moduleGroup(address).resolutionOptions();
        modules.push_back(module);
    }
    std::sort(modules.begin(), modules.end(),
              [](const ModuleConfig &a, const ModuleConfig &b) { return a.address < b.address; });
    return modules;
}

// Groups the panel ignores (a hand-edited address it cannot use) are left for the operator to
// mend; only the groups of modules the panel polled are removed.
bool Settings::storeFurtherModules(const QVector<ModuleConfig> &modules)
{
    const QVector<ModuleConfig> before = readModuleGroups(false);
    QSettings settings(filePath, QSettings::IniFormat);
    // Every kept module's keys are read before any group is rewritten, so that two modules may
    // trade addresses.
    QVector<QVariantMap> keptKeys;
    for (const ModuleConfig &module : modules) {
        QVariantMap keys;
        const bool stored = std::any_of(before.cbegin(), before.cend(), [&](const ModuleConfig &m) {
            return m.address == module.storedAddress;
        });
        if (stored) {
            settings.beginGroup(moduleGroupName(module.storedAddress));
            for (const QString &key : settings.allKeys())
                keys.insert(key, settings.value(key));
            settings.endGroup();
        }
        keptKeys.push_back(keys);
    }
    for (const ModuleConfig &old : before)
        settings.remove(moduleGroupName(old.address));
    for (int i = 0; i < modules.size(); ++i) {
        const ModuleConfig &module = modules.at(i);
        settings.beginGroup(moduleGroupName(module.address));
        for (auto it = keptKeys.at(i).cbegin(); it != keptKeys.at(i).cend(); ++it)
            settings.setValue(it.key(), it.value());
        if (module.name.trimmed().isEmpty())
            settings.remove(QLatin1String(NameKey));
        else
            settings.setValue(QLatin1String(NameKey), module.name.trimmed());
        settings.setValue(QLatin1String(VoltageResolutionKey),
                          voltageResolutionName(module.selection.fineVoltage));
        settings.setValue(QLatin1String(CurrentResolutionKey),
                          currentResolutionName(module.selection.currentResolution));
        settings.setValue(QLatin1String(SecondRangeKey),
                          secondRangeName(module.selection.secondRange));
        settings.endGroup();
    }
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool Settings::moveFurtherModule(quint32 oldAddress, quint32 newAddress)
{
    QSettings settings(filePath, QSettings::IniFormat);
    const QString from = moduleGroupName(oldAddress);
    const QString to = moduleGroupName(newAddress);
    settings.remove(to);
    settings.beginGroup(from);
    QVariantMap keys;
    for (const QString &key : settings.allKeys())
        keys.insert(key, settings.value(key));
    settings.endGroup();
    settings.remove(from);
    settings.beginGroup(to);
    for (auto it = keys.cbegin(); it != keys.cend(); ++it)
        settings.setValue(it.key(), it.value());
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString Settings::besideExecutable()
{
    return QDir(QCoreApplication::applicationDirPath()).absolutePath() + QLatin1Char('/') +
           QLatin1String(FileName);
}

quint32 Settings::baseAddress() const
{
    const QSettings settings(filePath, QSettings::IniFormat);
    const QString text =
        settings.value(QLatin1String(BaseAddressKey), QLatin1String(DefaultBaseAddressText))
            .toString();
    int address = 0;
    if (!parseBaseAddress(text, &address))
        return DefaultBaseAddress;
    if (address < 0 || quint32(address) > HighestA16Address) {
        // Such a value would reach the bus as a wider address than the A16 space has.
        qDebug() << "The stored BaseAddress" << text
                 << "is out of range (0x0000 to 0xFFFF); using 0xDD00";
        return DefaultBaseAddress;
    }
    return quint32(address);
}

bool Settings::storeBaseAddress(quint32 address)
{
    return store({{QLatin1String(BaseAddressKey), baseAddressText(address)}});
}

QString Settings::vmeController() const
{
    const QSettings settings(filePath, QSettings::IniFormat);
    const QString stored =
        settings.value(QLatin1String(VmeControllerKey), QLatin1String(VmUsb)).toString();
    return stored == QLatin1String(V1718) ? stored : QString::fromLatin1(VmUsb);
}

bool Settings::storeVmeController(const QString &controller)
{
    return store({{QLatin1String(VmeControllerKey), controller}});
}

double Settings::voltageDeviationAlarm() const
{
    const QSettings settings(filePath, QSettings::IniFormat);
    return parseVoltageTolerance(
        settings.value(QLatin1String(VoltageDeviationAlarmKey)).toString());
}

ResolutionSelection Settings::resolutionOptions() const
{
    QSettings settings(filePath, QSettings::IniFormat);
    if (!group.isEmpty())
        settings.beginGroup(group);
    ResolutionSelection options;
    readOption(settings, VoltageResolutionKey, parseVoltageResolution, &options.fineVoltage);
    readOption(settings, CurrentResolutionKey, parseCurrentResolution, &options.currentResolution);
    readOption(settings, SecondRangeKey, parseSecondRange, &options.secondRange);
    return options;
}

QString Settings::logFile() const
{
    return value(QLatin1String(LogFileKey)).toString();
}

qint64 Settings::logIntervalMs() const
{
    return logIntervalFromSetting(value(QLatin1String(LogIntervalKey)).toString());
}

bool Settings::storeLog(const QString &path, qint64 intervalMs)
{
    return store({{QLatin1String(LogFileKey), path},
                  {QLatin1String(LogIntervalKey), logIntervalSetting(intervalMs)}});
}

bool Settings::removeLog()
{
    return store({{QLatin1String(LogFileKey), QVariant()}});
}

QVariant Settings::value(const QString &key, const QVariant &fallback) const
{
    const QSettings settings(filePath, QSettings::IniFormat);
    return settings.value(groupKey(key), fallback);
}

bool Settings::contains(const QString &key) const
{
    const QSettings settings(filePath, QSettings::IniFormat);
    return settings.contains(groupKey(key));
}

bool Settings::store(const QVariantMap &values, bool secret)
{
    QSettings settings(filePath, QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (it.value().isNull())
            settings.remove(groupKey(it.key()));
        else
            settings.setValue(groupKey(it.key()), it.value());
    }
    settings.sync();
    if (secret)
        QFile::setPermissions(filePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return settings.status() == QSettings::NoError;
}

} // namespace Brelk
