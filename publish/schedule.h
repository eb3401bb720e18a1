// When the publisher sends what: the per-channel rule (a message when anything but the time
// changed, at least every second, events gathered between messages, one stale message), the
// module description (a message when it changed) and the delay between connection attempts.
#ifndef SCHEDULE_H
#define SCHEDULE_H

#include "payloads.h"

#include <QJsonObject>

namespace Brelk {

class ChannelSchedule
{
public:
    // A panel attached through the broker takes a channel without a message for this long as
    // no longer published.
    static constexpr qint64 HeartbeatMs = 1000;

    explicit ChannelSchedule(int channel) : channel(channel) {}

    // Takes one complete tick and the session's event latch after it; true when `*message` is to
    // be published. At most one message per tick by construction.
    bool takeReading(const Reading &reading, quint16 latched, QJsonObject *message);
    // The readings turned stale: true (once) with the last values marked stale, false when
    // nothing was read yet or the last message already said so.
    bool takeStale(QJsonObject *message);
    // Forgets everything sent: the next tick publishes.
    void reset();

private:
    static bool sameButTime(QJsonObject a, QJsonObject b);

    int channel;
    quint8 pendingEvents = 0;
    bool haveReading = false;
    Reading lastReading;
    quint16 lastLatched = 0;
    bool haveSent = false;
    QJsonObject lastSent;
    qint64 lastSentTime = 0;
};

class ModuleSchedule
{
public:
    // True when the description differs from the one sent last (or none was sent).
    bool take(const QJsonObject &description);
    void reset() { sent = false; }

private:
    bool sent = false;
    QJsonObject last;
};

// Delays between connection attempts: 1 s, doubling to at most 30 s, back to 1 s after a
// connection succeeded.
class Backoff
{
public:
    static constexpr int FirstMs = 1000;
    static constexpr int LongestMs = 30000;

    int nextDelayMs();
    void reset() { next = FirstMs; }

private:
    int next = FirstMs;
};

} // namespace Brelk

#endif // SCHEDULE_H
