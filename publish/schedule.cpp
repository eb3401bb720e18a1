#include "schedule.h"

#include "display.h"

#include <algorithm>

namespace Brelk {

bool ChannelSchedule::takeReading(const Reading &reading, QJsonObject *message)
{
    pendingEvents |= channelByte(reading.events, channel);
    haveReading = true;
    lastReading = reading;
    const QJsonObject candidate = channelPayload(reading, channel, pendingEvents, false);
    const bool due = !haveSent || !sameButTime(candidate, lastSent) ||
                     reading.time - lastSentTime >= HeartbeatMs;
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
