// The last 24 hours of complete ticks at full poll rate, in a ring of compact records allocated
// once: the wall-clock and running times as integers and the raw register words the plots and the
// CSV export need, so a full day of 10 Hz ticks stays under 32 MiB. Appending is O(1) and never
// allocates. Alongside the ring, summaries of aligned blocks of 16, 256 and 4096 records hold the
// minimum and maximum of every plotted quantity, so that the reduction of any span to pixel columns
// reads a few hundred entries per column instead of every record.
//
// The wall clock can be stepped at any moment (a time server's correction, the operator, a wrong
// clock set right), so the store never orders, expires or joins records by it. Each record keeps
// the running time of a monotonic clock beside the wall-clock time it was taken at; age and gaps
// are running time, and the trend's time axis is running time shifted so that the newest tick sits
// at its wall-clock time. A step of the wall clock moves that shift, and with it the whole history
// on the axis, without losing or reordering a record; the record itself keeps the wall-clock time
// it was taken at, for the pointer readout and the export.
#ifndef SAMPLESTORE_H
#define SAMPLESTORE_H

#include "reading.h"

#include <QElapsedTimer>
#include <QtGlobal>

#include <memory>

namespace Brelk {

// The quantities the trend plots draw, in volts and amperes.
enum Series { VmeasA, VmeasB, VsetA, VsetB, ImeasA, ImeasB, SeriesCount };

inline Series vmeasSeries(int channel)
{
    return channel == 0 ? VmeasA : VmeasB;
}
inline Series vsetSeries(int channel)
{
    return channel == 0 ? VsetA : VsetB;
}
inline Series imeasSeries(int channel)
{
    return channel == 0 ? ImeasA : ImeasB;
}

// Minimum and maximum of every series over a run of records, and the events that rose in it.
struct Extent
{
    float minimum[SeriesCount];
    float maximum[SeriesCount];
    quint16 rising;

    void reset();
    void include(const float *values, quint16 risingEvents);
    void include(const Extent &other);
};

class SampleStore
{
public:
    static constexpr qint64 DayMs = 24 * 60 * 60 * 1000;
    // A full day at the 100 ms poll.
    static constexpr int DayCapacity = 864000;
    // Two complete ticks further apart than this have a gap between them: no line joins them.
    static constexpr qint64 GapMs = 1000;
    // The wall clock departing from the running time by more than this, either way, has been
    // stepped: the time axis moves to the new wall-clock time. Smaller differences are the poll's
    // own jitter and leave the axis where it is.
    static constexpr qint64 ClockStepMs = 1000;

    explicit SampleStore(int capacity = DayCapacity, qint64 keepMs = DayMs);
    ~SampleStore();
    SampleStore(const SampleStore &) = delete;
    SampleStore &operator=(const SampleStore &) = delete;

    // Stores one complete tick taken now and drops the records more than the kept span of running
    // time older than it, or the oldest record when the ring is full.
    void append(const Reading &reading);
    // The same for a tick taken at `runningMs` on the store's running clock (runningTime() is
    // now; earlier ticks have smaller, possibly negative, values). A value before the newest
    // record's counts as the newest record's: the running clock never goes back.
    void append(const Reading &reading, qint64 runningMs);
    void clear();

    int capacity() const { return ringCapacity; }
    qint64 keptMs() const { return keepMs; }
    // Records are addressed by sequence number: the n-th tick ever appended has number n, and
    // the numbers from first() up to end() - 1 are stored.
    qint64 first() const { return firstSeq; }
    qint64 end() const { return endSeq; }
    int size() const { return int(endSeq - firstSeq); }
    bool isEmpty() const { return endSeq == firstSeq; }
    // Bytes held by the ring and the block summaries, all allocated at construction.
    qint64 memoryBytes() const;

    // Milliseconds of the store's running clock since it was made.
    qint64 runningTime() const { return runningClock.elapsed(); }
    // Where a record lies on the time axis, in milliseconds since the epoch: its running time
    // plus axisOffset(). Never decreases with the sequence number. The wall-clock time the tick
    // was taken at is reading(seq).time.
    qint64 time(qint64 seq) const;
    // The running time the record was taken at.
    qint64 runningTime(qint64 seq) const;
    // Axis time minus running time; changes only when the wall clock is stepped.
    qint64 axisOffset() const { return offset; }
    // The named event bits (TRP, VLIM, INH, ILIM, QUA) that rose at this tick: set now, clear in
    // the complete tick before it. The module's other status-2 bits mean nothing and never rise.
    quint16 risingEvents(qint64 seq) const;
    // The plotted quantities of a record, in volts and amperes.
    void values(qint64 seq, float *out) const;
    // The record as a Reading with the words it keeps: time, set and measured voltages, both
    // currents, status, events and the resolution selection. The rest is zero.
    Reading reading(qint64 seq) const;
    // The first stored record at or after `time` (end() when none).
    qint64 lowerBound(qint64 time, qint64 from, qint64 to) const;
    qint64 lowerBound(qint64 time) const { return lowerBound(time, firstSeq, endSeq); }
    // Whether no line may join record `seq` to the record before it: more than GapMs of running
    // time lies between them.
    bool gapBefore(qint64 seq) const;
    // Minimum, maximum and rising events of the records [from, to), to non-empty.
    Extent extent(qint64 from, qint64 to) const;

    // One stored tick; its layout is the store's own.
    struct Record;
    // A copy of some records taken out of the ring, which another thread may read while the
    // store goes on taking ticks.
    class Span
    {
    public:
        Span();
        Span(Span &&other) noexcept;
        Span &operator=(Span &&other) noexcept;
        ~Span();
        qint64 size() const { return count; }
        // The record as SampleStore::reading() gives it.
        Reading reading(qint64 index) const;

    private:
        friend class SampleStore;
        std::unique_ptr<Record[]> records;
        qint64 count = 0;
    };
    // The records [from, to) that are stored.
    Span copy(qint64 from, qint64 to) const;

private:
    struct Level
    {
        int shift; // log2 of the records per block
        int slotCount;
        std::unique_ptr<Extent[]> blocks;
    };
    static constexpr int LevelCount = 3;

    const Record &record(qint64 seq) const;
    void dropOldest();

    int ringCapacity;
    qint64 keepMs;
    std::unique_ptr<Record[]> ring;
    Level levels[LevelCount];
    qint64 firstSeq = 0;
    qint64 endSeq = 0;
    quint16 previousEvents = 0;
    QElapsedTimer runningClock;
    // The running time of the newest record: records keep only its low 32 bits, which tell the
    // full value for every record within 49 days of it.
    qint64 newestRunning = 0;
    qint64 offset = 0;
};

} // namespace Brelk

#endif // SAMPLESTORE_H
