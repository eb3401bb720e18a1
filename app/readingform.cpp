#include "readingform.h"

#include "display.h"

#include <QLineEdit>

using namespace Brelk;

namespace {

void setFieldText(QLineEdit *field, const QString &text)
{
    // A field the operator typed into differs, so it is still overwritten.
    if (field->text() != text)
        field->setText(text);
}

} // namespace

ReadingForm::ReadingForm(const ModuleForm &form) : form(form)
{
    for (QLineEdit *field : tickFields()) {
        fieldWatches << QObject::connect(field, &QLineEdit::textChanged, field,
                                         [this] { current = false; });
    }
}

ReadingLooks::ChannelFields ReadingForm::alarmFields(int channel) const
{
    const ModuleForm::Channel &f = form.channels[channel];
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

        const ModuleForm::Channel &f = form.channels[ch];
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
