#include "settings.h"

#include "alarms.h"
#include "display.h"
#include "logschedule.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>

#include <algorithm>
#include <cmath>
#include <initializer_list>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
const char *const MqttHostKey = "MqttHost";
const char *const MqttPortKey = "MqttPort";
const char *const MqttTopicKey = "MqttTopic";
const char *const MqttUserKey = "MqttUser";
const char *const MqttPasswordKey = "MqttPassword";
const char *const MqttCaFileKey = "MqttCaFile";
const char *const MqttCommandsKey = "MqttCommands";
const char *const MqttCommandMaxAgeKey = "MqttCommandMaxAge";
const char *const SourceKey = "Source";
const char *const AttachFilterKey = "AttachFilter";
const char *const AttachModuleKey = "AttachModule";
constexpr qint64 LongestCommandMaxAgeMs = 3600000;
const char *const UnknownOption = "(not a known option); using the default";
const quint32 HighestA16Address = 0xFFFF;
const QLatin1String ModuleGroupPrefix("Module_");

// The file as the toolkit reads and writes it, in UTF-8 on Qt 5 as on Qt 6 (Qt 5 would read it as
// Latin-1 and write every other character as an escape).
class IniFile : public QSettings
{
public:
    explicit IniFile(const QString &path) : QSettings(path, QSettings::IniFormat)
    {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        setIniCodec("UTF-8");
#endif
    }
};

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

// A ceiling in volts: a finite number, 0 or more.
bool parseVoltageCeiling(const QString &text, std::optional<double> *volts)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0)
        return false;
    *volts = value;
    return true;
}

// An option key that is absent keeps the default; one the parser refuses is named, with what
// becomes of it.
template <typename Value>
void readOption(const QSettings &settings, const char *key, bool (*parse)(const QString &, Value *),
                Value *value, const char *refused = UnknownOption)
{
    if (!settings.contains(QLatin1String(key)))
        return;
    // The toolkit reads "1,500" as a list of two texts.
    const QVariant stored = settings.value(QLatin1String(key));
    const QString text = stored.userType() == QMetaType::QStringList
                             ? stored.toStringList().join(QLatin1Char(','))
                             : stored.toString();
    const QString where = settings.group().isEmpty()
                              ? QLatin1String(key)
                              : settings.group() + QLatin1Char('/') + QLatin1String(key);
    if (!parse(text, value))
        qDebug().noquote() << "Ignoring the setting" << where << "=" << escapedForLog(text)
                           << refused;
}

// The file's groups in the order they stand, those without a key too: every key of a further
// module's group is optional, so "[Module_DC00]" alone names a module, but the toolkit's reader
// lists only groups that hold a key.
// `headers`, when given, counts how often each group's header stands in the file: the reader merges
// repeated headers into one group.
QStringList groupsInFile(const QSettings &settings, QHash<QString, int> *headers = nullptr)
{
    QStringList groups;
    QFile file(settings.fileName());
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        static const QRegularExpression header(QStringLiteral("^\\s*\\[([^\\]]+)\\]\\s*$"));
        for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch match = header.match(line);
            if (!match.hasMatch())
                continue;
            if (headers)
                ++(*headers)[match.captured(1)];
            if (!groups.contains(match.captured(1)))
                groups << match.captured(1);
        }
    }
    for (const QString &group : settings.childGroups()) {
        if (!groups.contains(group))
            groups << group;
    }
    return groups;
}

// The index of the first byte of `text` that is not part of valid UTF-8, or -1: the toolkit's
// decoder turns each such byte into a replacement character, so the text no longer comes back.
int invalidUtf8At(const QByteArray &text)
{
    const QByteArray back = QString::fromUtf8(text).toUtf8();
    if (back == text)
        return -1;
    int same = 0;
    while (same < text.size() && same < back.size() && text.at(same) == back.at(same))
        ++same;
    // Back to the start of the replacement character: the bytes it took the place of begin there.
    while (same > 0 && same < back.size() && (uchar(back.at(same)) & 0xC0) == 0x80)
        --same;
    return qMin(same, int(text.size()) - 1);
}

#ifdef Q_OS_UNIX

QString systemError(const QString &what)
{
    return what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

qint64 modifiedMs(const struct stat &status)
{
    return qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
}

// Removes the new file unless it has taken the old one's place.
struct TemporaryName
{
    QByteArray name;
    bool keep = false;
    ~TemporaryName()
    {
        if (!keep && !name.isEmpty())
            ::unlink(name.constData());
    }
};

#endif

// Writes the file anew through `change`. On Unix the new contents go to a file of their own beside
// the old one, created readable by its owner only and so never readable by anyone else while it
// holds them; it then gets the old file's owner, group and mode (less every permission of others
// when `secret`), and takes the old file's place in one step. A reader thus sees the old file or
// the new one, never a part, and never a password it could not read before.
bool replaceFile(const QString &path, const std::function<void(QSettings &)> &change, bool secret,
                 QString *problem)
{
#ifdef Q_OS_UNIX
    // A link stays a link: the file it names is the one replaced.
    QFileInfo info(path);
    if (info.isSymLink())
        info.setFile(info.exists() ? info.canonicalFilePath() : info.symLinkTarget());
    const QString target = info.absoluteFilePath();
    const QByteArray targetName = QFile::encodeName(target);
    struct stat old;
    const bool exists = ::stat(targetName.constData(), &old) == 0;
    if (!exists && errno != ENOENT) {
        *problem = systemError(QStringLiteral("cannot examine the file"));
        return false;
    }
    if (exists && !S_ISREG(old.st_mode)) {
        *problem = QStringLiteral("it is not a regular file");
        return false;
    }

    // A new file that holds no password is created as any other file (the umask decides); every
    // other one is its owner's alone until it has its final owner and mode.
    const mode_t createMode = exists || secret ? 0600 : 0666;
    TemporaryName temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary.name = QFile::encodeName(
            info.absolutePath() + QStringLiteral("/.") + info.fileName() + QLatin1Char('.') +
            QString::number(QRandomGenerator::global()->generate(), 36));
        fd = ::open(temporary.name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    createMode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        temporary.name.clear();
        *problem = systemError(QStringLiteral("cannot create a file in %1")
                                   .arg(QDir::toNativeSeparators(info.absolutePath())));
        return false;
    }
    struct stat created;
    bool copied = ::fstat(fd, &created) == 0;
    if (copied && exists) {
        QFile in(target);
        copied = in.open(QIODevice::ReadOnly);
        const QByteArray contents = copied ? in.readAll() : QByteArray();
        copied = copied && in.error() == QFileDevice::NoError;
        for (qint64 done = 0; copied && done < contents.size();) {
            const ssize_t written =
                ::write(fd, contents.constData() + done, size_t(contents.size() - done));
            if (written < 0 && errno == EINTR)
                continue;
            copied = written > 0;
            done += written;
        }
    }
    ::close(fd);
    if (!copied) {
        *problem = systemError(QStringLiteral("cannot copy the file"));
        return false;
    }
    {
        // The toolkit writes the new file in its turn as a file of its own that it puts in the
        // place of this one, with this one's mode: still private.
        IniFile settings(QFile::decodeName(temporary.name));
        change(settings);
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            *problem = QStringLiteral("cannot write %1").arg(QFile::decodeName(temporary.name));
            return false;
        }
    }

    fd = ::open(temporary.name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat written;
    if (fd < 0 || ::fstat(fd, &written) != 0) {
        *problem = systemError(QStringLiteral("cannot open the written file"));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const auto fail = [&](const QString &what) {
        *problem = systemError(what);
        ::close(fd);
        return false;
    };
    mode_t mode = (exists ? old.st_mode : created.st_mode) & 07777;
    // A password in clear: others lose every permission; the owner and group keep theirs, so that
    // a service reading the file through its group still can.
    if (secret)
        mode &= ~mode_t(S_IRWXO);
    // The owner first: a change of owner may clear the set-ID bits that the mode then restores.
    if (exists && (written.st_uid != old.st_uid || written.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return fail(QStringLiteral("cannot give the new file the owner and group of the old one "
                                   "(%1:%2)")
                        .arg(old.st_uid)
                        .arg(old.st_gid));
    if (::fchmod(fd, mode) != 0)
        return fail(QStringLiteral("cannot set the mode %1").arg(mode, 4, 8, QLatin1Char('0')));
    if (::fstat(fd, &written) != 0)
        return fail(QStringLiteral("cannot examine the written file"));
    if (secret && (written.st_mode & S_IRWXO) != 0) {
        errno = EPERM;
        return fail(QStringLiteral("the file would stay readable by others (mode %1)")
                        .arg(written.st_mode & 07777, 4, 8, QLatin1Char('0')));
    }
    // The toolkit takes a file of the same size and modification time (to the millisecond) for
    // the one it read before: each new file is modified later than the one it replaces.
    if (exists && modifiedMs(written) <= modifiedMs(old)) {
        const qint64 later = modifiedMs(old) + 1;
        const struct timespec times[2] = {{0, UTIME_OMIT},
                                          {time_t(later / 1000), long(later % 1000) * 1000000}};
        if (::futimens(fd, times) != 0)
            return fail(QStringLiteral("cannot set the modification time"));
    }
    if (::fsync(fd) != 0)
        return fail(QStringLiteral("cannot write the file to disk"));
    ::close(fd);
    if (::rename(temporary.name.constData(), targetName.constData()) != 0) {
        *problem = systemError(QStringLiteral("cannot replace the file"));
        return false;
    }
    temporary.keep = true;
    return true;
#else
    IniFile settings(path);
    change(settings);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        *problem = QStringLiteral("cannot write the file");
        return false;
    }
    if (secret && !QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        *problem = QStringLiteral("cannot make the file its owner's alone");
        return false;
    }
    return true;
#endif
}

} // namespace

Settings::Settings(const QString &path)
    : filePath(path), notifier(std::make_shared<SettingsSignals>())
{
}

Settings::Settings(const QString &path, const QString &group,
                   const std::shared_ptr<SettingsSignals> &notifier)
    : filePath(path), group(group), notifier(notifier)
{
}

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
    return Settings(filePath, moduleGroupName(address), notifier);
}

QVector<ModuleConfig> Settings::furtherModules() const
{
    return readModuleGroups(true);
}

QVector<ChannelGroup> Settings::channelGroups(QStringList *problems) const
{
    static const QString prefix = QStringLiteral("Group_");
    IniFile settings(filePath);
    QHash<QString, int> headers;
    QVector<ChannelGroup> groups;
    for (const QString &section : groupsInFile(settings, &headers)) {
        if (!section.startsWith(prefix))
            continue;
        const QString name = section.mid(prefix.size());
        if (headers.value(section) > 1) {
            problems->append(QStringLiteral("Group %1 is ignored: its header stands %2 times in "
                                            "the file")
                                 .arg(escapedForLog(name))
                                 .arg(headers.value(section)));
            continue;
        }
        settings.beginGroup(section);
        QHash<QString, QString> keys;
        for (const QString &key : settings.childKeys()) {
            // A list of channels or targets arrives as a list: its commas are the file's.
            const QVariant value = settings.value(key);
            keys.insert(key, value.userType() == QMetaType::QStringList
                                 ? value.toStringList().join(QLatin1Char(','))
                                 : value.toString());
        }
        settings.endGroup();
        ChannelGroup group;
        const QString problem = parseChannelGroup(name, keys, &group);
        if (problem.isEmpty())
            groups << group;
        else
            problems->append(
                QStringLiteral("Group %1 is ignored: %2").arg(escapedForLog(name), problem));
    }
    return groups;
}

QVector<ModuleConfig> Settings::readModuleGroups(bool reportIgnored) const
{
    const IniFile settings(filePath);
    const quint32 first = storedBaseAddress(false);
    const auto ignore = [reportIgnored](const QString &group, const QString &problem) {
        if (reportIgnored) {
            qDebug().noquote() << "Ignoring the settings group" << escapedForLog(group) << "since"
                               << problem;
        }
    };
    QHash<QString, int> headers;
    QVector<ModuleConfig> modules;
    for (const QString &group : groupsInFile(settings, &headers)) {
        if (!group.startsWith(ModuleGroupPrefix, Qt::CaseInsensitive))
            continue;
        // Exactly four upper-case hex digits after "Module_": the number parser alone would also
        // take a sign or a "0X" prefix, and the group would then not be the one `moduleGroup`
        // reads.
        static const QRegularExpression nameRule(QStringLiteral("^Module_[0-9A-F]{4}$"));
        if (!nameRule.match(group).hasMatch()) {
            ignore(group, QStringLiteral("group names are Module_ and four upper-case hex digits"));
            continue;
        }
        const uint address = group.mid(ModuleGroupPrefix.size()).toUInt(nullptr, 16);
        if (headers.value(group) > 1) {
            ignore(group, QStringLiteral("its header stands %1 times in the file, and the reader "
                                         "would merge their keys: keep one")
                              .arg(headers.value(group)));
        } else if (address % 0x100 != 0) {
            ignore(group,
                   QStringLiteral("its address is not a multiple of 0x100 from 0x0000 to 0xFF00"));
        } else if (address == first) {
            ignore(group, QStringLiteral("it is the first module's address (BaseAddress)"));
        } else {
            ModuleConfig module;
            module.address = address;
            module.storedAddress = address;
            module.name = settings.value(group + QLatin1Char('/') + QLatin1String(NameKey))
                              .toString()
                              .trimmed();
            module.selection = moduleGroup(address).resolutionOptions();
            module.ceilings = moduleGroup(address).voltageCeilings();
            modules.push_back(module);
        }
    }
    std::sort(modules.begin(), modules.end(),
              [](const ModuleConfig &a, const ModuleConfig &b) { return a.address < b.address; });
    // The highest addresses go, whatever their order in the file.
    while (modules.size() >= MostModules) {
        ignore(moduleGroupName(modules.last().address),
               QStringLiteral("the panel polls at most %1 modules, and the highest addresses "
                              "are left out")
                   .arg(MostModules));
        modules.removeLast();
    }
    return modules;
}

// Groups the panel ignores (a hand-edited address it cannot use) are left for the operator to
// mend; only the groups of modules the panel polled are removed.
bool Settings::storeFurtherModules(const QVector<ModuleConfig> &modules)
{
    const QVector<ModuleConfig> before = readModuleGroups(false);
    QStringList groups;
    for (const ModuleConfig &module : before)
        groups << moduleGroupName(module.address) + QLatin1Char('/');
    for (const ModuleConfig &module : modules)
        groups << moduleGroupName(module.address) + QLatin1Char('/');
    groups.removeDuplicates();
    return edit(
        [&](QSettings &settings) {
            // Every kept module's keys are read before any group is rewritten, so that two modules
            // may trade addresses.
            QVector<QVariantMap> keptKeys;
            for (const ModuleConfig &module : modules) {
                QVariantMap keys;
                const bool stored =
                    std::any_of(before.cbegin(), before.cend(), [&](const ModuleConfig &m) {
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
        },
        groups);
}

bool Settings::moveFurtherModule(quint32 oldAddress, quint32 newAddress)
{
    const QStringList groups{moduleGroupName(oldAddress) + QLatin1Char('/'),
                             moduleGroupName(newAddress) + QLatin1Char('/')};
    return edit(
        [&](QSettings &settings) {
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
        },
        groups);
}

QString Settings::besideExecutable()
{
    return QDir(QCoreApplication::applicationDirPath()).absolutePath() + QLatin1Char('/') +
           QLatin1String(FileName);
}

quint32 Settings::baseAddress() const
{
    return storedBaseAddress(true);
}

quint32 Settings::storedBaseAddress(bool report) const
{
    const IniFile settings(filePath);
    const QString text =
        settings.value(QLatin1String(BaseAddressKey), QLatin1String(DefaultBaseAddressText))
            .toString();
    int address = 0;
    if (!parseBaseAddress(text, &address))
        return DefaultBaseAddress;
    if (address < 0 || quint32(address) > HighestA16Address) {
        // Such a value would reach the bus as a wider address than the A16 space has.
        if (report) {
            qDebug() << "The stored BaseAddress" << text
                     << "is out of range (0x0000 to 0xFFFF); using 0xDD00";
        }
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
    const IniFile settings(filePath);
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
    const IniFile settings(filePath);
    return parseVoltageTolerance(
        settings.value(QLatin1String(VoltageDeviationAlarmKey)).toString());
}

ResolutionSelection Settings::resolutionOptions() const
{
    IniFile settings(filePath);
    if (!group.isEmpty())
        settings.beginGroup(group);
    ResolutionSelection options;
    readOption(settings, VoltageResolutionKey, parseVoltageResolution, &options.fineVoltage);
    readOption(settings, CurrentResolutionKey, parseCurrentResolution, &options.currentResolution);
    readOption(settings, SecondRangeKey, parseSecondRange, &options.secondRange);
    return options;
}

VoltageCeilings Settings::voltageCeilings() const
{
    IniFile settings(filePath);
    if (!group.isEmpty())
        settings.beginGroup(group);
    VoltageCeilings ceilings;
    for (int ch = 0; ch < 2; ++ch) {
        readOption(settings, VoltageCeilingKeys[ch], parseVoltageCeiling, &ceilings.volts[ch],
                   "(not a number of volts, 0 or more); no ceiling");
    }
    return ceilings;
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
    const IniFile settings(filePath);
    return settings.value(groupKey(key), fallback);
}

bool Settings::contains(const QString &key) const
{
    const IniFile settings(filePath);
    return settings.contains(groupKey(key));
}

QString Settings::utf8Problem(const QString &key) const
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray contents = file.readAll();
    if (contents.startsWith("\xEF\xBB\xBF"))
        contents.remove(0, 3);
    // The toolkit's own form of the file: the first module's keys in "[General]" (or before any
    // group), a group's keys under its "[name]".
    const QByteArray wantedGroup = group.isEmpty() ? QByteArray("General") : group.toUtf8();
    QByteArray currentGroup("General");
    for (QByteArray line : contents.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[') && line.endsWith(']')) {
            currentGroup = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const int equals = line.indexOf('=');
        if (line.startsWith(';') || line.startsWith('#') || equals < 0 ||
            currentGroup != wantedGroup || line.left(equals).trimmed() != key.toUtf8())
            continue;
        const QByteArray value = line.mid(equals + 1).trimmed();
        const int at = invalidUtf8At(value);
        if (at >= 0) {
            return QStringLiteral(
                       "%1 in the settings file is not valid UTF-8 (byte 0x%2 at byte %3 "
                       "of its value)")
                .arg(groupKey(key), QString::number(uchar(value.at(at)), 16)
                                        .toUpper()
                                        .rightJustified(2, QLatin1Char('0')))
                .arg(at + 1);
        }
    }
    return QString();
}

bool Settings::store(const QVariantMap &values, bool secret)
{
    QStringList keys;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        keys << groupKey(it.key());
    return edit(
        [&](QSettings &settings) {
            for (auto it = values.cbegin(); it != values.cend(); ++it) {
                if (it.value().isNull())
                    settings.remove(groupKey(it.key()));
                else
                    settings.setValue(groupKey(it.key()), it.value());
            }
        },
        keys, secret);
}

bool Settings::edit(const std::function<void(QSettings &)> &change, const QStringList &keys,
                    bool secret)
{
    QString problem;
    if (replaceFile(filePath, change, secret, &problem)) {
        emit notifier->changed(keys);
        return true;
    }
    qDebug().noquote() << QStringLiteral("Could not store the settings in %1: %2")
                              .arg(QDir::toNativeSeparators(filePath), problem);
    return false;
}

// --- The broker settings -----------------------------------------------------------------

namespace {

// The first of `keys` whose value in the file is not valid UTF-8, as what is wrong; else empty.
QString utf8Problem(const Settings &settings, std::initializer_list<const char *> keys)
{
    for (const char *key : keys) {
        const QString problem = settings.utf8Problem(QLatin1String(key));
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}

// An empty value removes the key.
void setOrRemove(QVariantMap &values, const char *key, const QString &value)
{
    values.insert(QLatin1String(key), value.isEmpty() ? QVariant() : QVariant(value));
}

} // namespace

bool MqttSettings::operator==(const MqttSettings &other) const
{
    return host == other.host && port == other.port && topic == other.topic && user == other.user &&
           password == other.password && rememberPassword == other.rememberPassword &&
           caFile == other.caFile && fileProblem == other.fileProblem;
}

QString defaultMqttTopic(int baseAddress)
{
    return QStringLiteral("brelk/") + QString::asprintf("%04x", unsigned(baseAddress) & 0xFFFF);
}

QString normalizedMqttTopic(const QString &topic)
{
    QString text = topic.trimmed();
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}

MqttSettings loadMqttSettings(const Settings &settings, int baseAddress)
{
    const auto text = [&settings](const char *key) {
        return settings.value(QLatin1String(key)).toString();
    };
    MqttSettings mqtt;
    mqtt.host = text(MqttHostKey).trimmed();
    bool ok = false;
    const int port = text(MqttPortKey).trimmed().toInt(&ok);
    mqtt.port = ok && port > 0 && port < 65536 ? port : MqttSettings::DefaultPort;
    mqtt.topic = normalizedMqttTopic(text(MqttTopicKey));
    if (mqtt.topic.isEmpty())
        mqtt.topic = defaultMqttTopic(baseAddress);
    mqtt.user = text(MqttUserKey);
    mqtt.password = text(MqttPasswordKey);
    mqtt.rememberPassword = settings.contains(QLatin1String(MqttPasswordKey));
    mqtt.caFile = text(MqttCaFileKey).trimmed();
    mqtt.fileProblem = utf8Problem(settings, {MqttHostKey, MqttPortKey, MqttTopicKey, MqttUserKey,
                                              MqttPasswordKey, MqttCaFileKey});
    return mqtt;
}

MqttSettings loadModuleMqttSettings(const Settings &settings, quint32 baseAddress)
{
    MqttSettings mqtt = loadMqttSettings(settings, int(baseAddress));
    const Settings group = settings.moduleGroup(baseAddress);
    mqtt.topic = normalizedMqttTopic(group.value(QLatin1String(MqttTopicKey)).toString());
    // The first module's prefix is not this module's.
    mqtt.fileProblem = utf8Problem(
        settings, {MqttHostKey, MqttPortKey, MqttUserKey, MqttPasswordKey, MqttCaFileKey});
    if (mqtt.fileProblem.isEmpty())
        mqtt.fileProblem = utf8Problem(group, {MqttTopicKey});
    if (mqtt.topic.isEmpty())
        mqtt.topic = defaultMqttTopic(int(baseAddress));
    return mqtt;
}

bool storeMqttSettings(Settings &settings, const MqttSettings &mqtt, int baseAddress)
{
    QVariantMap values;
    setOrRemove(values, MqttHostKey, mqtt.host);
    setOrRemove(values, MqttPortKey,
                mqtt.port == MqttSettings::DefaultPort ? QString() : QString::number(mqtt.port));
    setOrRemove(values, MqttTopicKey,
                mqtt.topic == defaultMqttTopic(baseAddress) ? QString() : mqtt.topic);
    setOrRemove(values, MqttUserKey, mqtt.user);
    values.insert(QLatin1String(MqttPasswordKey),
                  mqtt.rememberPassword ? QVariant(mqtt.password) : QVariant());
    setOrRemove(values, MqttCaFileKey, mqtt.caFile);
    // The password is kept in clear: others lose every permission on the file before it is
    // written, and later writes keep the mode.
    return settings.store(values, mqtt.rememberPassword);
}

bool remoteCommandsAllowed(const Settings &settings)
{
    return settings.value(QLatin1String(MqttCommandsKey)).toString().trimmed().toLower() ==
           QLatin1String("on");
}

bool storeRemoteCommandsAllowed(Settings &settings, bool allowed)
{
    return settings.store(
        {{QLatin1String(MqttCommandsKey), allowed ? QStringLiteral("on") : QStringLiteral("off")}});
}

bool touchesMqttSettings(const QStringList &keys)
{
    static const QStringList brokerKeys{
        QLatin1String(MqttHostKey), QLatin1String(MqttPortKey),     QLatin1String(MqttTopicKey),
        QLatin1String(MqttUserKey), QLatin1String(MqttPasswordKey), QLatin1String(MqttCaFileKey)};
    for (const QString &key : keys) {
        if (brokerKeys.contains(key.section(QLatin1Char('/'), -1)))
            return true;
    }
    return false;
}

qint64 remoteCommandMaxAgeMs(const Settings &settings)
{
    bool ok = false;
    const qint64 ms =
        settings.value(QLatin1String(MqttCommandMaxAgeKey)).toString().trimmed().toLongLong(&ok);
    return ok && ms >= 1 && ms <= LongestCommandMaxAgeMs ? ms : DefaultCommandMaxAgeMs;
}

AttachSettings loadAttachSettings(const Settings &settings)
{
    AttachSettings attach;
    attach.attached =
        settings.value(QLatin1String(SourceKey)).toString().trimmed() == QLatin1String("broker");
    // The toolkit reads "brelk/+, brelk/+/+", as the README writes it, as a list of two texts.
    const QVariant stored = settings.value(QLatin1String(AttachFilterKey));
    const QString filter = (stored.userType() == QMetaType::QStringList
                                ? stored.toStringList().join(QLatin1String(", "))
                                : stored.toString())
                               .trimmed();
    if (!filter.isEmpty())
        attach.filter = normalizedMqttTopic(filter);
    attach.module = normalizedMqttTopic(settings.value(QLatin1String(AttachModuleKey)).toString());
    return attach;
}

bool storeAttachSettings(Settings &settings, const AttachSettings &attach)
{
    const auto orNull = [](const QString &value, const QString &fallback = QString()) {
        return value.isEmpty() || value == fallback ? QVariant() : QVariant(value);
    };
    return settings.store(
        {{QLatin1String(SourceKey), QLatin1String(attach.attached ? "broker" : "bridge")},
         {QLatin1String(AttachFilterKey),
          orNull(attach.filter, QLatin1String(AttachSettings::DefaultFilter))},
         {QLatin1String(AttachModuleKey), orNull(attach.module)}});
}

} // namespace Brelk
