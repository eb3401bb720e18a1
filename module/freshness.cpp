#include "freshness.h"

namespace Brelk {

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
