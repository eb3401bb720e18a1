#include "freshness.h"

#include <QElapsedTimer>

namespace Brelk {

CommandFreshness commandFreshness(bool haveTick, bool staleShown, qint64 tickStarted,
                                  qint64 received, qint64 now)
{
    if (now - received > CommandWaitMs)
        return CommandFreshness::WaitedTooLong;
    if (!haveTick)
        return CommandFreshness::NoTick;
    if (staleShown || received - tickStarted > CommandTickAgeMs)
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
