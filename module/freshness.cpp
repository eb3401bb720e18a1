#include "freshness.h"

#include <QElapsedTimer>

namespace Brelk {

void RecentTicks::add(qint64 started, qint64 completed)
{
    spans[next] = {started, completed};
    next = (next + 1) % Kept;
    count = qMin(count + 1, Kept);
}

bool RecentTicks::startOfNewestCompletedBy(qint64 when, qint64 *started) const
{
    bool found = false;
    qint64 newestCompleted = 0;
    for (int i = 0; i < count; ++i) {
        const Span &span = spans[i];
        if (span.completed <= when && (!found || span.completed >= newestCompleted)) {
            found = true;
            newestCompleted = span.completed;
            *started = span.started;
        }
    }
    return found;
}

bool RecentTicks::newestCompleted(qint64 *completed) const
{
    if (count == 0)
        return false;
    *completed = spans[(next + Kept - 1) % Kept].completed;
    return true;
}

CommandFreshness commandFreshness(bool staleShown, const RecentTicks &ticks, qint64 received,
                                  qint64 now)
{
    if (now - received > CommandWaitMs)
        return CommandFreshness::WaitedTooLong;
    if (ticks.isEmpty())
        return CommandFreshness::NoTick;
    qint64 started = 0;
    if (staleShown || !ticks.startOfNewestCompletedBy(received, &started) ||
        received - started > CommandTickAgeMs)
        return CommandFreshness::TickTooOld;
    return CommandFreshness::Current;
}

qint64 monotonicMs()
{
    QElapsedTimer now;
    now.start();
    return now.msecsSinceReference();
}

void Freshness::completeTick(qint64 now)
{
    stale = false;
    missedInARow = 0;
    lastHeardOf = now;
}

bool Freshness::missedTick()
{
    if (missedInARow >= MissedTicksBeforeStale)
        return false;
    if (++missedInARow < MissedTicksBeforeStale)
        return false;
    stale = true;
    return true;
}

void Freshness::pollStopped()
{
    stale = true;
}

void Freshness::connectionFailed()
{
    stale = true;
}

void Freshness::connected(qint64 now)
{
    missedInARow = 0;
    lastHeardOf = now;
}

void Freshness::addressChanged(qint64 now)
{
    stale = true;
    missedInARow = 0;
    lastHeardOf = now;
}

} // namespace Brelk
