// Whether the readings the panel shows are live. They are live while complete ticks arrive; they
// turn stale when three ticks in a row did not complete (one or two missed ticks alone must not
// make the panel flicker), when the poll is stopped for the controller dialog, when a connection
// fails, or when the module address changes; the next complete tick makes them live again.
#ifndef FRESHNESS_H
#define FRESHNESS_H

#include <QtGlobal>

namespace Brelk {

class Freshness
{
public:
    static constexpr int MissedTicksBeforeStale = 3;

    void completeTick(qint64 now);
    // True exactly at the missed tick that makes the panel say that the module does not answer.
    bool missedTick();
    void pollStopped();
    void connectionFailed();
    void connected(qint64 now);
    void addressChanged(qint64 now);

    bool isStale() const { return stale; }
    // Since when the module at the current address has not answered: its last complete tick on
    // this connection, or else the connection or the address change.
    qint64 silentSince() const { return lastHeardOf; }

private:
    bool stale = false;
    int missedInARow = 0;
    qint64 lastHeardOf = 0;
};

} // namespace Brelk

#endif // FRESHNESS_H
