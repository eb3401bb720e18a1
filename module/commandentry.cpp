#include "commandentry.h"

#include <cmath>

namespace Brelk {

namespace {

// Relative slack for a product such as 0.29 * 100 = 28.999999999999996, which is 29 steps.
constexpr double WholeStepTolerance = 1e-9;

// The entry rounded down to the dialog's decimals, never below what was asked by more than one
// step; a value that is a whole step up to floating-point rounding stays that step.
double heldLimitEntry(double entered, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const double steps = entered * scale;
    return std::floor(steps * (1 + WholeStepTolerance)) / scale;
}

} // namespace

QString shortNumber(double value, int decimals)
{
    return withoutTrailingZeros(QString::number(value, 'f', decimals));
}

bool isCurrentLimit(Quantity quantity)
{
    return quantity == Quantity::SoftLimitI || quantity == Quantity::SoftLimitI2;
}

EntryRange entryRange(Quantity quantity, const ResolutionSelection &selection,
                      const VoltageCeilings &ceilings, int channel)
{
    EntryRange range = entryRange(quantity, selection);
    const std::optional<double> &ceiling = ceilings.volts[channel];
    if (quantity == Quantity::SetVoltage && ceiling && *ceiling < range.maximum) {
        // Down to the dialog's step, so that the largest entry the dialog takes is not above it.
        range.maximum = heldLimitEntry(*ceiling, range.decimals);
        range.ceiling = voltageCeilingText(ceilings, channel);
    }
    return range;
}

EntryRange entryRange(Quantity quantity, const ResolutionSelection &selection)
{
    EntryRange range;
    switch (quantity) {
    case Quantity::SetVoltage:
        range.unit = QStringLiteral("V");
        range.maximum = SetVoltageMaximum;
        break;
    case Quantity::RampSpeed:
        range.unit = QStringLiteral("V/s");
        range.minimum = RampSpeedMinimum;
        range.maximum = RampSpeedMaximum;
        break;
    case Quantity::SoftLimitI: {
        const SoftLimitDialogScale scale = softLimitIScale(selection.currentResolution);
        range.factor = scale.factor;
        range.unit = scale.unit;
        range.maximum = scale.maximum;
        break;
    }
    case Quantity::SoftLimitI2:
        range.factor = 1e6;
        range.unit = QStringLiteral("uA");
        range.offered = selection.secondRange != SecondRange::None;
        if (range.offered) {
            range.maximum = secondRangeLimitMaximum(selection.secondRange) * 1e6;
            range.decimals = secondRangeLimitDecimals(selection.secondRange);
        }
        break;
    }
    return range;
}

// QDoubleSpinBox rounds through the same decimal text.
double heldEntry(double entered, int decimals)
{
    return QString::number(entered, 'f', decimals).toDouble();
}

double entryCounts(Quantity quantity, double entered, const ResolutionSelection &selection)
{
    switch (quantity) {
    case Quantity::SetVoltage:
    case Quantity::RampSpeed:
        return entered;
    case Quantity::SoftLimitI:
        return softLimitICounts(entered, softLimitIScale(selection.currentResolution),
                                selection.currentResolution);
    case Quantity::SoftLimitI2:
        return secondRangeLimitCounts(entered, selection.secondRange);
    }
    return 0;
}

WriteList entryWrites(Quantity quantity, int channel, double entered,
                      const ResolutionSelection &selection)
{
    const quint16 count = registerCount(entryCounts(quantity, entered, selection));
    switch (quantity) {
    case Quantity::SetVoltage:
        return setVoltageWrites(channel, count);
    case Quantity::RampSpeed:
        return rampSpeedWrites(channel, count);
    case Quantity::SoftLimitI:
        return softLimitIWrites(channel, count);
    case Quantity::SoftLimitI2:
        return softLimitI2Writes(channel, count);
    }
    return WriteList();
}

CheckedEntry checkEntry(Quantity quantity, double value, const ResolutionSelection &selection)
{
    return checkEntry(quantity, value, selection, VoltageCeilings(), 0);
}

CheckedEntry checkEntry(Quantity quantity, double value, const ResolutionSelection &selection,
                        const VoltageCeilings &ceilings, int channel)
{
    CheckedEntry checked;
    checked.quantity = quantity;
    checked.range = entryRange(quantity, selection, ceilings, channel);
    if (!checked.range.offered) {
        checked.problem = EntryProblem::NotOffered;
        return checked;
    }
    const EntryRange &range = checked.range;
    const double inUnits = value * range.factor;
    if (isCurrentLimit(quantity)) {
        checked.entered = heldLimitEntry(inUnits, range.decimals);
        if (inUnits < 0) {
            checked.problem = EntryProblem::Negative;
            return checked;
        }
        if (inUnits > 0 && checked.entered <= 0) {
            checked.problem = EntryProblem::BelowOneStep;
            return checked;
        }
    } else {
        checked.entered = heldEntry(inUnits, range.decimals);
    }
    // The spin box's own bounds are held to its decimals as well.
    if (!(checked.entered >= heldEntry(range.minimum, range.decimals) &&
          checked.entered <= heldEntry(range.maximum, range.decimals)))
        checked.problem = checked.entered > range.maximum && !range.ceiling.isEmpty()
                              ? EntryProblem::AboveCeiling
                              : EntryProblem::OutOfRange;
    return checked;
}

QString entryProblemText(const CheckedEntry &entry, const QString &name)
{
    const EntryRange &range = entry.range;
    const QString maximum = shortNumber(range.maximum, range.decimals);
    switch (entry.problem) {
    case EntryProblem::None:
        break;
    case EntryProblem::NotOffered:
        return QStringLiteral("no second current range is selected");
    case EntryProblem::AboveCeiling:
        return QStringLiteral("%1 %2 %3 is above the ceiling of %4")
            .arg(name, shortNumber(entry.entered, range.decimals), range.unit, range.ceiling);
    case EntryProblem::BelowOneStep:
    case EntryProblem::Negative:
    case EntryProblem::OutOfRange:
        if (isCurrentLimit(entry.quantity)) {
            const double oneStep = std::pow(10.0, -range.decimals);
            return QStringLiteral("%1 takes 0 (no limit) or %2 to %3 %4")
                .arg(name, shortNumber(oneStep, range.decimals), maximum, range.unit);
        }
        return QStringLiteral("%1 takes %2 to %3 %4")
            .arg(name, shortNumber(range.minimum, range.decimals), maximum, range.unit);
    }
    return QString();
}

} // namespace Brelk
