// Which complete ticks become rows of the data log, and the module events each row carries.
// Pure: it sees only tick times, the local clock's UTC offset and event words, so the timing can
// be checked with synthetic ticks.
#ifndef LOGSCHEDULE_H
#define LOGSCHEDULE_H

#include "reading.h"

#include <QString>

namespace Brelk {

// A row at every complete tick.
const qint64 EveryTick = 0;

// Interval in milliseconds (EveryTick, 1000, 10000 or 60000). Rows other than at every tick fall
// on whole multiples of the interval on the local wall clock, so that the logs of several panels
// line up: the first row at the first tick taken, then one at the first tick at or after each
// boundary; an interval without a tick gets no row.
class LogSchedule
{
public:
    explicit LogSchedule(qint64 intervalMs = EveryTick);

    // Takes one complete tick: its time in milliseconds since the epoch (UTC), the local clock's
    // offset from UTC at that time in seconds, and the module's event word of the tick. True when
    // the tick gets a row; `rowEvents` then receives the event words OR-ed over every tick since
    // the previous row, this one included, so that no event between two rows is lost.
    bool take(qint64 msecsSinceEpoch, int utcOffsetSeconds, quint16 events, quint16 *rowEvents);
    // The same for a Reading, at the local clock's offset at its time.
    bool take(const Reading &reading, quint16 *rowEvents);
    // The next tick taken gets a row whatever the interval, with the events since the last row:
    // a trip that brings a group down is in the log at once, not at the next boundary.
    void rowAtNextTick() { rowWanted = true; }
    // At the end of the log: true when a tick since the last row carried events; `rowEvents`
    // then receives them for one last row, so that a stop between two rows loses none.
    bool finish(quint16 *rowEvents);

    qint64 interval() const { return intervalMs; }

private:
    qint64 intervalMs;
    bool rowWritten = false;
    bool rowWanted = false;
    qint64 lastSlot = 0;
    quint16 pendingEvents = 0;
};

// The settings value "LogInterval" in seconds: "0.1" (every tick), "1", "10" or "60".
QString logIntervalSetting(qint64 intervalMs);
// Anything else, or nothing, means 1 s.
qint64 logIntervalFromSetting(const QString &seconds);

} // namespace Brelk

#endif // LOGSCHEDULE_H
