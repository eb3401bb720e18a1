// The texts of the fields a complete tick writes into the module's form, and the values they show
// in volts and amperes, from which the command dialogs start. A text that is already shown is not
// written again: ten ticks a second, that would only cost repaints. A tick that read the same words
// as the one shown, with the same latched events, is passed over before any text is made, unless
// a field was written meanwhile (the operator typed into it) or the language changed.
#ifndef READINGFORM_H
#define READINGFORM_H

#include "moduleform.h"
#include "reading.h"
#include "readinglooks.h"

#include <QMetaObject>
#include <QVector>

class ReadingForm
{
public:
    // What the form shows, in volts, volts per second and amperes.
    struct Values
    {
        double vset[2] = {0, 0};
        double rampSpeed[2] = {0, 0};
        double softLimitI[2] = {0, 0};
        double softLimitI2[2] = {0, 0};
        double vmeas[2] = {0, 0};
        double imeas[2] = {0, 0};
        double imeas2[2] = {0, 0};
    };

    // `form` outlives this object.
    explicit ReadingForm(const ModuleForm &form);
    ~ReadingForm();
    ReadingForm(const ReadingForm &) = delete;
    ReadingForm &operator=(const ReadingForm &) = delete;

    // `latchedEvents`: the events "Status 2" shows, kept until Clear.
    void show(const Brelk::Reading &reading, quint16 latchedEvents);
    const Values &values() const { return shown; }

    // Every field a complete tick writes, channel A's then channel B's.
    std::vector<QLineEdit *> tickFields() const { return form.tickFields(); }
    // The channel's "Status 2", state and measured voltage fields, which show its alarm colours.
    ReadingLooks::ChannelFields alarmFields(int channel) const;
    // The next tick writes its texts even when it read what the form shows: after a change of
    // language, whose texts the form does not hold yet.
    void forget() { current = false; }

private:
    const ModuleForm &form;
    Values shown;
    // The tick the fields show, valid while `current`.
    Brelk::Reading shownReading;
    quint16 shownLatch = 0;
    bool current = false;
    QVector<QMetaObject::Connection> fieldWatches;
};

#endif // READINGFORM_H
