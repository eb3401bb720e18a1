#include "readingform.h"
#include "ui_brelkcontrol.h"

#include "display.h"

using namespace Brelk;

namespace {

void setFieldText(QLineEdit *field, const QString &text)
{
    // A field the operator typed into differs, so it is still overwritten.
    if (field->text() != text)
        field->setText(text);
}

} // namespace

ReadingForm::ReadingForm(Ui::BrelkControl *ui)
    : fields{{ui->txtVset_A, ui->txtRamp_A, ui->txtVmeas_A, ui->txtImeas_A, ui->txtImeas2_A,
              ui->txtStatus_A, ui->txtPolarity_A, ui->txtKill_A, ui->txtHVON_A, ui->txtStatus2_A,
              ui->txtLimitV_A, ui->txtLimitI_A, ui->txtSoftLimitI_A, ui->txtSoftLimitI2_A},
             {ui->txtVset_B, ui->txtRamp_B, ui->txtVmeas_B, ui->txtImeas_B, ui->txtImeas2_B,
              ui->txtStatus_B, ui->txtPolarity_B, ui->txtKill_B, ui->txtHVON_B, ui->txtStatus2_B,
              ui->txtLimitV_B, ui->txtLimitI_B, ui->txtSoftLimitI_B, ui->txtSoftLimitI2_B}}
{
}

void ReadingForm::show(const Reading &reading, quint16 latchedEvents)
{
    const CurrentResolution resolution = reading.currentResolution;
    const SecondRange range = reading.secondRange;
    for (int ch = 0; ch < 2; ++ch) {
        const ChannelFields &f = fields[ch];
        shown.vset[ch] = setVolts(reading, ch);
        shown.rampSpeed[ch] = rampVoltsPerSecond(reading, ch);
        shown.vmeas[ch] = measuredVolts(reading, ch);
        int decimals = 0;
        shown.imeas[ch] = scaleCurrent(reading.imeas[ch], resolution, decimals);
        // Without a second range the last second-range readings are kept.
        if (range != SecondRange::None)
            shown.imeas2[ch] = secondRangeAmperes(reading, ch);
        shown.softLimitI[ch] = softLimitAmperes(reading, ch);
        shown.softLimitI2[ch] = secondRangeLimitAmperes(reading, ch);

        const quint8 status = channelByte(reading.status, ch);
        setFieldText(f.vset, voltsText(shown.vset[ch]));
        setFieldText(f.ramp, rampSpeedText(shown.rampSpeed[ch]));
        setFieldText(f.vmeas, measuredVoltsText(shown.vmeas[ch], reading.fineVoltage));
        setFieldText(f.imeas, measuredCurrentText(shown.imeas[ch], resolution, decimals));
        setFieldText(f.imeas2, secondRangeCurrentText(shown.imeas2[ch], range));
        setFieldText(f.status, channelStateText(status));
        setFieldText(f.polarity, polarityText(status));
        setFieldText(f.kill, killText(status));
        setFieldText(f.hvOn, hvText(status));
        setFieldText(f.status2, eventText(channelByte(latchedEvents, ch)));
        setFieldText(f.limitV, limitVoltageText(reading.limits[ch]));
        setFieldText(f.limitI, limitCurrentText(reading.limits[ch]));
        setFieldText(f.softLimitI, softLimitText(shown.softLimitI[ch], resolution));
        setFieldText(f.softLimitI2, secondRangeLimitText(shown.softLimitI2[ch], range));
    }
}
