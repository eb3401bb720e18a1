// Whether the readings the panel shows are live. They are live while complete ticks arrive; they
// turn stale when three ticks in a row did not complete (one or two missed ticks alone must not
// make the panel flicker), when the poll is stopped for the controller dialog, when a connection
// fails, or when the module address changes; the next complete tick makes them live again.
#ifndef FRESHNESS_H
#define FRESHNESS_H

#include <QtGlobal>

namespace Brelk {

// The poll reads every module of the crate this often.
constexpr int PollIntervalMs = 100;

// Why a command may not be written against the newest reading. A command is judged against the
// module as it is now: the tick it relies on started at most three poll intervals before the
// command reached the program, on a monotonic clock, whatever stopped the ticks in between (a
// stopped poll, a frozen process, a bridge call that hung); and the command is written within a
// second of reaching the program, or not at all.
enum class CommandFreshness {
    Current,
    // No complete tick of the module at its address on this connection.
    NoTick,
    // The readings are marked stale, or the newest tick started too long before the command.
    TickTooOld,
    // The command waited too long in the program before its turn came.
    WaitedTooLong,
};

constexpr qint64 CommandTickAgeMs = 3 * PollIntervalMs;
constexpr qint64 CommandWaitMs = 1000;

// When the last complete ticks of a module began and ended, on the monotonic clock: a command is
// judged by the newest tick that had completed when it arrived, not by one that ended while it
// waited for its turn.
class RecentTicks
{
public:
    static constexpr int Kept = 16;

    void add(qint64 started, qint64 completed);
    // True from a connection or an address change until a tick has read the module there.
    bool isEmpty() const { return count == 0; }
    void clear()
    {
        count = 0;
        next = 0;
    }
    // The start of the newest tick that completed at or before `when`; false when none did.
    bool startOfNewestCompletedBy(qint64 when, qint64 *started) const;
    // When the newest tick completed; false when none did since the last clear.
    bool newestCompleted(qint64 *completed) const;

private:
    struct Span
    {
        qint64 started;
        qint64 completed;
    };
    Span spans[Kept] = {};
    int count = 0;
    int next = 0;
};

// Times in milliseconds on one monotonic clock; `received`: when the command reached the
// program. `ticks`: those of the module at its address on this connection.
CommandFreshness commandFreshness(bool staleShown, const RecentTicks &ticks, qint64 received,
                                  qint64 now);

// Milliseconds on the monotonic clock that the session, the commands and the poll share.
qint64 monotonicMs();

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
    // Three ticks in a row or more did not complete: the module does not answer.
    bool isSilent() const { return missedInARow >= MissedTicksBeforeStale; }
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
