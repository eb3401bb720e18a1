// The looks of the fields a complete tick writes: all of them stale or live, and three per
// channel ("Status 2", the channel state, the measured voltage) in their alarm colours. The main
// window hands it each complete tick and each change of freshness; it keeps what it has shown so
// that a steady tick changes no palette.
#ifndef READINGLOOKS_H
#define READINGLOOKS_H

#include "fieldlook.h"
#include "reading.h"

#include <QStringList>

#include <vector>

class QLineEdit;
class QWidget;

class ReadingLooks
{
public:
    struct ChannelFields
    {
        QLineEdit *events;
        QLineEdit *state;
        QLineEdit *vmeas;
    };

    // `channels` name fields among `tickFields`. `voltageTolerance`: the allowed |Vmeas - Vset| in
    // volts, or 0 for the default rule.
    ReadingLooks(const std::vector<QLineEdit *> &tickFields, const ChannelFields channels[2],
                 double voltageTolerance);

    // Colours the alarm fields for a complete tick with the latched events the form shows.
    void showAlarms(const Brelk::Reading &reading, quint16 latchedEvents);
    // Marks every field stale, or live again; a field already so is left alone.
    void showStale(bool stale);
    // Makes the taskbar entry of `window` flash, for a channel that newly shows red.
    void alert(QWidget *window);

private:
    FieldLook &look(QLineEdit *field);

    std::vector<FieldLook> fields;
    FieldLook *eventsLook[2];
    FieldLook *stateLook[2];
    FieldLook *vmeasLook[2];
    double tolerance;
    bool staleShown = false;
};

#endif // READINGLOOKS_H
