#include "commands.h"

#include "display.h"

#include <cmath>
#include <limits>

namespace Brelk {

namespace {

// Relative distance below which a value counts as the whole number next to it. Entries have
// one decimal, so a genuine fraction is at least a tenth of a count away.
constexpr double WholeCountTolerance = 1e-9;

} // namespace

quint16 registerCount(double value)
{
    if (!(value > 0)) // also catches NaN
        return 0;
    double count = std::trunc(value);
    const double nearest = std::round(value);
    if (std::abs(value - nearest) <= WholeCountTolerance * nearest)
        count = nearest;
    return quint16(std::min(count, double(std::numeric_limits<quint16>::max())));
}

SoftLimitDialogScale softLimitIScale(CurrentResolution resolution)
{
    SoftLimitDialogScale scale;
    if (firstRangeInMilliamps(resolution)) {
        scale.unit = QStringLiteral("mA");
        scale.factor = 1e3;
    } else {
        scale.unit = QStringLiteral("uA");
        scale.factor = 1e6;
    }
    // The largest one-decimal entry whose count still fits the register.
    const double registerLimit =
        std::floor(std::numeric_limits<quint16>::max() * amperesPerCount(resolution) *
                   scale.factor * 10 * (1 + WholeCountTolerance)) /
        10;
    scale.maximum = std::min(0.006 * scale.factor, registerLimit);
    return scale;
}

double softLimitICounts(double entered, const SoftLimitDialogScale &scale,
                        CurrentResolution resolution)
{
    const double amperes = entered / scale.factor;
    return amperes / amperesPerCount(resolution);
}

double secondRangeLimitMaximum(SecondRange range)
{
    return range == SecondRange::pA100 ? 6.55e-6 : 6.55e-5;
}

int secondRangeLimitDecimals(SecondRange range)
{
    return range == SecondRange::pA100 ? 2 : DialogDecimals;
}

double secondRangeLimitCounts(double enteredMicroamps, SecondRange range)
{
    const double amperes = enteredMicroamps / 1e6;
    return amperes / amperesPerCount(range);
}

WriteList setVoltageWrites(int channel, quint16 count)
{
    return {{regVsetWrite[channel], count}};
}

WriteList rampSpeedWrites(int channel, quint16 count)
{
    return {{regRamp[channel], count}, setVoltageResend(channel)};
}

RegisterWrite setVoltageResend(int channel)
{
    return {regVsetWrite[channel], 0, true};
}

WriteList softLimitIWrites(int channel, quint16 count)
{
    return {{regSoftLimitI[channel], count}};
}

WriteList softLimitI2Writes(int channel, quint16 count)
{
    return {{regSoftLimitI2[channel], count}};
}

QString voltageCeilingText(const VoltageCeilings &ceilings, int channel)
{
    if (!ceilings.volts[channel])
        return QString();
    return QStringLiteral("%1 V (%2)")
        .arg(QString::number(*ceilings.volts[channel], 'g', 10),
             QLatin1String(VoltageCeilingKeys[channel]));
}

QString ceilingProblem(const WriteList &writes, const VoltageCeilings &ceilings)
{
    for (const RegisterWrite &write : writes) {
        for (int ch = 0; ch < 2; ++ch) {
            if (write.reg != regVsetWrite[ch] || write.resendsSetVoltage || !ceilings.volts[ch])
                continue;
            const double volts = write.word * VoltsPerCount;
            if (volts > *ceilings.volts[ch]) {
                return QStringLiteral("channel %1 Vset %2 V is above the ceiling of %3")
                    .arg(QChar('A' + ch))
                    .arg(volts)
                    .arg(voltageCeilingText(ceilings, ch));
            }
        }
    }
    return QString();
}

} // namespace Brelk
