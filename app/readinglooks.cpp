#include "readinglooks.h"

#include "alarms.h"

#include <QApplication>

#include <algorithm>

using namespace Brelk;

namespace {

const quint16 RedStateFlag = 0x100;

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

QStringList ReadingLooks::showAlarms(const Reading &reading, quint16 latchedEvents)
{
    QStringList newlyRed;
    for (int ch = 0; ch < 2; ++ch) {
        const quint8 status = channelByte(reading.status, ch);
        const quint8 latched = channelByte(latchedEvents, ch);
        const ChannelAlarms alarms = channelAlarms(status, latched, measuredVolts(reading, ch),
                                                   setVolts(reading, ch), tolerance);
        eventsLook[ch]->setAlarm(alarms.events);
        stateLook[ch]->setAlarm(alarms.state);
        vmeasLook[ch]->setAlarm(alarms.voltageDeviation);

        quint16 red = latched & RedEvents;
        if (alarms.state == AlarmLevel::Red)
            red |= RedStateFlag;
        if (red & ~redShown[ch]) {
            newlyRed << QStringLiteral("Channel %1 alarm: %2")
                            .arg(QChar('A' + ch), redAlarmText(status, latched));
        }
        redShown[ch] = red;
    }
    return newlyRed;
}

bool ReadingLooks::showStale(bool stale)
{
    if (stale == staleShown)
        return false;
    staleShown = stale;
    for (FieldLook &field : fields)
        field.setStale(stale);
    return stale;
}

void ReadingLooks::alert(QWidget *window)
{
    ++alerts;
    QApplication::alert(window);
}
