#include "commandentry.h"

namespace Brelk {

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
                      const ResolutionSelection &selection, const Reading *polled)
{
    const quint16 count = registerCount(entryCounts(quantity, entered, selection));
    switch (quantity) {
    case Quantity::SetVoltage:
        return setVoltageWrites(channel, count);
    case Quantity::RampSpeed:
        return rampSpeedWrites(channel, count, polled);
    case Quantity::SoftLimitI:
        return softLimitIWrites(channel, count);
    case Quantity::SoftLimitI2:
        return softLimitI2Writes(channel, count);
    }
    return WriteList();
}

CheckedEntry checkEntry(Quantity quantity, double value, const ResolutionSelection &selection)
{
    CheckedEntry checked;
    checked.range = entryRange(quantity, selection);
    if (!checked.range.offered) {
        checked.problem = EntryProblem::NotOffered;
        return checked;
    }
    const EntryRange &range = checked.range;
    checked.entered = heldEntry(value * range.factor, range.decimals);
    // The spin box's own bounds are held to its decimals as well.
    if (!(checked.entered >= heldEntry(range.minimum, range.decimals) &&
          checked.entered <= heldEntry(range.maximum, range.decimals)))
        checked.problem = EntryProblem::OutOfRange;
    return checked;
}

} // namespace Brelk
