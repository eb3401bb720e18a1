#include "samplestore.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace Brelk {

// One complete tick in 34 bytes of plain words.
struct SampleStore::Record
{
    quint16 time[3];    // wall-clock milliseconds since the epoch, 48 bits, low word first
    quint16 running[2]; // the low 32 bits of the running time in milliseconds, low word first
    quint16 vset[2];
    quint16 vmeas[2];
    quint16 imeas[2];
    quint16 imeas2[2];
    quint16 status;
    quint16 events;
    quint16 rising;
    // Bit 0: fine voltage; bits 1-2: first-range current resolution; bits 3-4: second range.
    quint16 selection;
};

namespace {

Reading readingOf(const SampleStore::Record &r);

quint16 packSelection(const Reading &reading)
{
    return quint16((reading.fineVoltage ? 1 : 0) | (int(reading.currentResolution) << 1) |
                   (int(reading.secondRange) << 3));
}

constexpr quint16 NamedEventsBothChannels = quint16(NamedEvents | (NamedEvents << 8));

} // namespace

void Extent::reset()
{
    std::fill(minimum, minimum + SeriesCount, std::numeric_limits<float>::infinity());
    std::fill(maximum, maximum + SeriesCount, -std::numeric_limits<float>::infinity());
    rising = 0;
}

void Extent::include(const float *values, quint16 risingEvents)
{
    for (int s = 0; s < SeriesCount; ++s) {
        minimum[s] = std::min(minimum[s], values[s]);
        maximum[s] = std::max(maximum[s], values[s]);
    }
    rising |= risingEvents;
}

void Extent::include(const Extent &other)
{
    for (int s = 0; s < SeriesCount; ++s) {
        minimum[s] = std::min(minimum[s], other.minimum[s]);
        maximum[s] = std::max(maximum[s], other.maximum[s]);
    }
    rising |= other.rising;
}

SampleStore::SampleStore(int capacity, qint64 keepMs)
    : ringCapacity(std::max(capacity, 1)), keepMs(keepMs), ring(new Record[ringCapacity]())
{
    static_assert(sizeof(Record) == 34, "a record is seventeen 16-bit words");
    // Zeroed here, so that the whole day is resident from start-up and the process does not grow
    // as the ticks fill it.
    const int shifts[LevelCount] = {4, 8, 12};
    for (int l = 0; l < LevelCount; ++l) {
        // Two blocks more than the ring spans: the block being filled never shares a slot with
        // a block of which a record is still stored.
        levels[l].shift = shifts[l];
        levels[l].slotCount = (ringCapacity >> shifts[l]) + 2;
        levels[l].blocks.reset(new Extent[levels[l].slotCount]());
    }
    runningClock.start();
}

SampleStore::~SampleStore() = default;

qint64 SampleStore::memoryBytes() const
{
    qint64 bytes = qint64(ringCapacity) * qint64(sizeof(Record));
    for (const Level &level : levels)
        bytes += qint64(level.slotCount) * qint64(sizeof(Extent));
    return bytes;
}

const SampleStore::Record &SampleStore::record(qint64 seq) const
{
    return ring[seq % ringCapacity];
}

void SampleStore::clear()
{
    firstSeq = endSeq;
}

void SampleStore::dropOldest()
{
    ++firstSeq;
}

void SampleStore::append(const Reading &reading)
{
    append(reading, runningTime());
}

void SampleStore::append(const Reading &reading, qint64 runningMs)
{
    const qint64 wall = std::max<qint64>(reading.time, 0);
    if (!isEmpty())
        runningMs = std::max(runningMs, newestRunning);
    while (!isEmpty() && runningTime(firstSeq) < runningMs - keepMs)
        dropOldest();
    if (size() == ringCapacity)
        dropOldest();
    if (isEmpty() || std::llabs(wall - (runningMs + offset)) > ClockStepMs)
        offset = wall - runningMs;
    newestRunning = runningMs;

    const qint64 seq = endSeq;
    Record &r = ring[seq % ringCapacity];
    r.time[0] = quint16(wall);
    r.time[1] = quint16(wall >> 16);
    r.time[2] = quint16(wall >> 32);
    r.running[0] = quint16(runningMs);
    r.running[1] = quint16(quint32(runningMs) >> 16);
    for (int ch = 0; ch < 2; ++ch) {
        r.vset[ch] = reading.vset[ch];
        r.vmeas[ch] = reading.vmeas[ch];
        r.imeas[ch] = reading.imeas[ch];
        r.imeas2[ch] = reading.imeas2[ch];
    }
    r.status = reading.status;
    r.events = reading.events;
    r.rising = quint16(reading.events & ~previousEvents & NamedEventsBothChannels);
    r.selection = packSelection(reading);
    previousEvents = reading.events;
    ++endSeq;

    float v[SeriesCount];
    values(seq, v);
    for (Level &level : levels) {
        Extent &block = level.blocks[(seq >> level.shift) % level.slotCount];
        if ((seq & ((qint64(1) << level.shift) - 1)) == 0)
            block.reset();
        block.include(v, r.rising);
    }
}

qint64 SampleStore::time(qint64 seq) const
{
    return runningTime(seq) + offset;
}

qint64 SampleStore::runningTime(qint64 seq) const
{
    const Record &r = record(seq);
    const quint32 low = quint32(r.running[0]) | (quint32(r.running[1]) << 16);
    return newestRunning - qint64(quint32(quint32(newestRunning) - low));
}

quint16 SampleStore::risingEvents(qint64 seq) const
{
    return record(seq).rising;
}

Reading SampleStore::reading(qint64 seq) const
{
    return readingOf(record(seq));
}

namespace {

Reading readingOf(const SampleStore::Record &r)
{
    Reading reading;
    reading.time = qint64(r.time[0]) | (qint64(r.time[1]) << 16) | (qint64(r.time[2]) << 32);
    for (int ch = 0; ch < 2; ++ch) {
        reading.vset[ch] = r.vset[ch];
        reading.vmeas[ch] = r.vmeas[ch];
        reading.imeas[ch] = r.imeas[ch];
        reading.imeas2[ch] = r.imeas2[ch];
    }
    reading.status = r.status;
    reading.events = r.events;
    reading.fineVoltage = r.selection & 1;
    reading.currentResolution = CurrentResolution((r.selection >> 1) & 3);
    reading.secondRange = SecondRange((r.selection >> 3) & 3);
    return reading;
}

} // namespace

SampleStore::Span::Span() = default;
SampleStore::Span::Span(Span &&other) noexcept = default;
SampleStore::Span &SampleStore::Span::operator=(Span &&other) noexcept = default;
SampleStore::Span::~Span() = default;

Reading SampleStore::Span::reading(qint64 index) const
{
    return readingOf(records[index]);
}

SampleStore::Span SampleStore::copy(qint64 from, qint64 to) const
{
    from = std::max(from, firstSeq);
    to = std::min(to, endSeq);
    Span span;
    if (from >= to)
        return span;
    span.count = to - from;
    span.records.reset(new Record[span.count]);
    // At most two runs of the ring: up to its end, and on from its start.
    const qint64 begin = from % ringCapacity;
    const qint64 firstRun = std::min(span.count, ringCapacity - begin);
    std::copy(ring.get() + begin, ring.get() + begin + firstRun, span.records.get());
    std::copy(ring.get(), ring.get() + (span.count - firstRun), span.records.get() + firstRun);
    return span;
}

void SampleStore::values(qint64 seq, float *out) const
{
    const Reading r = reading(seq);
    for (int ch = 0; ch < 2; ++ch) {
        out[vmeasSeries(ch)] = float(measuredVolts(r, ch));
        out[vsetSeries(ch)] = float(setVolts(r, ch));
        out[imeasSeries(ch)] = float(measuredAmperes(r, ch));
    }
}

qint64 SampleStore::lowerBound(qint64 time, qint64 from, qint64 to) const
{
    from = std::max(from, firstSeq);
    to = std::min(to, endSeq);
    while (from < to) {
        const qint64 middle = from + (to - from) / 2;
        if (this->time(middle) < time)
            from = middle + 1;
        else
            to = middle;
    }
    return from;
}

bool SampleStore::gapBefore(qint64 seq) const
{
    return seq <= firstSeq || runningTime(seq) - runningTime(seq - 1) > GapMs;
}

Extent SampleStore::extent(qint64 from, qint64 to) const
{
    Extent result;
    result.reset();
    float v[SeriesCount];
    qint64 seq = std::max(from, firstSeq);
    to = std::min(to, endSeq);
    while (seq < to) {
        // The largest summary block that starts here and ends inside the range, else one record.
        const Level *used = nullptr;
        for (int l = LevelCount - 1; l >= 0 && !used; --l) {
            const qint64 length = qint64(1) << levels[l].shift;
            if ((seq & (length - 1)) == 0 && seq + length <= to)
                used = &levels[l];
        }
        if (used) {
            result.include(used->blocks[(seq >> used->shift) % used->slotCount]);
            seq += qint64(1) << used->shift;
        } else {
            values(seq, v);
            result.include(v, risingEvents(seq));
            ++seq;
        }
    }
    return result;
}

} // namespace Brelk
