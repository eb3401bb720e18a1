// The last 24 hours of complete ticks at full poll rate, in a ring of compact records allocated
// once: the time as an integer and the raw register words the plots and the CSV export need, so a
// full day of 10 Hz ticks stays under 32 MiB. Appending is O(1) and never allocates. Alongside the
// ring, summaries of aligned blocks of 16, 256 and 4096 records hold the minimum and maximum of
// every plotted quantity, so that the reduction of any span to pixel columns reads a few hundred
// entries per column instead of every record.
#ifndef SAMPLESTORE_H
#define SAMPLESTORE_H

#include "reading.h"

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
    // The clock stepping back by at most this much is taken for a correction: the tick is stored
    // at the time of the one before. A larger step back starts the history afresh, since the
    // time axis cannot run backwards.
    static constexpr qint64 ClockStepBackMs = 1000;

    explicit SampleStore(int capacity = DayCapacity, qint64 keepMs = DayMs);
    ~SampleStore();
    SampleStore(const SampleStore &) = delete;
    SampleStore &operator=(const SampleStore &) = delete;

    // Stores one complete tick and drops the records older than the kept span before it, or the
    // oldest record when the ring is full.
    void append(const Reading &reading);
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

    qint64 time(qint64 seq) const;
    // The event bits that rose at this tick: set now, clear in the complete tick before it.
    quint16 risingEvents(qint64 seq) const;
    // The plotted quantities of a record, in volts and amperes.
    void values(qint64 seq, float *out) const;
    // The record as a Reading with the words it keeps: time, set and measured voltages, both
    // currents, status, events and the resolution selection. The rest is zero.
    Reading reading(qint64 seq) const;
    // The first stored record at or after `time` (end() when none).
    qint64 lowerBound(qint64 time, qint64 from, qint64 to) const;
    qint64 lowerBound(qint64 time) const { return lowerBound(time, firstSeq, endSeq); }
    // Whether no line may join record `seq` to the record before it.
    bool gapBefore(qint64 seq) const;
    // Minimum, maximum and rising events of the records [from, to), to non-empty.
    Extent extent(qint64 from, qint64 to) const;

private:
    struct Record;
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
};

} // namespace Brelk

#endif // SAMPLESTORE_H
