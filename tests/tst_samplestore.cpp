// The sample store and its reduction to pixel columns: expiry by running time, steps of the wall
// clock, the full ring, block summaries against their records; packed blocks that read back every
// field, gaps and rising events across block boundaries, aged blocks, memory and chunks that follow
// the ticks held. Also the trend axes' SI labels and time ticks in zones either side of UTC.
#include "axisscale.h"
#include "columnreduction.h"
#include "csvformat.h"
#include "localzone.h"
#include "readinghistory.h"
#include "samplestore.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cstdlib>

using namespace Brelk;

namespace {

const qint64 T0 = 1796640133000; // 2026-12-07 10:42:13 UTC

Reading tick(qint64 time, quint16 vmeasA = 0, quint16 events = 0)
{
    Reading r;
    r.time = time;
    r.vmeas[0] = vmeasA;
    r.events = events;
    return r;
}

// Appends a tick taken when the running clock agreed with the wall clock, T0 at running time 0.
void add(SampleStore &store, const Reading &reading)
{
    store.append(reading, reading.time - T0);
}

// The words a record keeps, as text that names the differing word when a comparison fails.
QString wordsOf(const Reading &r)
{
    return QString::asprintf("time %lld selection %d %d %d vset %d %d vmeas %d %d imeas %d %d "
                             "imeas2 %d %d status %d events %d",
                             r.time, int(r.fineVoltage), int(r.currentResolution),
                             int(r.secondRange), r.vset[0], r.vset[1], r.vmeas[0], r.vmeas[1],
                             r.imeas[0], r.imeas[1], r.imeas2[0], r.imeas2[1], r.status, r.events);
}

// What the plots and the export show of a record: the words without the status and event bits
// they never read, nor the second range's currents.
QString shownWords(Reading r)
{
    r.status &= SampleStore::keptBits(SampleStore::Status);
    r.events &= SampleStore::keptBits(SampleStore::Events);
    r.imeas2[0] = r.imeas2[1] = 0;
    return wordsOf(r);
}

enum class Words { Steady, FullRange, Random, Changing };

// A sequence of ticks with their running times, as a module's poll would produce them.
struct TickSource
{
    Words words = Words::Steady;
    bool jitter = false;
    qint64 gapAt = -1; // the tick before which `gapMs` more of running time pass
    qint64 gapMs = 0;
    qint64 stepAt = -1; // the tick from which on the wall clock is `stepMs` off
    qint64 stepMs = 0;
    QRandomGenerator random{11};
    qint64 base = 0;
    qint64 running = 0;

    Reading next(int i)
    {
        // The poll's timer fires late by up to 30 ms, without drifting.
        base += i == 0 ? 0 : 100;
        if (i == gapAt)
            base += gapMs;
        running = std::max(running, base + (jitter ? random.bounded(31) : 0));
        Reading r;
        r.time = T0 + running + (i >= stepAt && stepAt >= 0 ? stepMs : 0) +
                 (jitter ? random.bounded(3) : 0);
        switch (words) {
        case Words::Steady:
            r.vset[0] = 1000;
            r.vmeas[0] = 998;
            r.imeas[1] = 17;
            r.status = 0x0404;
            r.events = i % 128 < 2 ? EventTRP : 0;
            break;
        case Words::FullRange:
            for (quint16 *w : {&r.vset[0], &r.vset[1], &r.vmeas[0], &r.vmeas[1], &r.imeas[0],
                               &r.imeas[1], &r.imeas2[0], &r.imeas2[1], &r.status, &r.events})
                *w = (i / 3) % 2 ? 0xFFFF : 0;
            r.fineVoltage = i % 2;
            r.currentResolution = (i / 2) % 2 ? CurrentResolution::nA1 : CurrentResolution::uA1;
            r.secondRange = (i / 5) % 2 ? SecondRange::pA100 : SecondRange::None;
            break;
        case Words::Random:
            for (quint16 *w : {&r.vset[0], &r.vset[1], &r.vmeas[0], &r.vmeas[1], &r.imeas[0],
                               &r.imeas[1], &r.imeas2[0], &r.imeas2[1], &r.status, &r.events})
                *w = quint16(random.bounded(65536));
            r.fineVoltage = random.bounded(2);
            r.currentResolution = CurrentResolution(random.bounded(4));
            r.secondRange = SecondRange(random.bounded(3));
            break;
        case Words::Changing:
            // Every word moves every tick by what a ramping, noisy, tripping module shows.
            for (int ch = 0; ch < 2; ++ch) {
                r.vset[ch] = quint16((i * (3 + ch)) % 6001);
                r.vmeas[ch] = quint16(r.vset[ch] + random.bounded(256));
                r.imeas[ch] = quint16(2000 + random.bounded(4096));
                r.imeas2[ch] = quint16(30000 + random.bounded(4096));
            }
            r.status = quint16(0x0400 | random.bounded(256));
            r.events = quint16(random.bounded(65536) & (NamedEvents | NamedEvents << 8));
            r.fineVoltage = i % 2;
            break;
        }
        return r;
    }
};

// The extent of the records [from, to) must be the one of their values and rising events.
void compareExtent(const SampleStore &store, qint64 from, qint64 to)
{
    Extent expected;
    expected.reset();
    float v[SeriesCount];
    for (qint64 seq = from; seq < to; ++seq) {
        store.values(seq, v);
        expected.include(v, store.risingEvents(seq));
    }
    const Extent e = store.extent(from, to);
    for (int s = 0; s < SeriesCount; ++s) {
        QCOMPARE(e.minimum[s], expected.minimum[s]);
        QCOMPARE(e.maximum[s], expected.maximum[s]);
    }
    QCOMPARE(e.rising, expected.rising);
}

} // namespace

Q_DECLARE_METATYPE(Words)
Q_DECLARE_METATYPE(TickSource)

class TestSampleStore : public QObject
{
    Q_OBJECT

private slots:
    void expiry();
    void clockSteps_data();
    void clockSteps();
    void summariesAgreeWithRecords();
    void packedTicksReadBack_data();
    void packedTicksReadBack();
    void memoryFollowsTheTicksHeld_data();
    void memoryFollowsTheTicksHeld();
    void expiryFreesChunks();
    void earlierReadingsGoInFront_data();
    void earlierReadingsGoInFront();
    void reduceColumns_data();
    void reduceColumns();
    void siText_data();
    void siText();
    void timeTicks_data();
    void timeTicks();
};

// Age is running time: neither a step of the wall clock nor its size expires a record.
void TestSampleStore::expiry()
{
    SampleStore store;
    // The first summary run, 64 ticks of 1 V.
    for (int i = 0; i < 64; ++i)
        store.append(tick(T0 + 100 * i, 1), 100 * i);
    // A day of running time after the first tick, with the wall clock two days behind.
    store.append(tick(T0 - SampleStore::DayMs, 2), SampleStore::DayMs);
    // A record exactly 24 h older than the newest one is still kept.
    QCOMPARE(store.size(), 65);
    // The wall clock three days ahead: only the running time tells what is older than a day.
    store.append(tick(T0 + 3 * SampleStore::DayMs, 3), SampleStore::DayMs + 6400);
    QCOMPARE(store.size(), 2);
    QCOMPARE(store.first(), qint64(64));
    QCOMPARE(store.reading(store.first()).vmeas[0], quint16(2));
    // A range from before the oldest record starts at it: the summary of the dropped block is
    // not read.
    QCOMPARE(store.extent(0, store.end()).minimum[VmeasA], 2.0f);
}

void TestSampleStore::clockSteps_data()
{
    // Five ticks 100 ms of running time apart, the wall clock stepped by `step` after the third.
    QTest::addColumn<qint64>("step");
    // Where the newest tick lies on the time axis, from T0 at the first tick.
    QTest::addColumn<qint64>("newestAxis");
    QTest::newRow("back 1 s: jitter") << qint64(-1000) << qint64(400);
    QTest::newRow("back 1.5 s") << qint64(-1500) << qint64(400 - 1500);
    QTest::newRow("forward 900 ms: jitter") << qint64(900) << qint64(400);
}

// Nothing is lost, every record keeps its wall-clock time, and the plot draws one unbroken line:
// the axis follows running time, placed so that the newest tick sits at the wall clock.
void TestSampleStore::clockSteps()
{
    QFETCH(qint64, step);
    QFETCH(qint64, newestAxis);
    SampleStore store(100);
    QList<qint64> wall;
    for (int i = 0; i < 5; ++i) {
        wall << T0 + 100 * i + (i >= 3 ? step : 0);
        store.append(tick(wall.last(), quint16(i)), 100 * i);
    }
    QCOMPARE(store.size(), 5);
    QCOMPARE(store.time(store.end() - 1), T0 + newestAxis);
    const SampleStore::Span copy = store.copy(store.first(), store.end());
    QCOMPARE(copy.size(), qint64(5));
    std::vector<Column> columns(5);
    Brelk::reduceColumns(store, double(store.time(store.first())), 100.0, columns.data(), 5);
    for (int i = 0; i < 5; ++i) {
        const qint64 seq = store.first() + i;
        QCOMPARE(store.reading(seq).time, wall[i]);
        QCOMPARE(copy.reading(i).time, wall[i]);
        QCOMPARE(copy.reading(i).vmeas[0], quint16(i));
        QCOMPARE(store.time(seq), T0 + newestAxis - 100 * (4 - i));
        QCOMPARE(store.lowerBound(store.time(seq)), seq);
        QCOMPARE(store.gapBefore(seq), i == 0);
        QCOMPARE(int(columns[i].endSeq - columns[i].firstSeq), 1);
        QCOMPARE(columns[i].joinsPrevious, i > 0);
    }
}

// Ranges of every alignment against the summaries of 64, 512 and 4096 records, in a full ring.
void TestSampleStore::summariesAgreeWithRecords()
{
    SampleStore store(10000);
    QRandomGenerator random(7);
    for (int i = 0; i < 13000; ++i) {
        // A TRP on A now and then; on B one from tick 5000 on, which rises there only.
        Reading r =
            tick(T0 + 100 * i, quint16(random.bounded(65536)),
                 quint16((random.bounded(50) == 0 ? 0x0002 : 0) | (i >= 5000 ? 0x0200 : 0)));
        r.imeas[1] = quint16(random.bounded(65536));
        r.vset[0] = quint16(random.bounded(6001));
        // The resolution changes now and then inside a summary run, and with it the scale.
        r.fineVoltage = (i / 40) % 3 == 0;
        r.currentResolution = CurrentResolution((i / 70) % 4);
        r.imeas2[0] = quint16(i);
        add(store, r);
    }
    // The full ring has dropped its oldest records, and only those.
    QCOMPARE(store.size(), 10000);
    QCOMPARE(store.first(), qint64(3000));
    for (qint64 seq = store.first(); seq < store.end(); ++seq)
        QCOMPARE(store.reading(seq).imeas2[0], quint16(seq));
    for (int trial = 0; trial < 300; ++trial) {
        const qint64 a = store.first() + random.bounded(store.size());
        compareExtent(store, a, a + 1 + random.bounded(int(store.end() - a)));
        if (QTest::currentTestFailed())
            return;
    }
}

void TestSampleStore::packedTicksReadBack_data()
{
    QTest::addColumn<int>("ticks");
    // Its words, jitter, a gap of running time before a tick, a step of the wall clock from one.
    QTest::addColumn<TickSource>("source");
    // How far below the appended value an aged record's second range current may read back.
    QTest::addColumn<int>("secondRangeError");
    const qint64 day = SampleStore::DayMs;
    QTest::newRow("every word across its whole range") << 700 << TickSource{Words::FullRange} << 0;
    QTest::newRow("random words") << 700 << TickSource{Words::Random, true} << 0;
    QTest::newRow("gap at a block's first tick")
        << 600 << TickSource{Words::Changing, false, 256, 5000} << 0;
    // 100 ms of the poll and the gap: just over a second, and a second exactly, which is no gap.
    QTest::newRow("gap at a block's last tick")
        << 600 << TickSource{Words::Steady, false, 255, 901} << 0;
    QTest::newRow("no gap after a second")
        << 600 << TickSource{Words::Steady, false, 300, 900} << 0;
    QTest::newRow("gap of 60 days inside a block")
        << 600 << TickSource{Words::Random, true, 300, 60 * day} << 0xFFFF;
    QTest::newRow("wall clock back 2 days at a block's first tick")
        << 600 << TickSource{Words::Steady, true, -1, 0, 512, -2 * day} << 0;
    QTest::newRow("wall clock forward 1 h at a block's second tick")
        << 600 << TickSource{Words::FullRange, false, -1, 0, 257, 3600000} << 0;
    QTest::newRow("gap and clock step at the same block boundary")
        << 600 << TickSource{Words::Random, false, 256, 1001, 256, -2000} << 0;
    // An hour and five blocks: the five oldest blocks are aged. Exact times leave the second
    // range 7 bits of the 128: 4 and 3 of its 16 and 16.
    const int hour = 36000 + 5 * SampleStore::BlockTicks + 100;
    QTest::newRow("aged, steady") << hour << TickSource{Words::Steady, true} << 0;
    QTest::newRow("aged, every word changing") << hour << TickSource{Words::Changing, true} << 0;
    QTest::newRow("aged, every word across its whole range")
        << hour << TickSource{Words::FullRange} << (1 << 13) - 1;
    QTest::newRow("aged, random words") << hour << TickSource{Words::Random, true} << 0xFFFF;
}

// Every field of every record reads back as appended, from the store and from copies; blocks more
// than an hour older than the newest tick keep what the plots and the export show.
void TestSampleStore::packedTicksReadBack()
{
    QFETCH(int, ticks);
    QFETCH(TickSource, source);
    QFETCH(int, secondRangeError);

    SampleStore store(1000000, 1000 * SampleStore::DayMs);
    QList<Reading> in;
    QList<qint64> running;
    for (int i = 0; i < ticks; ++i) {
        in << source.next(i);
        running << source.running;
        store.append(in.last(), running.last());
    }
    QCOMPARE(store.size(), ticks);
    // The newest tick sits at its wall-clock time, give or take the poll's jitter.
    QVERIFY(std::abs(store.axisOffset() - (in.last().time - running.last())) <=
            SampleStore::ClockStepMs);
    quint16 previousEvents = 0;
    int aged = 0;
    for (int i = 0; i < ticks; ++i) {
        const qint64 seq = store.first() + i;
        // A block more than an hour older than the newest tick keeps what is shown.
        const int blockLast = i | (SampleStore::BlockTicks - 1);
        const Reading out = store.reading(seq);
        if (blockLast < ticks && running[blockLast] < running.last() - SampleStore::AgeMs) {
            aged = i + 1;
            QCOMPARE(shownWords(out), shownWords(in[i]));
            for (int ch = 0; ch < 2; ++ch) {
                QVERIFY(out.imeas2[ch] <= in[i].imeas2[ch]);
                QVERIFY(in[i].imeas2[ch] - out.imeas2[ch] <= secondRangeError);
            }
            if (secondRangeError == 0)
                QCOMPARE(csvRow(out, out.events), csvRow(in[i], in[i].events));
        } else {
            QCOMPARE(wordsOf(out), wordsOf(in[i]));
        }
        QCOMPARE(store.runningTime(seq), running[i]);
        QCOMPARE(store.time(seq), running[i] + store.axisOffset());
        QCOMPARE(store.gapBefore(seq), i == 0 || running[i] - running[i - 1] > 1000);
        QCOMPARE(int(store.risingEvents(seq)),
                 in[i].events & ~previousEvents & (NamedEvents | NamedEvents << 8));
        previousEvents = in[i].events;
        if (i == 0 || running[i] > running[i - 1])
            QCOMPARE(store.lowerBound(store.time(seq)), seq);
    }
    // Copies from inside a packed block to inside the block being filled, and of one tick.
    for (const auto &range : {qMakePair(37, ticks - 5), qMakePair(0, ticks), qMakePair(1, 2)}) {
        const SampleStore::Span span =
            store.copy(store.first() + range.first, store.first() + range.second);
        QCOMPARE(span.size(), qint64(range.second - range.first));
        for (int i = 0; i < span.size(); ++i)
            QCOMPARE(wordsOf(span.reading(i)),
                     wordsOf(store.reading(store.first() + range.first + i)));
    }
    // Ranges that start in aged blocks have the extents and rising edges of the ticks appended.
    QRandomGenerator random(5);
    for (int trial = 0; aged > 0 && trial < 200; ++trial) {
        const int a = random.bounded(aged);
        compareExtent(store, a, a + 1 + random.bounded(trial % 2 ? 300 : aged + 300 - a));
        if (QTest::currentTestFailed())
            return;
    }
    if (ticks > 36000)
        QCOMPARE(aged, 5 * SampleStore::BlockTicks);
}

void TestSampleStore::memoryFollowsTheTicksHeld_data()
{
    QTest::addColumn<Words>("words");
    QTest::addColumn<double>("hourMiB");
    QTest::addColumn<double>("dayMiB");
    const double chunk = SampleStore::ChunkBytes / 1048576.0;
    QTest::newRow("every word changing") << Words::Changing << 16.0 / 24 + chunk << 16.0;
    // An hour keeps every word as it came; older blocks drop what is not shown.
    QTest::newRow("random words") << Words::Random << 1.0 + chunk << 16.0;
    QTest::newRow("steady") << Words::Steady << 16.0 / 24 + chunk << 4.0;
}

// Nothing is taken up front; a day of ticks takes at most 16 MiB whatever the words do, an hour
// of them about a twenty-fourth of that, a steady day far less.
void TestSampleStore::memoryFollowsTheTicksHeld()
{
    QFETCH(Words, words);
    QFETCH(double, hourMiB);
    QFETCH(double, dayMiB);
    SampleStore store;
    QVERIFY(store.memoryBytes() < 64 * 1024);
    TickSource source{words, true};
    for (int i = 0; i < SampleStore::DayCapacity; ++i) {
        store.append(source.next(i), source.running);
        if (i == 36000)
            QVERIFY2(store.memoryBytes() <= qint64(hourMiB * 1048576),
                     qPrintable(QString::number(store.memoryBytes())));
    }
    QCOMPARE(store.size(), SampleStore::DayCapacity);
    QVERIFY2(store.memoryBytes() <= qint64(dayMiB * 1048576),
             qPrintable(QString::number(store.memoryBytes())));
}

// A store that keeps an hour of ticks of random words, some 3.2 chunks: old chunks are freed or
// reused as their ticks expire, and a copy of the hour, which crosses chunks, still reads the
// ticks it took after the store dropped them and overwrote their chunks.
void TestSampleStore::expiryFreesChunks()
{
    SampleStore store(SampleStore::DayCapacity, 3600000);
    TickSource source{Words::Random};
    QList<Reading> in;
    int maxChunks = 0;
    for (int i = 0; i < 100000; ++i) {
        in << source.next(i);
        store.append(in.last(), source.running);
        maxChunks = std::max(maxChunks, store.chunkCount());
    }
    QCOMPARE(store.size(), 36001);
    // Kept all, the 100,000 ticks would fill 9 chunks.
    QVERIFY2(maxChunks <= 6, qPrintable(QString::number(maxChunks)));

    const qint64 from = store.first() + 3;
    const SampleStore::Span span = store.copy(from, store.end());
    QCOMPARE(span.size(), qint64(35998));
    for (int i = 100000; i < 140000; ++i)
        store.append(source.next(i), source.running);
    QVERIFY(store.first() > from + span.size());
    for (int i = 0; i < span.size(); ++i)
        QCOMPARE(wordsOf(span.reading(i)), wordsOf(in[int(from) + i]));

    // A day later only the new tick is left, and one chunk is kept for the next blocks.
    store.append(tick(T0), source.running + SampleStore::DayMs);
    QCOMPARE(store.size(), 1);
    QCOMPARE(store.chunkCount(), 1);
    QVERIFY(store.memoryBytes() < SampleStore::ChunkBytes + 64 * 1024);
}

// Live ticks at T0 + running time; earlier ticks at their axis times (ms after T0). The store
// afterwards: "ms-after-T0 vmeasA" per record.
void TestSampleStore::earlierReadingsGoInFront_data()
{
    QTest::addColumn<QList<qint64>>("live");
    QTest::addColumn<QList<qint64>>("earlier");
    QTest::addColumn<QStringList>("records");

    QTest::newRow("all before the first live tick")
        << QList<qint64>{1000, 1100} << QList<qint64>{-500, 0, 900}
        << QStringList{"-500 1", "0 1", "900 1", "1000 2", "1100 2"};
    QTest::newRow("those at or after the first live tick left out")
        << QList<qint64>{1000, 1100} << QList<qint64>{900, 1000, 1050}
        << QStringList{"900 1", "1000 2", "1100 2"};
    QTest::newRow("none before: unchanged")
        << QList<qint64>{1000} << QList<qint64>{1000, 2000} << QStringList{"1000 2"};
}

void TestSampleStore::earlierReadingsGoInFront()
{
    QFETCH(QList<qint64>, live);
    QFETCH(QList<qint64>, earlier);
    QFETCH(QStringList, records);

    ReadingHistory history;
    for (qint64 ms : live)
        history.addEarlierReading(tick(T0 + ms, 2), ms);
    std::vector<Reading> fetched;
    for (qint64 ms : earlier)
        fetched.push_back(tick(T0 + ms, 1));
    QSignalSpy replaced(&history, &ReadingHistory::samplesReplaced);
    history.addEarlierReadings(fetched);
    QCOMPARE(replaced.count(), records.size() == live.size() ? 0 : 1);

    const SampleStore &store = history.samples();
    QStringList found;
    for (qint64 seq = store.first(); seq < store.end(); ++seq) {
        QCOMPARE(store.reading(seq).time, store.time(seq));
        found << QStringLiteral("%1 %2").arg(store.time(seq) - T0).arg(store.reading(seq).vmeas[0]);
    }
    QCOMPARE(found, records);
    // The live ticks keep their running times.
    for (int i = 0; i < live.size(); ++i)
        QCOMPARE(store.runningTime(store.end() - live.size() + i), live[i]);
}

void TestSampleStore::reduceColumns_data()
{
    // Ticks at T0 + offset with channel A's measured voltage; columns of 1000 ms from T0.
    QTest::addColumn<QList<qint64>>("offsets");
    QTest::addColumn<QList<int>>("volts");
    // Per column: count of records, first, min, max, last, joinsPrevious.
    QTest::addColumn<QList<QList<int>>>("columns");
    QTest::newRow("one column of several ticks, one empty, one of one")
        << QList<qint64>{0, 100, 200, 900, 2000} << QList<int>{5, 9, 1, 4, 7}
        << QList<QList<int>>{{4, 5, 1, 9, 4, 0}, {0}, {1, 7, 7, 7, 7, 0}};
    QTest::newRow("joined across an empty column when no gap")
        << QList<qint64>{900, 1500, 1900, 2500} << QList<int>{1, 2, 3, 4}
        << QList<QList<int>>{{1, 1, 1, 1, 1, 0}, {2, 2, 2, 3, 3, 1}, {1, 4, 4, 4, 4, 1}};
    QTest::newRow("ticks before the span do not count, a gap breaks the line")
        << QList<qint64>{-500, -100, 300, 2400} << QList<int>{100, 50, 3, 8}
        << QList<QList<int>>{{1, 3, 3, 3, 3, 0}, {0}, {1, 8, 8, 8, 8, 0}};
}

void TestSampleStore::reduceColumns()
{
    QFETCH(QList<qint64>, offsets);
    QFETCH(QList<int>, volts);
    QFETCH(QList<QList<int>>, columns);
    SampleStore store(100);
    for (int i = 0; i < offsets.size(); ++i)
        add(store, tick(T0 + offsets[i], quint16(volts[i])));
    std::vector<Column> out(columns.size());
    Brelk::reduceColumns(store, T0, 1000.0, out.data(), int(out.size()));
    for (int c = 0; c < columns.size(); ++c) {
        const QList<int> &want = columns[c];
        QCOMPARE(int(out[c].endSeq - out[c].firstSeq), want[0]);
        if (want[0] == 0)
            continue;
        QCOMPARE(out[c].first[VmeasA], float(want[1]));
        QCOMPARE(out[c].extent.minimum[VmeasA], float(want[2]));
        QCOMPARE(out[c].extent.maximum[VmeasA], float(want[3]));
        QCOMPARE(out[c].last[VmeasA], float(want[4]));
        QCOMPARE(out[c].joinsPrevious, want[5] != 0);
    }
}

void TestSampleStore::siText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<double>("step");
    QTest::addColumn<QString>("text");
    const QString micro = QString::fromUtf8("\xc2\xb5");
    QTest::newRow("three digits") << 12.5e-6 << "A" << 0.0 << "12.5 " + micro + "A";
    QTest::newRow("pico") << 100e-12 << "A" << 0.0 << "100 pA";
    QTest::newRow("zero") << 0.0 << "A" << 0.0 << "0 A";
    QTest::newRow("rounds up into the next prefix") << 999.9e-9 << "A" << 0.0 << "1 " + micro + "A";
    QTest::newRow("9995 counts of 100 nA") << 9995 * 1e-7 << "A" << 0.0 << "1 mA";
    QTest::newRow("stays below it") << 999.4e-6 << "A" << 0.0 << "999 " + micro + "A";
    QTest::newRow("negative") << -2.5e-9 << "A" << 0.0 << "-2.5 nA";
    QTest::newRow("kilo") << 1500.0 << "V" << 0.0 << "1.5 kV";
    QTest::newRow("below pico") << 2e-15 << "A" << 0.0 << "0.002 pA";
    QTest::newRow("step of 1 nA") << 10.002e-6 << "A" << 1e-9 << "10.002 " + micro + "A";
    QTest::newRow("tick of a 0.5 uA step") << 0.5e-6 << "A" << 0.5e-6 << "500 nA";
    QTest::newRow("9995 counts at the 100 nA step")
        << 9995 * 1e-7 << "A" << 1e-7 << "999.5 " + micro + "A";
    QTest::newRow("10000 counts at the 100 nA step") << 1e-3 << "A" << 1e-7 << "1.0000 mA";
}

void TestSampleStore::siText()
{
    QFETCH(double, value);
    QFETCH(QString, unit);
    QFETCH(double, step);
    QFETCH(QString, text);
    QCOMPARE(Brelk::siText(value, unit, step), text);
}

void TestSampleStore::timeTicks_data()
{
    // Each span of the history window across a plot 800 pixels wide, labels at least 90 apart,
    // from 10:42:13.250 local time, in zones whose offsets are not whole hours and lie on either
    // side of UTC: ticks fall on the local clock's round values, never on UTC's.
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<int>("offsetMinutes");
    QTest::addColumn<qint64>("span");
    QTest::addColumn<qint64>("step");
    QTest::addColumn<QString>("firstTick");
    const struct
    {
        const char *name;
        const char *tz;
        int offsetMinutes;
    } zones[] = {
        {"UTC", "UTC0", 0}, {"+05:30", "<+0530>-5:30", 330}, {"-03:30", "<-0330>3:30", -210}};
    for (const auto &zone : zones) {
        const auto row = [&zone](const char *span) -> QTestData & {
            return QTest::addRow("%s, %s", span, zone.name)
                   << QByteArray(zone.tz) << zone.offsetMinutes;
        };
        row("1 min") << qint64(60000) << qint64(10000) << "10:42:20";
        row("10 min") << qint64(600000) << qint64(120000) << "10:44";
        row("1 h") << qint64(3600000) << qint64(600000) << "10:50";
        row("8 h") << qint64(8 * 3600000) << qint64(3600000) << "11:00";
        row("24 h") << qint64(24 * 3600000) << qint64(3 * 3600000) << "12:00";
    }
}

void TestSampleStore::timeTicks()
{
    QFETCH(QByteArray, zone);
    QFETCH(int, offsetMinutes);
    QFETCH(qint64, span);
    QFETCH(qint64, step);
    QFETCH(QString, firstTick);
    const LocalZone local(zone);
    const qint64 start =
        QDateTime(QDate(2026, 12, 7), QTime(10, 42, 13, 250), Qt::LocalTime).toMSecsSinceEpoch();
    // The zone really is in force, not one Qt cached before.
    QCOMPARE(start,
             QDateTime(QDate(2026, 12, 7), QTime(10, 42, 13, 250), Qt::UTC).toMSecsSinceEpoch() -
                 offsetMinutes * 60000LL);
    QCOMPARE(timeStep(span / 800.0, 90), step);
    const qint64 tick = firstTimeTick(start, step);
    QCOMPARE(timeTickText(tick, step), firstTick);
    QVERIFY(tick >= start && tick - step < start);
    QCOMPARE(firstTimeTick(tick, step), tick);
}

QTEST_GUILESS_MAIN(TestSampleStore)
#include "tst_samplestore.moc"
