// The last 24 hours of complete ticks at full poll rate, compressed in blocks of 256 ticks so that
// the memory follows the history actually held: a day of a module whose every word changes every
// tick stays under 16 MiB, a steady module takes a small fraction of that, and nothing is
// allocated for ticks that have not arrived. The block being filled holds its ticks as plain
// words; a full block is packed into a chunk of a few hundred kB. Packing predicts every field
// (the running time, the wall clock's difference to it, and each register word) by a straight
// line through the block's first and last tick and keeps, per tick, only the difference to that
// line in as many bits as the block's largest difference needs: a word that does not change
// takes no bits, a ramp takes the bits of its noise, and a word jumping across its whole range
// takes its 16 bits in that block only. Every field of every tick is thus read in constant time
// and exactly. Chunks are freed (one is kept for reuse) as their ticks expire.
//
// A block whose last tick is more than an hour older than the newest one is packed a second time,
// into chunks of its own, keeping what the trend window and the export show: the time, both set
// and measured voltages, the currents, the resolution selection, each channel's state and HV
// bits and the named events, all exact. The other status and event bits are dropped. When a
// row is still wider than AgedRowBits, the second range's currents lose as many low bits as it
// takes (they read back rounded down to a multiple of a power of two above the block's least):
// only a module whose every word jumps at random comes to that, and it holds 16 MiB a day too.
//
// Alongside the blocks, summaries of aligned runs of 64, 512 and 4096 records hold the minimum
// and maximum of every plotted quantity, so that the reduction of any span to pixel columns
// reads a few dozen summaries and at most two short runs of records per column instead of every
// record. Shorter runs would cost more memory than the packed ticks of a steady module.
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

#include <deque>
#include <memory>
#include <vector>

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
    // Ticks per packed block, and bytes per chunk of packed blocks.
    static constexpr int BlockShift = 8;
    static constexpr int BlockTicks = 1 << BlockShift;
    static constexpr int ChunkBytes = 256 * 1024;
    // Blocks whose last tick is older than this, before the newest, are packed again, and their
    // rows take at most AgedRowBits unless their times alone need more.
    static constexpr qint64 AgeMs = 60 * 60 * 1000;
    static constexpr int AgedRowBits = 128;

    // Holds at most `capacity` records, none older than `keepMs` of running time before the
    // newest; memory is taken as ticks arrive, not for the capacity.
    explicit SampleStore(int capacity = DayCapacity, qint64 keepMs = DayMs);
    ~SampleStore();
    SampleStore(const SampleStore &) = delete;
    SampleStore &operator=(const SampleStore &) = delete;

    // Stores one complete tick taken now and drops the records more than the kept span of running
    // time older than it, or the oldest record when the store holds its capacity.
    void append(const Reading &reading);
    // The same for a tick taken at `runningMs` on the store's running clock (runningTime() is
    // now; earlier ticks have smaller, possibly negative, values). A value before the newest
    // record's counts as the newest record's: the running clock never goes back.
    void append(const Reading &reading, qint64 runningMs);
    void clear();

    int capacity() const { return maxRecords; }
    qint64 keptMs() const { return keepMs; }
    // Records are addressed by sequence number: the n-th tick ever appended has number n, and
    // the numbers from first() up to end() - 1 are stored.
    qint64 first() const { return firstSeq; }
    qint64 end() const { return endSeq; }
    int size() const { return int(endSeq - firstSeq); }
    bool isEmpty() const { return endSeq == firstSeq; }
    // Bytes held now by the chunks (the spare one included), the block headers, the block being
    // filled and the summaries.
    qint64 memoryBytes() const;
    // Chunks of packed blocks held now, the spare one included.
    int chunkCount() const
    {
        return int(recent.chunks.size() + aged.chunks.size()) + (spare ? 1 : 0);
    }

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

    // One tick in plain words: the block being filled, and a packed tick read back.
    struct Tick
    {
        qint64 running;
        qint64 wall;
        // In the order of Word.
        quint16 words[11];
    };
    enum Word {
        Vset0,
        Vset1,
        Vmeas0,
        Vmeas1,
        Imeas0,
        Imeas1,
        ImeasB0,
        ImeasB1,
        Status,
        Events,
        Selection,
        WordCount
    };
    // The fields a block packs: the running time, the wall-clock time minus the running time,
    // then the words.
    static constexpr int FieldCount = 2 + WordCount;

    // A full block of ticks, packed.
    struct Block
    {
        // Rows of rowBits bits, one per tick; a field's bits start at bitOffset within its row.
        const uchar *data;
        // The number of the chunk that holds the rows.
        qint64 chunk;
        // A field of tick i is base + i * slope + its bits.
        qint64 base[FieldCount];
        qint32 slope[FieldCount];
        quint16 bitOffset[FieldCount];
        quint8 width[FieldCount];
        // Low bits not kept: a field's bits are its difference to the line shifted right by them.
        quint8 dropped[FieldCount];
        quint16 rowBits;
        // The events of the tick before the block's first, for its rising edges.
        quint16 previousEvents;
        // Packed a second time: status and events keep only the bits keptBits() names.
        bool aged;

        int bytes() const { return (BlockTicks * rowBits + 7) / 8; }
        qint64 field(int f, int i) const;
        Tick tick(int i) const;
    };
    // The bits of a word that an aged block keeps.
    static quint16 keptBits(int word);

    // A copy of some records taken out of the store, which another thread may read while the
    // store goes on taking ticks. It copies the packed blocks, not the ticks unpacked.
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
        std::vector<Block> blocks;
        std::unique_ptr<uchar[]> data;
        std::vector<Tick> open;
        qint64 start = 0;
        qint64 firstBlock = 0;
        qint64 openStart = 0;
        qint64 count = 0;
    };
    // The records [from, to) that are stored.
    Span copy(qint64 from, qint64 to) const;

private:
    // Summaries of aligned runs of 1 << shift records, the first of run number `first`.
    struct Level
    {
        int shift;
        qint64 first = 0;
        std::deque<Extent> runs;
    };
    static constexpr int LevelCount = 3;
    struct Chunk
    {
        std::unique_ptr<uchar[]> bytes;
        int used = 0;
    };
    // Chunks in the order they were taken, the first of number `first`; the last is being filled.
    struct ChunkQueue
    {
        std::deque<Chunk> chunks;
        qint64 first = 0;
    };

    // The tick of record `seq`, unpacked.
    Tick tick(qint64 seq) const;
    quint16 events(qint64 seq) const;
    // Adds the records [from, to), which lie in one block, to `result`.
    void includeRecords(qint64 from, qint64 to, Extent &result) const;
    qint64 openStart() const { return endSeq >> BlockShift << BlockShift; }
    const Block &block(qint64 seq) const
    {
        return blocks[size_t((seq >> BlockShift) - firstBlock)];
    }
    void seal();
    void age();
    void release();
    // Packs 256 ticks into rows in the last chunk of `queue`, or a new one.
    Block pack(const Tick *ticks, quint16 eventsBefore, bool aged, ChunkQueue &queue);
    static void freeUnused(ChunkQueue &queue, qint64 firstUsed, std::unique_ptr<uchar[]> &spare);

    int maxRecords;
    qint64 keepMs;
    // Packed blocks, the first of number firstBlock (its first record is firstBlock << BlockShift);
    // the first agedBlocks of them are aged.
    std::deque<Block> blocks;
    qint64 firstBlock = 0;
    size_t agedBlocks = 0;
    // The rows of the blocks packed once, and of the aged ones.
    ChunkQueue recent;
    ChunkQueue aged;
    std::unique_ptr<uchar[]> spare;
    // The block being filled: its records from openStart() on, and the events before it.
    std::vector<Tick> open;
    quint16 openPreviousEvents = 0;
    Level levels[LevelCount];
    qint64 firstSeq = 0;
    qint64 endSeq = 0;
    quint16 previousEvents = 0;
    QElapsedTimer runningClock;
    // The running time of the newest record, which no later tick's may precede.
    qint64 newestRunning = 0;
    qint64 offset = 0;
};

} // namespace Brelk

#endif // SAMPLESTORE_H
