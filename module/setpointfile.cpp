#include "setpointfile.h"

#include "commands.h"
#include "display.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

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

// Reads one count of the file. It must be there, be a whole decimal number and lie within the
// range; anything else leaves `problem` naming the entry.
bool readCount(QSettings &settings, const QString &group, const QString &key, int minimum,
               int maximum, quint16 *count, QString *problem)
{
    const QString entry = entryName(group, key);
    const QString path = group + QLatin1Char('/') + key;
    if (!settings.contains(path)) {
        *problem = tr("%1 is missing.").arg(entry);
        return false;
    }
    const QVariant value = settings.value(path);
    // An unquoted comma makes the toolkit read a list of texts.
    const QString text = value.userType() == QMetaType::QStringList
                             ? value.toStringList().join(QLatin1Char(','))
                             : value.toString().trimmed();
    static const QRegularExpression wholeNumber(QStringLiteral("^[+-]?[0-9]+$"));
    if (value.userType() == QMetaType::QStringList || !wholeNumber.match(text).hasMatch()) {
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
bool readName(QSettings &settings, const char *key, bool (*parse)(const QString &, Value *),
              const QStringList &known, Value *value, QString *problem)
{
    const QString entry = entryName(QLatin1String(ModuleGroup), QLatin1String(key));
    const QString path = QLatin1String(ModuleGroup) + QLatin1Char('/') + QLatin1String(key);
    if (!settings.contains(path)) {
        *problem = tr("%1 is missing: this is not a set-point file.").arg(entry);
        return false;
    }
    const QString text = settings.value(path).toString();
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
    QSettings settings(path, QSettings::IniFormat);
    // Keys of an older file at the same place, such as a second-range limit, must not survive.
    settings.clear();
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
    if (settings.status() != QSettings::NoError) {
        *problem = tr("The file could not be written.");
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
    file.close();

    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        *problem = tr("The file is not an INI file: this is not a set-point file.");
        return false;
    }

    SetPoints result;
    const QString formatPath =
        QLatin1String(ModuleGroup) + QLatin1Char('/') + QLatin1String(FormatKey);
    const QString formatEntry = entryName(QLatin1String(ModuleGroup), QLatin1String(FormatKey));
    if (!settings.contains(formatPath)) {
        *problem = tr("%1 is missing: this is not a set-point file.").arg(formatEntry);
        return false;
    }
    const QString format = settings.value(formatPath).toString().trimmed();
    if (format != QLatin1String(KnownFormat)) {
        *problem = tr("%1 \"%2\" is not a known format; this program reads format %3.")
                       .arg(formatEntry, format, QLatin1String(KnownFormat));
        return false;
    }

    if (!readName(settings, "VoltageResolution", &parseVoltageResolution,
                  {voltageResolutionName(false), voltageResolutionName(true)},
                  &result.selection.fineVoltage, problem))
        return false;
    if (!readName(settings, "CurrentResolution", &parseCurrentResolution,
                  {currentResolutionName(CurrentResolution::uA1),
                   currentResolutionName(CurrentResolution::nA100),
                   currentResolutionName(CurrentResolution::nA10),
                   currentResolutionName(CurrentResolution::nA1)},
                  &result.selection.currentResolution, problem))
        return false;
    if (!readName(settings, "SecondRange", &parseSecondRange,
                  {secondRangeName(SecondRange::None), secondRangeName(SecondRange::nA1),
                   secondRangeName(SecondRange::pA100)},
                  &result.selection.secondRange, problem))
        return false;
    result.serialText = settings.value(QStringLiteral("Module/Serial")).toString();
    result.baseAddress = settings.value(QStringLiteral("Module/BaseAddress")).toString();
    result.saved = settings.value(QStringLiteral("Module/Saved")).toString();

    // The ranges are those of the panel's selection, under which the counts will be written.
    const int limitIMaximum = maximumLimitICount(panel.currentResolution);
    for (int ch = 0; ch < 2; ++ch) {
        const QString group = QLatin1String(ChannelGroups[ch]);
        if (!readCount(settings, group, QStringLiteral("VsetCount"), 0, maximumVsetCount(),
                       &result.vset[ch], problem) ||
            !readCount(settings, group, QStringLiteral("RampCount"), minimumRampCount(),
                       maximumRampCount(), &result.ramp[ch], problem) ||
            !readCount(settings, group, QStringLiteral("LimitICount"), 0, limitIMaximum,
                       &result.limitI[ch], problem))
            return false;
    }

    const bool fileHasLimitI2 = settings.contains(QStringLiteral("A/LimitI2Count")) ||
                                settings.contains(QStringLiteral("B/LimitI2Count"));
    result.hasLimitI2 = fileHasLimitI2 && panel.secondRange != SecondRange::None;
    if (result.hasLimitI2) {
        const int limitI2Maximum = maximumLimitI2Count(panel.secondRange);
        for (int ch = 0; ch < 2; ++ch) {
            if (!readCount(settings, QLatin1String(ChannelGroups[ch]),
                           QStringLiteral("LimitI2Count"), 0, limitI2Maximum, &result.limitI2[ch],
                           problem))
                return false;
        }
    }

    *setPoints = result;
    return true;
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
            plan.writes += rampSpeedWrites(ch, setPoints.ramp[ch], &reading);
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
