#include "reading.h"

#include "display.h"

#include <QDateTime>

namespace Brelk {

namespace {

// Powers of ten of one count, as exact exponents.
int voltsExponent(bool fineVoltage)
{
    return fineVoltage ? -1 : 0;
}

} // namespace

ResolutionSelection selectionOf(const Reading &reading)
{
    ResolutionSelection selection;
    selection.fineVoltage = reading.fineVoltage;
    selection.currentResolution = reading.currentResolution;
    selection.secondRange = reading.secondRange;
    return selection;
}

bool sameWords(const Reading &a, const Reading &b)
{
    const auto pair = [](const quint16(&x)[2], const quint16(&y)[2]) {
        return x[0] == y[0] && x[1] == y[1];
    };
    return a.serialNumber == b.serialNumber && pair(a.vset, b.vset) && pair(a.ramp, b.ramp) &&
           pair(a.vmeas, b.vmeas) && pair(a.imeas, b.imeas) && pair(a.imeas2, b.imeas2) &&
           a.status == b.status && a.events == b.events && pair(a.limits, b.limits) &&
           pair(a.softLimitI, b.softLimitI) && pair(a.softLimitI2, b.softLimitI2) &&
           selectionOf(a) == selectionOf(b);
}

QString selectionText(const ResolutionSelection &selection)
{
    return QStringLiteral("%1 / %2 / %3")
        .arg(voltageResolutionName(selection.fineVoltage),
             currentResolutionName(selection.currentResolution),
             secondRangeName(selection.secondRange));
}

double setVolts(const Reading &reading, int channel)
{
    return reading.vset[channel] * VoltsPerCount;
}

double rampVoltsPerSecond(const Reading &reading, int channel)
{
    return reading.ramp[channel] * VoltsPerSecondPerCount;
}

double measuredVolts(const Reading &reading, int channel)
{
    return reading.fineVoltage ? reading.vmeas[channel] * FineVoltsPerCount
                               : reading.vmeas[channel] * VoltsPerCount;
}

double measuredAmperes(const Reading &reading, int channel)
{
    int unusedDecimals = 0;
    return scaleCurrent(reading.imeas[channel], reading.currentResolution, unusedDecimals);
}

double secondRangeAmperes(const Reading &reading, int channel)
{
    return reading.imeas2[channel] * amperesPerCount(reading.secondRange);
}

double softLimitAmperes(const Reading &reading, int channel)
{
    int unusedDecimals = 0;
    return scaleCurrent(reading.softLimitI[channel], reading.currentResolution, unusedDecimals);
}

double secondRangeLimitAmperes(const Reading &reading, int channel)
{
    return reading.softLimitI2[channel] * amperesPerCount(reading.secondRange);
}

QString withoutTrailingZeros(QString text)
{
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text;
}

QString decimalText(qint64 count, int exponent)
{
    const bool negative = count < 0;
    QString digits = QString::number(negative ? -count : count);
    if (exponent > 0) {
        if (count != 0)
            digits += QString(exponent, QLatin1Char('0'));
    } else if (exponent < 0) {
        const int places = -exponent;
        if (digits.size() <= places)
            digits.prepend(QString(places - digits.size() + 1, QLatin1Char('0')));
        digits.insert(digits.size() - places, QLatin1Char('.'));
        digits = withoutTrailingZeros(digits);
    }
    if (negative && digits != QLatin1String("0"))
        digits.prepend(QLatin1Char('-'));
    return digits;
}

QString setVoltsDecimal(const Reading &reading, int channel)
{
    return decimalText(reading.vset[channel], 0);
}

QString rampDecimal(const Reading &reading, int channel)
{
    return decimalText(reading.ramp[channel], 0);
}

QString measuredVoltsDecimal(const Reading &reading, int channel)
{
    return decimalText(reading.vmeas[channel], voltsExponent(reading.fineVoltage));
}

QString measuredAmperesDecimal(const Reading &reading, int channel)
{
    return decimalText(reading.imeas[channel], amperesExponent(reading.currentResolution));
}

QString secondRangeAmperesDecimal(const Reading &reading, int channel)
{
    if (reading.secondRange == SecondRange::None)
        return QString();
    return decimalText(reading.imeas2[channel], amperesExponent(reading.secondRange));
}

QString softLimitAmperesDecimal(const Reading &reading, int channel)
{
    return decimalText(reading.softLimitI[channel], amperesExponent(reading.currentResolution));
}

QString secondRangeLimitAmperesDecimal(const Reading &reading, int channel)
{
    if (reading.secondRange == SecondRange::None)
        return QString();
    return decimalText(reading.softLimitI2[channel], amperesExponent(reading.secondRange));
}

QString isoLocalTime(qint64 msecsSinceEpoch)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, Qt::LocalTime);
    const int offsetMinutes = local.offsetFromUtc() / 60;
    const int magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QString::asprintf("%c%02d:%02d", offsetMinutes < 0 ? '-' : '+', magnitude / 60,
                             magnitude % 60);
}

QString voltageResolutionName(bool fineVoltage)
{
    return fineVoltage ? QStringLiteral("100mV") : QStringLiteral("1V");
}

QString currentResolutionName(CurrentResolution resolution)
{
    switch (resolution) {
    case CurrentResolution::uA1:
        return QStringLiteral("1uA");
    case CurrentResolution::nA100:
        return QStringLiteral("100nA");
    case CurrentResolution::nA10:
        return QStringLiteral("10nA");
    case CurrentResolution::nA1:
        break;
    }
    return QStringLiteral("1nA");
}

QString secondRangeName(SecondRange range)
{
    switch (range) {
    case SecondRange::nA1:
        return QStringLiteral("1nA");
    case SecondRange::pA100:
        return QStringLiteral("100pA");
    case SecondRange::None:
        break;
    }
    return QStringLiteral("none");
}

bool parseVoltageResolution(const QString &name, bool *fineVoltage)
{
    for (bool fine : {false, true}) {
        if (name == voltageResolutionName(fine)) {
            *fineVoltage = fine;
            return true;
        }
    }
    return false;
}

bool parseCurrentResolution(const QString &name, CurrentResolution *resolution)
{
    for (CurrentResolution candidate : {CurrentResolution::uA1, CurrentResolution::nA100,
                                        CurrentResolution::nA10, CurrentResolution::nA1}) {
        if (name == currentResolutionName(candidate)) {
            *resolution = candidate;
            return true;
        }
    }
    return false;
}

bool parseSecondRange(const QString &name, SecondRange *range)
{
    for (SecondRange candidate : {SecondRange::None, SecondRange::nA1, SecondRange::pA100}) {
        if (name == secondRangeName(candidate)) {
            *range = candidate;
            return true;
        }
    }
    return false;
}

} // namespace Brelk
