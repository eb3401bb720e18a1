#include "setpointfile.h"

#include "commands.h"
#include "display.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

namespace Brelk {

namespace {

const char *const ModuleGroup = "Module";
const char *const ChannelGroups[2] = {"A", "B"};
const char *const FormatKey = "Format";
const char *const KnownFormat = "1";

QString entryName(const QString &group, const QString &key)
{
    return QStringLiteral("[%1] %2").arg(group, key);
}

// A section or key name as the toolkit decodes it: "%XX" and "%UXXXX" are characters, "\\"
// is "/".
QString decodedName(const QString &raw)
{
    QString name;
    for (int i = 0; i < raw.size(); ++i) {
        const QChar ch = raw.at(i);
        if (ch == QLatin1Char('\\')) {
            name += QLatin1Char('/');
            continue;
        }
        if (ch == QLatin1Char('%')) {
            const bool wide = raw.mid(i + 1, 1) == QLatin1String("U");
            const int first = i + (wide ? 2 : 1);
            const QString digits = raw.mid(first, wide ? 4 : 2);
            bool ok = false;
            const ushort code = digits.toUShort(&ok, 16);
            if (ok && digits.size() == (wide ? 4 : 2)) {
                name += QChar(code);
                i = first + digits.size() - 1;
                continue;
            }
        }
        name += ch;
    }
    return name;
}

// The file's entries as its lines spell them, the way the operator reads them in an editor:
// for each entry ("A/VsetCount") the value of every line that sets it, as written. The toolkit
// would let the last of several lines win silently and would turn "@ByteArray(1500)" into 1500;
// here both stay visible, so that the check can refuse them.
class FileEntries
{
public:
    explicit FileEntries(const QByteArray &contents)
    {
        QString text = QString::fromUtf8(contents);
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        QString section;
        static const QRegularExpression lineEnd(QStringLiteral("[\r\n]"));
        for (QString line : text.split(lineEnd)) {
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
                continue;
            if (line.startsWith(QLatin1Char('['))) {
                const int end = line.indexOf(QLatin1Char(']'));
                section = line.mid(1, end < 0 ? -1 : end - 1).trimmed();
                if (section.compare(QLatin1String("general"), Qt::CaseInsensitive) == 0)
                    section.clear();
                else if (section.compare(QLatin1String("%general"), Qt::CaseInsensitive) == 0)
                    section = section.mid(1);
                else
                    section = decodedName(section);
                continue;
            }
            const int equals = line.indexOf(QLatin1Char('='));
            if (equals < 0)
                continue;
            const QString key = decodedName(line.left(equals).trimmed());
            const QString path = section.isEmpty() ? key : section + QLatin1Char('/') + key;
            // A comment may follow the value.
            const QString value = line.mid(equals + 1).section(QLatin1Char(';'), 0, 0).trimmed();
            if (!values.contains(path))
                order << path;
            values[path] << value;
        }
    }

    // The first entry set on more than one line, as "[A] VsetCount"; empty when there is none.
    QString duplicate() const
    {
        for (const QString &path : order) {
            if (values.value(path).size() > 1) {
                const int slash = path.lastIndexOf(QLatin1Char('/'));
                return entryName(slash < 0 ? QStringLiteral("General") : path.left(slash),
                                 path.mid(slash + 1));
            }
        }
        return QString();
    }
    bool contains(const QString &group, const QString &key) const
    {
        return values.contains(group + QLatin1Char('/') + key);
    }
    QString value(const QString &group, const QString &key) const
    {
        return values.value(group + QLatin1Char('/') + key).value(0);
    }

private:
    QHash<QString, QStringList> values;
    QStringList order;
};

// Reads one count of the file. It must be there, be a whole decimal number as written and lie
// within the range; anything else leaves `problem` naming the entry.
bool readCount(const FileEntries &entries, const QString &group, const QString &key, int minimum,
               int maximum, quint16 *count, QString *problem)
{
    const QString entry = entryName(group, key);
    if (!entries.contains(group, key)) {
        *problem = tr("%1 is missing.").arg(entry);
        return false;
    }
    const QString text = entries.value(group, key);
    static const QRegularExpression wholeNumber(QStringLiteral("^[+-]?[0-9]+$"));
    if (!wholeNumber.match(text).hasMatch()) {
        *problem = tr("%1 \"%2\" is not a whole decimal number.").arg(entry, text);
        return false;
    }
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok);
    if (!ok || number < minimum || number > maximum) {
        *problem = tr("%1 = %2 is outside %3...%4.").arg(entry, text).arg(minimum).arg(maximum);
        return false;
    }
    *count = quint16(number);
    return true;
}

// Reads one resolution name of the [Module] group with its parser.
template <typename Value>
bool readName(const FileEntries &entries, const char *key, bool (*parse)(const QString &, Value *),
              const QStringList &known, Value *value, QString *problem)
{
    const QString group = QLatin1String(ModuleGroup);
    const QString entry = entryName(group, QLatin1String(key));
    if (!entries.contains(group, QLatin1String(key))) {
        *problem = tr("%1 is missing: this is not a set-point file.").arg(entry);
        return false;
    }
    const QString text = entries.value(group, QLatin1String(key));
    if (!parse(text, value)) {
        *problem =
            tr("%1 \"%2\" is not one of %3.").arg(entry, text, known.join(QLatin1String(", ")));
        return false;
    }
    return true;
}

} // namespace

SetPoints setPointsOf(const Reading &reading, quint32 baseAddress)
{
    SetPoints setPoints;
    setPoints.serialText = QString::number(reading.serialNumber, 16);
    setPoints.baseAddress = baseAddressText(baseAddress);
    setPoints.saved = isoLocalTime(reading.time);
    setPoints.selection = selectionOf(reading);
    setPoints.hasLimitI2 = reading.secondRange != SecondRange::None;
    for (int ch = 0; ch < 2; ++ch) {
        setPoints.vset[ch] = reading.vset[ch];
        setPoints.ramp[ch] = reading.ramp[ch];
        setPoints.limitI[ch] = reading.softLimitI[ch];
        setPoints.limitI2[ch] = reading.softLimitI2[ch];
    }
    return setPoints;
}

bool writeSetPointFile(const QString &path, const SetPoints &setPoints, QString *problem)
{
    // The toolkit formats the file in a scratch folder of its own, so that it never reads what
    // the path held before: neither the keys of an older file (such as a second-range limit)
    // nor the parse error of a file that is no INI file reach the new file or the result. The
    // file at the path is then replaced in one step, and its own errors are the ones reported.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        *problem = tr("No scratch folder for writing it: %1.").arg(scratch.errorString());
        return false;
    }
    const QString formattedPath = scratch.filePath(QStringLiteral("setpoints.ini"));
    QSettings settings(formattedPath, QSettings::IniFormat);
    settings.beginGroup(QLatin1String(ModuleGroup));
    settings.setValue(QLatin1String(FormatKey), QLatin1String(KnownFormat));
    settings.setValue(QStringLiteral("Serial"), setPoints.serialText);
    settings.setValue(QStringLiteral("BaseAddress"), setPoints.baseAddress);
    settings.setValue(QStringLiteral("Saved"), setPoints.saved);
    settings.setValue(QStringLiteral("VoltageResolution"),
                      voltageResolutionName(setPoints.selection.fineVoltage));
    settings.setValue(QStringLiteral("CurrentResolution"),
                      currentResolutionName(setPoints.selection.currentResolution));
    settings.setValue(QStringLiteral("SecondRange"),
                      secondRangeName(setPoints.selection.secondRange));
    settings.endGroup();

    for (int ch = 0; ch < 2; ++ch) {
        settings.beginGroup(QLatin1String(ChannelGroups[ch]));
        settings.setValue(QStringLiteral("VsetCount"), int(setPoints.vset[ch]));
        settings.setValue(QStringLiteral("RampCount"), int(setPoints.ramp[ch]));
        settings.setValue(QStringLiteral("LimitICount"), int(setPoints.limitI[ch]));
        // The texts are for the reader; a restore uses the counts only.
        settings.setValue(
            QStringLiteral("Vset"),
            quantityText(SetPointQuantity::SetVoltage, setPoints.vset[ch], setPoints.selection));
        settings.setValue(
            QStringLiteral("Ramp"),
            quantityText(SetPointQuantity::RampSpeed, setPoints.ramp[ch], setPoints.selection));
        settings.setValue(
            QStringLiteral("LimitI"),
            quantityText(SetPointQuantity::Limit, setPoints.limitI[ch], setPoints.selection));
        if (setPoints.hasLimitI2) {
            settings.setValue(QStringLiteral("LimitI2Count"), int(setPoints.limitI2[ch]));
            settings.setValue(QStringLiteral("LimitI2"),
                              quantityText(SetPointQuantity::SecondRangeLimit,
                                           setPoints.limitI2[ch], setPoints.selection));
        }
        settings.endGroup();
    }

    settings.sync();
    QFile formatted(formattedPath);
    if (settings.status() != QSettings::NoError || !formatted.open(QIODevice::ReadOnly)) {
        *problem = tr("The file could not be written: its text could not be formatted.");
        return false;
    }
    const QByteArray contents = formatted.readAll();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() ||
        !file.commit()) {
        *problem = tr("The file could not be written: %1.").arg(file.errorString());
        return false;
    }
    return true;
}

bool readSetPointFile(const QString &path, const ResolutionSelection &panel, SetPoints *setPoints,
                      QString *problem)
{
    // The toolkit reads a missing or unreadable file as an empty one; that is not a set-point
    // file either, but the operator should learn the real reason.
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        *problem = tr("The file cannot be read.");
        return false;
    }
    const FileEntries entries(file.readAll());
    file.close();

    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        *problem = tr("The file is not an INI file: this is not a set-point file.");
        return false;
    }
    // Of two lines for one entry the operator may have read either.
    const QString duplicate = entries.duplicate();
    if (!duplicate.isEmpty()) {
        *problem = tr("%1 is set on more than one line.").arg(duplicate);
        return false;
    }

    SetPoints result;
    const QString moduleGroup = QLatin1String(ModuleGroup);
    const QString formatEntry = entryName(moduleGroup, QLatin1String(FormatKey));
    if (!entries.contains(moduleGroup, QLatin1String(FormatKey))) {
        *problem = tr("%1 is missing: this is not a set-point file.").arg(formatEntry);
        return false;
    }
    const QString format = entries.value(moduleGroup, QLatin1String(FormatKey));
    if (format != QLatin1String(KnownFormat)) {
        *problem = tr("%1 \"%2\" is not a known format; this program reads format %3.")
                       .arg(formatEntry, format, QLatin1String(KnownFormat));
        return false;
    }

    if (!readName(entries, "VoltageResolution", &parseVoltageResolution,
                  {voltageResolutionName(false), voltageResolutionName(true)},
                  &result.selection.fineVoltage, problem))
        return false;
    if (!readName(entries, "CurrentResolution", &parseCurrentResolution,
                  {currentResolutionName(CurrentResolution::uA1),
                   currentResolutionName(CurrentResolution::nA100),
                   currentResolutionName(CurrentResolution::nA10),
                   currentResolutionName(CurrentResolution::nA1)},
                  &result.selection.currentResolution, problem))
        return false;
    if (!readName(entries, "SecondRange", &parseSecondRange,
                  {secondRangeName(SecondRange::None), secondRangeName(SecondRange::nA1),
                   secondRangeName(SecondRange::pA100)},
                  &result.selection.secondRange, problem))
        return false;
    result.serialText = entries.value(moduleGroup, QStringLiteral("Serial"));
    result.baseAddress = entries.value(moduleGroup, QStringLiteral("BaseAddress"));
    result.saved = entries.value(moduleGroup, QStringLiteral("Saved"));

    // The ranges are those of the panel's selection, under which the counts will be written.
    const int limitIMaximum = maximumLimitICount(panel.currentResolution);
    for (int ch = 0; ch < 2; ++ch) {
        const QString group = QLatin1String(ChannelGroups[ch]);
        if (!readCount(entries, group, QStringLiteral("VsetCount"), 0, maximumVsetCount(),
                       &result.vset[ch], problem) ||
            !readCount(entries, group, QStringLiteral("RampCount"), minimumRampCount(),
                       maximumRampCount(), &result.ramp[ch], problem) ||
            !readCount(entries, group, QStringLiteral("LimitICount"), 0, limitIMaximum,
                       &result.limitI[ch], problem))
            return false;
    }

    const bool fileHasLimitI2 =
        entries.contains(QLatin1String(ChannelGroups[0]), QStringLiteral("LimitI2Count")) ||
        entries.contains(QLatin1String(ChannelGroups[1]), QStringLiteral("LimitI2Count"));
    result.hasLimitI2 = fileHasLimitI2 && panel.secondRange != SecondRange::None;
    if (result.hasLimitI2) {
        const int limitI2Maximum = maximumLimitI2Count(panel.secondRange);
        for (int ch = 0; ch < 2; ++ch) {
            if (!readCount(entries, QLatin1String(ChannelGroups[ch]),
                           QStringLiteral("LimitI2Count"), 0, limitI2Maximum, &result.limitI2[ch],
                           problem))
                return false;
        }
    }

    *setPoints = result;
    return true;
}

QString setPointCeilingProblem(const SetPoints &setPoints, const VoltageCeilings &ceilings)
{
    for (int ch = 0; ch < 2; ++ch) {
        const std::optional<double> &ceiling = ceilings.volts[ch];
        if (ceiling && setPoints.vset[ch] * VoltsPerCount > *ceiling) {
            return tr("%1 = %2 is above the ceiling of %3.")
                .arg(entryName(QLatin1String(ChannelGroups[ch]), QStringLiteral("VsetCount")))
                .arg(setPoints.vset[ch])
                .arg(voltageCeilingText(ceilings, ch));
        }
    }
    return QString();
}

quint16 maximumVsetCount()
{
    return registerCount(SetVoltageMaximum / VoltsPerCount);
}

quint16 minimumRampCount()
{
    return registerCount(RampSpeedMinimum / VoltsPerSecondPerCount);
}

quint16 maximumRampCount()
{
    return registerCount(RampSpeedMaximum / VoltsPerSecondPerCount);
}

quint16 maximumLimitICount(CurrentResolution resolution)
{
    const SoftLimitDialogScale scale = softLimitIScale(resolution);
    return registerCount(softLimitICounts(scale.maximum, scale, resolution));
}

quint16 maximumLimitI2Count(SecondRange range)
{
    return registerCount(secondRangeLimitCounts(secondRangeLimitMaximum(range) * 1e6, range));
}

RestorePlan planRestore(const SetPoints &setPoints, const Reading &reading)
{
    RestorePlan plan;
    const auto changes = [&plan](int ch, SetPointQuantity quantity, quint16 now, quint16 after) {
        if (now == after)
            return false;
        plan.changes.append({ch, quantity, now, after});
        return true;
    };

    if (setPoints.hasLimitI2) {
        for (int ch = 0; ch < 2; ++ch) {
            if (changes(ch, SetPointQuantity::SecondRangeLimit, reading.softLimitI2[ch],
                        setPoints.limitI2[ch]))
                plan.writes += softLimitI2Writes(ch, setPoints.limitI2[ch]);
        }
    }
    for (int ch = 0; ch < 2; ++ch) {
        if (changes(ch, SetPointQuantity::Limit, reading.softLimitI[ch], setPoints.limitI[ch]))
            plan.writes += softLimitIWrites(ch, setPoints.limitI[ch]);
    }
    for (int ch = 0; ch < 2; ++ch) {
        if (changes(ch, SetPointQuantity::RampSpeed, reading.ramp[ch], setPoints.ramp[ch])) {
            plan.writes += rampSpeedWrites(ch, setPoints.ramp[ch]);
        }
    }
    for (int ch = 0; ch < 2; ++ch) {
        if (changes(ch, SetPointQuantity::SetVoltage, reading.vset[ch], setPoints.vset[ch]))
            plan.writes += setVoltageWrites(ch, setPoints.vset[ch]);
    }
    return plan;
}

QStringList restoreNotes(const SetPoints &setPoints, const ResolutionSelection &panel,
                         quint16 serialNumber)
{
    QStringList notes;
    if (setPoints.selection != panel) {
        notes << tr("The file was saved with the resolution selection %1, the panel has %2: the "
                    "counts are written as they are and mean other values here.")
                     .arg(selectionText(setPoints.selection), selectionText(panel));
    }
    bool ok = false;
    const uint fileSerial = setPoints.serialText.toUInt(&ok, 16);
    if (!ok || fileSerial != serialNumber) {
        notes << tr("The file was saved from module serial number %1, this is module %2.")
                     .arg(setPoints.serialText.isEmpty() ? tr("(none)") : setPoints.serialText,
                          QString::number(serialNumber, 16));
    }
    if (!setPoints.hasLimitI2)
        notes << tr("The second-range current limits are left as they are.");
    return notes;
}

QString quantityName(SetPointQuantity quantity)
{
    switch (quantity) {
    case SetPointQuantity::SecondRangeLimit:
        return tr("Current limit 2nd range");
    case SetPointQuantity::Limit:
        return tr("Current limit");
    case SetPointQuantity::RampSpeed:
        return tr("Ramp speed");
    case SetPointQuantity::SetVoltage:
        break;
    }
    return tr("Set voltage");
}

QString quantityText(SetPointQuantity quantity, quint16 count, const ResolutionSelection &selection)
{
    int unusedDecimals = 0;
    switch (quantity) {
    case SetPointQuantity::SecondRangeLimit:
        return secondRangeLimitText(count * amperesPerCount(selection.secondRange),
                                    selection.secondRange);
    case SetPointQuantity::Limit:
        return softLimitText(scaleCurrent(count, selection.currentResolution, unusedDecimals),
                             selection.currentResolution);
    case SetPointQuantity::RampSpeed:
        return rampSpeedText(count * VoltsPerSecondPerCount);
    case SetPointQuantity::SetVoltage:
        break;
    }
    return voltsText(count * VoltsPerCount);
}

} // namespace Brelk
