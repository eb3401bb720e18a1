#include "samplestore.h"

#include <QtAlgorithms>
#include <QtEndian>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace Brelk {

namespace {

constexpr quint16 NamedEventsBothChannels = quint16(NamedEvents | (NamedEvents << 8));
constexpr qint64 TickMask = SampleStore::BlockTicks - 1;
// Bytes after the last row of a block that reading its bits may touch: a field is read as the
// eight bytes from its first one on, and a ninth when it straddles them.
constexpr int ReadSlack = 16;

quint16 packSelection(const Reading &reading)
{
    return quint16((reading.fineVoltage ? 1 : 0) | (int(reading.currentResolution) << 1) |
                   (int(reading.secondRange) << 3));
}

SampleStore::Tick tickOf(const Reading &reading, qint64 running, qint64 wall)
{
    SampleStore::Tick t;
    t.running = running;
    t.wall = wall;
    for (int ch = 0; ch < 2; ++ch) {
        t.words[SampleStore::Vset0 + ch] = reading.vset[ch];
        t.words[SampleStore::Vmeas0 + ch] = reading.vmeas[ch];
        t.words[SampleStore::Imeas0 + ch] = reading.imeas[ch];
        t.words[SampleStore::ImeasB0 + ch] = reading.imeas2[ch];
    }
    t.words[SampleStore::Status] = reading.status;
    t.words[SampleStore::Events] = reading.events;
    t.words[SampleStore::Selection] = packSelection(reading);
    return t;
}

void valuesOf(const Reading &r, float *out);

Reading readingOf(const SampleStore::Tick &t)
{
    Reading reading;
    reading.time = t.wall;
    for (int ch = 0; ch < 2; ++ch) {
        reading.vset[ch] = t.words[SampleStore::Vset0 + ch];
        reading.vmeas[ch] = t.words[SampleStore::Vmeas0 + ch];
        reading.imeas[ch] = t.words[SampleStore::Imeas0 + ch];
        reading.imeas2[ch] = t.words[SampleStore::ImeasB0 + ch];
    }
    reading.status = t.words[SampleStore::Status];
    reading.events = t.words[SampleStore::Events];
    const quint16 selection = t.words[SampleStore::Selection];
    reading.fineVoltage = selection & 1;
    reading.currentResolution = CurrentResolution((selection >> 1) & 3);
    reading.secondRange = SecondRange((selection >> 3) & 3);
    return reading;
}

qint64 fieldOf(const SampleStore::Tick &t, int field)
{
    if (field == 0)
        return t.running;
    if (field == 1)
        return t.wall - t.running;
    return t.words[field - 2];
}

// `width` bits (0 to 64) from bit `bit` on, the rows' bits running from each byte's lowest.
quint64 bitsAt(const uchar *data, quint64 bit, int width)
{
    const uchar *at = data + (bit >> 3);
    const int shift = int(bit & 7);
    quint64 v = qFromLittleEndian<quint64>(at) >> shift;
    if (shift + width > 64)
        v |= quint64(at[8]) << (64 - shift);
    return width >= 64 ? v : v & ((quint64(1) << width) - 1);
}

// Sets `width` bits from bit `bit` on, which are clear, to `value` (less than 2^width).
void putBits(uchar *data, quint64 bit, quint64 value, int width)
{
    uchar *at = data + (bit >> 3);
    const int shift = int(bit & 7);
    qToLittleEndian<quint64>(qFromLittleEndian<quint64>(at) | (value << shift), at);
    if (shift + width > 64)
        at[8] = uchar(at[8] | (value >> (64 - shift)));
}

// The bits of `word` that `mask` selects, moved together from the lowest on, and back.
quint64 gather(quint64 word, quint16 mask)
{
    quint64 code = 0;
    int k = 0;
    for (int bit = 0; bit < 16; ++bit) {
        if (mask & (1 << bit))
            code |= ((word >> bit) & 1) << k++;
    }
    return code;
}

quint64 scatter(quint64 code, quint16 mask)
{
    quint64 word = 0;
    int k = 0;
    for (int bit = 0; bit < 16; ++bit) {
        if (mask & (1 << bit))
            word |= ((code >> k++) & 1) << bit;
    }
    return word;
}

constexpr bool isMasked(int field)
{
    return field == 2 + SampleStore::Status || field == 2 + SampleStore::Events;
}

} // namespace

quint16 SampleStore::keptBits(int word)
{
    // Per channel byte: the state (error, manual, ramping, ramp up) and HV off.
    constexpr quint8 StateAndHv =
        StatusError | StatusManual | StatusRamping | StatusRampUp | StatusHvOff;
    if (word == Status)
        return quint16(StateAndHv | StateAndHv << 8);
    if (word == Events)
        return NamedEventsBothChannels;
    return 0xFFFF;
}

qint64 SampleStore::Block::field(int f, int i) const
{
    quint64 v = quint64(base[f]) + quint64(qint64(i) * slope[f]);
    if (width[f])
        v += bitsAt(data, quint64(i) * rowBits + bitOffset[f], width[f]) << dropped[f];
    if (aged && isMasked(f))
        v = scatter(v, keptBits(f - 2));
    return qint64(v);
}

SampleStore::Tick SampleStore::Block::tick(int i) const
{
    Tick t;
    t.running = field(0, i);
    t.wall = t.running + field(1, i);
    for (int w = 0; w < WordCount; ++w)
        t.words[w] = quint16(field(2 + w, i));
    return t;
}

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
    : maxRecords(std::max(capacity, 1)), keepMs(keepMs)
{
    const int shifts[LevelCount] = {6, 9, 12};
    for (int l = 0; l < LevelCount; ++l)
        levels[l].shift = shifts[l];
    runningClock.start();
}

SampleStore::~SampleStore() = default;

qint64 SampleStore::memoryBytes() const
{
    qint64 bytes = qint64(chunkCount()) * (ChunkBytes + ReadSlack) +
                   qint64(blocks.size() * sizeof(Block)) + qint64(open.capacity() * sizeof(Tick));
    for (const Level &level : levels)
        bytes += qint64(level.runs.size() * sizeof(Extent));
    return bytes;
}

void SampleStore::clear()
{
    firstSeq = endSeq;
    release();
}

// Frees the chunks of `queue` before chunk number `firstUsed`, keeping one for the next block.
void SampleStore::freeUnused(ChunkQueue &queue, qint64 firstUsed, std::unique_ptr<uchar[]> &spare)
{
    while (!queue.chunks.empty() && queue.first < firstUsed) {
        if (!spare)
            spare = std::move(queue.chunks.front().bytes);
        queue.chunks.pop_front();
        ++queue.first;
    }
}

// Frees the blocks, chunks and summaries of which no record is stored any more.
void SampleStore::release()
{
    while (!blocks.empty() && (firstBlock + 1) << BlockShift <= firstSeq) {
        blocks.pop_front();
        ++firstBlock;
        if (agedBlocks)
            --agedBlocks;
    }
    const qint64 none = std::numeric_limits<qint64>::max();
    freeUnused(aged, agedBlocks ? blocks.front().chunk : none, spare);
    freeUnused(recent, agedBlocks < blocks.size() ? blocks[agedBlocks].chunk : none, spare);
    for (Level &level : levels) {
        while (!level.runs.empty() && (level.first + 1) << level.shift <= firstSeq) {
            level.runs.pop_front();
            ++level.first;
        }
    }
}

SampleStore::Block SampleStore::pack(const Tick *ticks, quint16 eventsBefore, bool aging,
                                     ChunkQueue &queue)
{
    Block b;
    b.previousEvents = eventsBefore;
    b.aged = aging;
    qint64 rest[FieldCount][BlockTicks];
    int bits = 0;
    const auto valueOf = [aging](const Tick &t, int f) {
        const qint64 v = fieldOf(t, f);
        return aging && isMasked(f) ? qint64(gather(quint64(v), keptBits(f - 2))) : v;
    };
    // The line through the first and last tick, its slope rounded to the nearest integer so that
    // the poll's jitter at either end does not tilt it by a whole millisecond a tick.
    const auto fit = [&](int f, bool sloped) {
        const qint64 rise = valueOf(ticks[BlockTicks - 1], f) - valueOf(ticks[0], f);
        constexpr qint64 Half = (BlockTicks - 1) / 2;
        qint64 slope = sloped ? (rise >= 0 ? rise + Half : rise - Half) / (BlockTicks - 1) : 0;
        if (slope != qint32(slope))
            slope = 0;
        qint64 low = std::numeric_limits<qint64>::max();
        qint64 high = std::numeric_limits<qint64>::min();
        for (int i = 0; i < BlockTicks; ++i) {
            const qint64 r = valueOf(ticks[i], f) - i * slope;
            rest[f][i] = r;
            low = std::min(low, r);
            high = std::max(high, r);
        }
        const quint64 range = quint64(high) - quint64(low);
        b.base[f] = low;
        b.slope[f] = qint32(slope);
        b.width[f] = quint8(range ? 64 - qCountLeadingZeroBits(range) : 0);
        b.dropped[f] = 0;
    };
    // A word that jumps about is better kept without a line than along one through two of its
    // values.
    for (int f = 0; f < FieldCount; ++f) {
        fit(f, true);
        if (b.slope[f] != 0) {
            const quint8 sloped = b.width[f];
            fit(f, false);
            if (b.width[f] >= sloped)
                fit(f, true);
        }
        bits += b.width[f];
    }
    // The second range's currents give up low bits, the wider first, until the row fits. Without
    // a slope, rounding down keeps them at or above the block's least and within 16 bits.
    const int second[2] = {2 + ImeasB0, 2 + ImeasB1};
    if (aging && bits > AgedRowBits) {
        for (int f : second) {
            bits -= b.width[f];
            fit(f, false);
            bits += b.width[f];
        }
    }
    while (aging && bits > AgedRowBits) {
        const int f = b.width[second[0]] >= b.width[second[1]] ? second[0] : second[1];
        if (b.width[f] == 0)
            break;
        --b.width[f];
        ++b.dropped[f];
        --bits;
    }
    bits = 0;
    for (int f = 0; f < FieldCount; ++f) {
        b.bitOffset[f] = quint16(bits);
        bits += b.width[f];
    }
    b.rowBits = quint16(bits);

    const int bytes = b.bytes();
    if (queue.chunks.empty() || queue.chunks.back().used + bytes > ChunkBytes) {
        Chunk chunk;
        chunk.bytes = spare ? std::move(spare)
                            : std::unique_ptr<uchar[]>(new uchar[ChunkBytes + ReadSlack]());
        queue.chunks.push_back(std::move(chunk));
    }
    Chunk &chunk = queue.chunks.back();
    uchar *rows = chunk.bytes.get() + chunk.used;
    std::fill(rows, rows + bytes + ReadSlack, uchar(0));
    for (int i = 0; i < BlockTicks; ++i) {
        for (int f = 0; f < FieldCount; ++f) {
            if (b.width[f])
                putBits(rows, quint64(i) * b.rowBits + b.bitOffset[f],
                        (quint64(rest[f][i]) - quint64(b.base[f])) >> b.dropped[f], b.width[f]);
        }
    }
    chunk.used += bytes;
    b.data = rows;
    b.chunk = queue.first + qint64(queue.chunks.size()) - 1;
    return b;
}

// Packs the full block being filled.
void SampleStore::seal()
{
    if (blocks.empty())
        firstBlock = (endSeq - 1) >> BlockShift;
    blocks.push_back(pack(open.data(), openPreviousEvents, false, recent));
    open.clear();
}

// Packs again the blocks whose last tick is more than an hour older than the newest one.
void SampleStore::age()
{
    while (agedBlocks < blocks.size() &&
           blocks[agedBlocks].field(0, BlockTicks - 1) < newestRunning - AgeMs) {
        const Block &b = blocks[agedBlocks];
        Tick ticks[BlockTicks];
        for (int i = 0; i < BlockTicks; ++i)
            ticks[i] = b.tick(i);
        blocks[agedBlocks] = pack(ticks, b.previousEvents, true, aged);
        ++agedBlocks;
    }
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
    const qint64 oldest = runningMs - keepMs;
    while (!isEmpty() && runningTime(firstSeq) < oldest) {
        // A whole packed block at once when its last record has expired too.
        const qint64 blockEnd = (firstSeq | TickMask) + 1;
        if (firstSeq < openStart() && runningTime(blockEnd - 1) < oldest)
            firstSeq = blockEnd;
        else
            ++firstSeq;
    }
    if (size() >= maxRecords)
        ++firstSeq;
    if (isEmpty() || std::llabs(wall - (runningMs + offset)) > ClockStepMs)
        offset = wall - runningMs;
    newestRunning = runningMs;

    if (open.empty()) {
        open.reserve(BlockTicks);
        openPreviousEvents = previousEvents;
    }
    open.push_back(tickOf(reading, runningMs, wall));
    const quint16 rising = quint16(reading.events & ~previousEvents & NamedEventsBothChannels);
    previousEvents = reading.events;
    const qint64 seq = endSeq++;

    float v[SeriesCount];
    valuesOf(readingOf(open.back()), v);
    for (Level &level : levels) {
        const qint64 run = seq >> level.shift;
        if (level.runs.empty())
            level.first = run;
        if (run >= level.first + qint64(level.runs.size())) {
            level.runs.emplace_back();
            level.runs.back().reset();
        }
        level.runs.back().include(v, rising);
    }
    if (open.size() == size_t(BlockTicks))
        seal();
    // Expired blocks go before the others age, so that none is packed again only to be freed.
    release();
    age();
    release();
}

SampleStore::Tick SampleStore::tick(qint64 seq) const
{
    const qint64 openFirst = openStart();
    if (seq >= openFirst)
        return open[size_t(seq - openFirst)];
    return block(seq).tick(int(seq & TickMask));
}

qint64 SampleStore::time(qint64 seq) const
{
    return runningTime(seq) + offset;
}

qint64 SampleStore::runningTime(qint64 seq) const
{
    const qint64 openFirst = openStart();
    if (seq >= openFirst)
        return open[size_t(seq - openFirst)].running;
    return block(seq).field(0, int(seq & TickMask));
}

quint16 SampleStore::events(qint64 seq) const
{
    const qint64 openFirst = openStart();
    if (seq >= openFirst)
        return open[size_t(seq - openFirst)].words[Events];
    return quint16(block(seq).field(2 + Events, int(seq & TickMask)));
}

quint16 SampleStore::risingEvents(qint64 seq) const
{
    quint16 before;
    if (seq & TickMask)
        before = events(seq - 1);
    else
        before = seq >= openStart() ? openPreviousEvents : block(seq).previousEvents;
    return quint16(events(seq) & ~before & NamedEventsBothChannels);
}

Reading SampleStore::reading(qint64 seq) const
{
    return readingOf(tick(seq));
}

SampleStore::Span::Span() = default;
SampleStore::Span::Span(Span &&other) noexcept = default;
SampleStore::Span &SampleStore::Span::operator=(Span &&other) noexcept = default;
SampleStore::Span::~Span() = default;

Reading SampleStore::Span::reading(qint64 index) const
{
    const qint64 seq = start + index;
    if (seq >= openStart)
        return readingOf(open[size_t(seq - openStart)]);
    return readingOf(blocks[size_t((seq >> BlockShift) - firstBlock)].tick(int(seq & TickMask)));
}

SampleStore::Span SampleStore::copy(qint64 from, qint64 to) const
{
    from = std::max(from, firstSeq);
    to = std::min(to, endSeq);
    Span span;
    if (from >= to)
        return span;
    span.start = from;
    span.count = to - from;
    const qint64 openFirst = openStart();
    span.firstBlock = from >> BlockShift;
    span.openStart = std::max(from, openFirst);
    if (from < openFirst) {
        // The packed rows of every block the span touches, one after the other.
        const qint64 lastBlock = (std::min(to, openFirst) - 1) >> BlockShift;
        span.blocks.assign(blocks.begin() + (span.firstBlock - firstBlock),
                           blocks.begin() + (lastBlock + 1 - firstBlock));
        size_t total = 0;
        for (const Block &b : span.blocks)
            total += size_t(b.bytes());
        span.data.reset(new uchar[total + ReadSlack]);
        uchar *rows = span.data.get();
        for (Block &b : span.blocks) {
            rows = std::copy(b.data, b.data + b.bytes(), rows);
            b.data = rows - b.bytes();
        }
        std::fill(rows, rows + ReadSlack, uchar(0));
    }
    if (to > openFirst)
        span.open.assign(open.begin() + (span.openStart - openFirst),
                         open.begin() + (to - openFirst));
    return span;
}

void SampleStore::values(qint64 seq, float *out) const
{
    valuesOf(reading(seq), out);
}

namespace {

void valuesOf(const Reading &r, float *out)
{
    for (int ch = 0; ch < 2; ++ch) {
        out[vmeasSeries(ch)] = float(measuredVolts(r, ch));
        out[vsetSeries(ch)] = float(setVolts(r, ch));
        out[imeasSeries(ch)] = float(measuredAmperes(r, ch));
    }
}

} // namespace

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

void SampleStore::includeRecords(qint64 from, qint64 to, Extent &result) const
{
    float v[SeriesCount];
    const qint64 openFirst = openStart();
    quint16 before;
    if (from & TickMask)
        before = events(from - 1);
    else
        before = from >= openFirst ? openPreviousEvents : block(from).previousEvents;
    if (from >= openFirst) {
        for (qint64 seq = from; seq < to; ++seq) {
            const Tick &t = open[size_t(seq - openFirst)];
            valuesOf(readingOf(t), v);
            result.include(v, quint16(t.words[Events] & ~before & NamedEventsBothChannels));
            before = t.words[Events];
        }
        return;
    }
    // Only the words the plots draw, row after row, into one Reading.
    const Block &b = block(from);
    const int first = int(from & TickMask);
    constexpr int Drawn = 8;
    const int fields[Drawn] = {2 + Vset0,  2 + Vset1,  2 + Vmeas0,    2 + Vmeas1,
                               2 + Imeas0, 2 + Imeas1, 2 + Selection, 2 + Events};
    quint64 predicted[Drawn];
    quint64 bit[Drawn];
    for (int k = 0; k < Drawn; ++k) {
        const int f = fields[k];
        predicted[k] = quint64(b.base[f]) + quint64(qint64(first) * b.slope[f]);
        bit[k] = quint64(first) * b.rowBits + b.bitOffset[f];
    }
    // Every plotted quantity is its word times a positive factor that depends on the resolution
    // selection alone: the extreme words of a run with one selection give its extreme values.
    constexpr int Plotted = 6;
    quint16 low[Plotted];
    quint16 high[Plotted];
    quint16 selection = 0;
    quint16 rising = 0;
    bool empty = true;
    const auto flush = [&] {
        Reading r;
        r.fineVoltage = selection & 1;
        r.currentResolution = CurrentResolution((selection >> 1) & 3);
        for (const quint16 *words : {low, high}) {
            for (int ch = 0; ch < 2; ++ch) {
                r.vset[ch] = words[ch];
                r.vmeas[ch] = words[2 + ch];
                r.imeas[ch] = words[4 + ch];
            }
            valuesOf(r, v);
            result.include(v, rising);
        }
    };
    quint16 word[Drawn];
    for (qint64 seq = from; seq < to; ++seq) {
        for (int k = 0; k < Drawn; ++k) {
            const int width = b.width[fields[k]];
            word[k] = quint16(predicted[k] +
                              (width ? bitsAt(b.data, bit[k], width) << b.dropped[fields[k]] : 0));
            predicted[k] += quint64(qint64(b.slope[fields[k]]));
            bit[k] += b.rowBits;
        }
        if (b.aged)
            word[7] = quint16(scatter(word[7], keptBits(Events)));
        const quint16 scale = word[6] & 7;
        if (!empty && scale != selection) {
            flush();
            empty = true;
        }
        if (empty) {
            std::copy(word, word + Plotted, low);
            std::copy(word, word + Plotted, high);
            selection = scale;
            rising = 0;
            empty = false;
        }
        for (int k = 0; k < Plotted; ++k) {
            low[k] = std::min(low[k], word[k]);
            high[k] = std::max(high[k], word[k]);
        }
        rising |= quint16(word[7] & ~before & NamedEventsBothChannels);
        before = word[7];
    }
    if (!empty)
        flush();
}

Extent SampleStore::extent(qint64 from, qint64 to) const
{
    Extent result;
    result.reset();
    qint64 seq = std::max(from, firstSeq);
    to = std::min(to, endSeq);
    while (seq < to) {
        // The largest summary run that starts here and ends inside the range, else the records
        // up to the next run of the shortest summaries.
        const Level *used = nullptr;
        for (int l = LevelCount - 1; l >= 0 && !used; --l) {
            const qint64 length = qint64(1) << levels[l].shift;
            if ((seq & (length - 1)) == 0 && seq + length <= to)
                used = &levels[l];
        }
        if (used) {
            result.include(used->runs[size_t((seq >> used->shift) - used->first)]);
            seq += qint64(1) << used->shift;
        } else {
            const qint64 runEnd = std::min(to, (seq | ((qint64(1) << levels[0].shift) - 1)) + 1);
            includeRecords(seq, runEnd, result);
            seq = runEnd;
        }
    }
    return result;
}

} // namespace Brelk
