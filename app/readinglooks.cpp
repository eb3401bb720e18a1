#include "readinglooks.h"

#include "alarms.h"

#include <QApplication>

#include <algorithm>

using namespace Brelk;

namespace {

} // namespace

ReadingLooks::ReadingLooks(const std::vector<QLineEdit *> &tickFields,
                           const ChannelFields channels[2], double voltageTolerance)
    : tolerance(voltageTolerance)
{
    fields.reserve(tickFields.size());
    for (QLineEdit *field : tickFields)
        fields.emplace_back(field);
    for (int ch = 0; ch < 2; ++ch) {
        eventsLook[ch] = &look(channels[ch].events);
        stateLook[ch] = &look(channels[ch].state);
        vmeasLook[ch] = &look(channels[ch].vmeas);
    }
}

// The alarm fields are among the fields a tick writes; `fields` never grows after construction,
// so the pointers into it stay valid.
FieldLook &ReadingLooks::look(QLineEdit *field)
{
    const auto found = std::find_if(fields.begin(), fields.end(), [field](const FieldLook &look) {
        return look.field() == field;
    });
    Q_ASSERT_X(found != fields.end(), "ReadingLooks", "an alarm field that no tick writes");
    return *found;
}

void ReadingLooks::showAlarms(const Reading &reading, quint16 latchedEvents)
{
    for (int ch = 0; ch < 2; ++ch) {
        const quint8 status = channelByte(reading.status, ch);
        const quint8 latched = channelByte(latchedEvents, ch);
        const ChannelAlarms alarms = channelAlarms(status, latched, measuredVolts(reading, ch),
                                                   setVolts(reading, ch), tolerance);
        eventsLook[ch]->setAlarm(alarms.events);
        stateLook[ch]->setAlarm(alarms.state);
        vmeasLook[ch]->setAlarm(alarms.voltageDeviation);
    }
}

void ReadingLooks::showStale(bool stale)
{
    if (stale == staleShown)
        return;
    staleShown = stale;
    for (FieldLook &field : fields)
        field.setStale(stale);
}

void ReadingLooks::alert(QWidget *window)
{
    QApplication::alert(window);
}
