#include "commanddialogs.h"

#include "commandentry.h"
#include "display.h"

#include <QDebug>
#include <QInputDialog>

namespace Brelk {

namespace {

QChar channelLetter(int channel)
{
    return QChar('A' + channel);
}

// An entry confirmed in a dialog goes through the checks of a command from anywhere else, so that
// it is rounded and converted the same way; one the checks refuse writes nothing.
WriteList checkedWrites(Quantity quantity, int channel, double entered,
                        const ResolutionSelection &selection,
                        const VoltageCeilings &ceilings = VoltageCeilings())
{
    const CheckedEntry checked = checkEntry(
        quantity, entered / entryRange(quantity, selection).factor, selection, ceilings, channel);
    if (checked.problem != EntryProblem::None)
        return WriteList();
    return entryWrites(quantity, channel, checked.entered, selection);
}

} // namespace

// The range, decimals and conversion of each dialog come from entryRange() and checkEntry(),
// which also check and convert the same commands when they arrive from elsewhere.

WriteList askSetVoltage(QWidget *window, int channel, const ReadingForm::Values &shown,
                        const VoltageCeilings &ceilings)
{
    const EntryRange range =
        entryRange(Quantity::SetVoltage, ResolutionSelection(), ceilings, channel);
    const QString label = tr("Input a Set Voltage (0...%1 V) for Channel %2")
                              .arg(range.maximum)
                              .arg(channelLetter(channel));
    bool ok = false;
    const double volts =
        QInputDialog::getDouble(window, tr(ProgramName), label, shown.vset[channel], range.minimum,
                                range.maximum, range.decimals, &ok);
    return ok ? checkedWrites(Quantity::SetVoltage, channel, volts, ResolutionSelection(), ceilings)
              : WriteList();
}

QString setVoltageToolTip(int channel, const VoltageCeilings &ceilings)
{
    const EntryRange range =
        entryRange(Quantity::SetVoltage, ResolutionSelection(), ceilings, channel);
    return range.ceiling.isEmpty() ? QString() : tr("Highest set voltage: %1").arg(range.ceiling);
}

WriteList askRampSpeed(QWidget *window, int channel, const ReadingForm::Values &shown)
{
    static const char *const labels[2] = {
        QT_TR_NOOP("Input a Voltage Ramp Speed (2...%1 V/s) for Channel A"),
        QT_TR_NOOP("Input a Voltage Ramp Speed (2...%1 V/s) for Channel B"),
    };
    const EntryRange range = entryRange(Quantity::RampSpeed, ResolutionSelection());
    bool ok = false;
    const double speed = QInputDialog::getDouble(
        window, tr(ProgramName), tr(labels[channel]).arg(range.maximum), shown.rampSpeed[channel],
        range.minimum, range.maximum, range.decimals, &ok);
    return ok ? checkedWrites(Quantity::RampSpeed, channel, speed, ResolutionSelection())
              : WriteList();
}

WriteList askSoftLimitI(QWidget *window, int channel, const ReadingForm::Values &shown,
                        CurrentResolution resolution)
{
    ResolutionSelection selection;
    selection.currentResolution = resolution;
    const EntryRange range = entryRange(Quantity::SoftLimitI, selection);
    const QString label = tr("Input a Software current limit (0...%1 %2) for Channel %3")
                              .arg(range.maximum)
                              .arg(range.unit)
                              .arg(channelLetter(channel));
    bool ok = false;
    const double entered = QInputDialog::getDouble(
        window, tr(ProgramName), label, shown.softLimitI[channel] * range.factor, range.minimum,
        range.maximum, range.decimals, &ok);
    if (!ok)
        return WriteList();
    qDebug() << "Current Limit channel" << channel << "="
             << entryCounts(Quantity::SoftLimitI, entered, selection);
    return checkedWrites(Quantity::SoftLimitI, channel, entered, selection);
}

WriteList askSoftLimitI2(QWidget *window, int channel, const ReadingForm::Values &shown,
                         SecondRange range)
{
    static const char *const labels[2] = {
        QT_TR_NOOP("Input a Software current limit second range (0...%1 uA) for Channel A:"),
        QT_TR_NOOP("Input a Software current limit second range (0...%1 uA) for Channel B:"),
    };
    ResolutionSelection selection;
    selection.secondRange = range;
    const EntryRange entry = entryRange(Quantity::SoftLimitI2, selection);
    bool ok = false;
    const double entered =
        QInputDialog::getDouble(window, tr(ProgramName), tr(labels[channel]).arg(entry.maximum),
                                shown.softLimitI2[channel] * entry.factor, entry.minimum,
                                entry.maximum, entry.decimals, &ok);
    if (!ok)
        return WriteList();
    if (channel == 0)
        qDebug() << "Limit I2 A = " << entryCounts(Quantity::SoftLimitI2, entered, selection);
    return checkedWrites(Quantity::SoftLimitI2, channel, entered, selection);
}

} // namespace Brelk
