#include "schedule.h"

#include "display.h"

#include <algorithm>

namespace Brelk {

bool ChannelSchedule::takeReading(const Reading &reading, quint16 latched, QJsonObject *message)
{
    pendingEvents |= channelByte(reading.events, channel);
    haveReading = true;
    lastReading = reading;
    lastLatched = latched;
    QJsonObject candidate = channelPayload(reading, channel, pendingEvents, false);
    addTickWords(&candidate, reading, channel, latched);
    // Either way: a wall clock stepped back must not hold the messages back until it catches up.
    const bool due = !haveSent || !sameButTime(candidate, lastSent) ||
                     qAbs(reading.time - lastSentTime) >= HeartbeatMs;
    if (!due)
        return false;
    *message = candidate;
    lastSent = candidate;
    lastSentTime = reading.time;
    haveSent = true;
    pendingEvents = 0;
    return true;
}

bool ChannelSchedule::takeStale(QJsonObject *message)
{
    if (!haveReading || (haveSent && lastSent.value(QStringLiteral("stale")).toBool()))
        return false;
    // The last tick's values, with the events of the ticks since the previous message.
    *message = channelPayload(lastReading, channel, pendingEvents, true);
    addTickWords(message, lastReading, channel, lastLatched);
    lastSent = *message;
    lastSentTime = lastReading.time;
    haveSent = true;
    pendingEvents = 0;
    return true;
}

void ChannelSchedule::reset()
{
    haveSent = false;
    lastSent = QJsonObject();
    pendingEvents = 0;
}

bool ChannelSchedule::sameButTime(QJsonObject a, QJsonObject b)
{
    a.remove(QStringLiteral("time"));
    b.remove(QStringLiteral("time"));
    return a == b;
}

bool ModuleSchedule::take(const QJsonObject &description)
{
    if (sent && description == last)
        return false;
    sent = true;
    last = description;
    return true;
}

int Backoff::nextDelayMs()
{
    const int delay = next;
    next = std::min(next * 2, LongestMs);
    return delay;
}

} // namespace Brelk
