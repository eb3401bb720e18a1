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
    for (QLineEdit *field : tickFields()) {
        fieldWatches << QObject::connect(field, &QLineEdit::textChanged, field,
                                         [this] { current = false; });
    }
}

std::vector<QLineEdit *> ReadingForm::tickFields() const
{
    std::vector<QLineEdit *> all;
    for (const ChannelFields &f : fields) {
        all.insert(all.end(),
                   {f.vset, f.ramp, f.vmeas, f.imeas, f.imeas2, f.status, f.polarity, f.kill,
                    f.hvOn, f.status2, f.limitV, f.limitI, f.softLimitI, f.softLimitI2});
    }
    return all;
}

ReadingLooks::ChannelFields ReadingForm::alarmFields(int channel) const
{
    const ChannelFields &f = fields[channel];
    return {f.status2, f.status, f.vmeas};
}

// The fields outlive the form in the window's destructor.
ReadingForm::~ReadingForm()
{
    for (const QMetaObject::Connection &watch : qAsConst(fieldWatches))
        QObject::disconnect(watch);
}

void ReadingForm::show(const Reading &reading, quint16 latchedEvents)
{
    if (current && latchedEvents == shownLatch && sameWords(reading, shownReading))
        return;
    for (int ch = 0; ch < 2; ++ch) {
        shown.vset[ch] = setVolts(reading, ch);
        shown.rampSpeed[ch] = rampVoltsPerSecond(reading, ch);
        shown.vmeas[ch] = measuredVolts(reading, ch);
        int decimals = 0;
        shown.imeas[ch] = scaleCurrent(reading.imeas[ch], reading.currentResolution, decimals);
        // Without a second range the last second-range readings are kept.
        if (reading.secondRange != SecondRange::None)
            shown.imeas2[ch] = secondRangeAmperes(reading, ch);
        shown.softLimitI[ch] = softLimitAmperes(reading, ch);
        shown.softLimitI2[ch] = secondRangeLimitAmperes(reading, ch);

        const ChannelFields &f = fields[ch];
        const ChannelTexts texts = channelTexts(reading, ch, latchedEvents);
        setFieldText(f.vset, texts.vset);
        setFieldText(f.ramp, texts.ramp);
        setFieldText(f.vmeas, texts.vmeas);
        setFieldText(f.imeas, texts.imeas);
        setFieldText(f.imeas2, texts.imeas2);
        setFieldText(f.status, texts.state);
        setFieldText(f.polarity, texts.polarity);
        setFieldText(f.kill, texts.kill);
        setFieldText(f.hvOn, texts.hv);
        setFieldText(f.status2, texts.events);
        setFieldText(f.limitV, texts.limitV);
        setFieldText(f.limitI, texts.limitI);
        setFieldText(f.softLimitI, texts.softLimitI);
        setFieldText(f.softLimitI2, texts.softLimitI2);
    }
    // The texts just written told the watches too.
    shownReading = reading;
    shownLatch = latchedEvents;
    current = true;
}
