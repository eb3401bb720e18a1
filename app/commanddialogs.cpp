#include "commanddialogs.h"

#include "display.h"

#include <QDebug>
#include <QInputDialog>

namespace Brelk {

namespace {

QChar channelLetter(int channel)
{
    return QChar('A' + channel);
}

} // namespace

WriteList askSetVoltage(QWidget *window, int channel, const ReadingForm::Values &shown)
{
    const QString label = tr("Input a Set Voltage (0...%1 V) for Channel %2")
                              .arg(SetVoltageMaximum)
                              .arg(channelLetter(channel));
    bool ok = false;
    const double volts =
        QInputDialog::getDouble(window, tr(ProgramName), label, shown.vset[channel], 0,
                                SetVoltageMaximum, DialogDecimals, &ok);
    return ok ? setVoltageWrites(channel, registerCount(volts)) : WriteList();
}

WriteList askRampSpeed(QWidget *window, int channel, const ReadingForm::Values &shown,
                       const Reading *polled)
{
    static const char *const labels[2] = {
        QT_TR_NOOP("Input a Voltage Ramp Speed (2...%1 V/s) for Channel A"),
        QT_TR_NOOP("Input a Voltage Ramp Speed (2...%1 V/s) for Channel B"),
    };
    bool ok = false;
    const double speed = QInputDialog::getDouble(
        window, tr(ProgramName), tr(labels[channel]).arg(RampSpeedMaximum),
        shown.rampSpeed[channel], RampSpeedMinimum, RampSpeedMaximum, DialogDecimals, &ok);
    return ok ? rampSpeedWrites(channel, registerCount(speed), polled) : WriteList();
}

WriteList askSoftLimitI(QWidget *window, int channel, const ReadingForm::Values &shown,
                        CurrentResolution resolution)
{
    const SoftLimitDialogScale scale = softLimitIScale(resolution);
    const QString label = tr("Input a Software current limit (0...%1 %2) for Channel %3")
                              .arg(scale.maximum)
                              .arg(scale.unit)
                              .arg(channelLetter(channel));
    bool ok = false;
    const double entered = QInputDialog::getDouble(window, tr(ProgramName), label,
                                                   shown.softLimitI[channel] * scale.factor, 0,
                                                   scale.maximum, DialogDecimals, &ok);
    if (!ok)
        return WriteList();
    const double counts = softLimitICounts(entered, scale, resolution);
    qDebug() << "Current Limit channel" << channel << "=" << counts;
    return softLimitIWrites(channel, registerCount(counts));
}

WriteList askSoftLimitI2(QWidget *window, int channel, const ReadingForm::Values &shown,
                         SecondRange range)
{
    static const char *const labels[2] = {
        QT_TR_NOOP("Input a Software current limit second range (0...%1 uA) for Channel A:"),
        QT_TR_NOOP("Input a Software current limit second range (0...%1 uA) for Channel B:"),
    };
    const double maximum = secondRangeLimitMaximum(range) * 1e6;
    bool ok = false;
    const double entered = QInputDialog::getDouble(
        window, tr(ProgramName), tr(labels[channel]).arg(maximum), shown.softLimitI2[channel] * 1e6,
        0, maximum, secondRangeLimitDecimals(range), &ok);
    if (!ok)
        return WriteList();
    const double counts = secondRangeLimitCounts(entered, range);
    if (channel == 0)
        qDebug() << "Limit I2 A = " << counts;
    return softLimitI2Writes(channel, registerCount(counts));
}

} // namespace Brelk
