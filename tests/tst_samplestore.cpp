// The sample store and its reduction to pixel columns: gaps, expiry after the kept span of running
// time, steps of the wall clock, the ring dropping its oldest record, rising event edges, records
// that convert back to the tick's words, and block summaries that agree with the records they
// summarise. Also the trend axes' SI labels and time ticks.
#include "axisscale.h"
#include "columnreduction.h"
#include "samplestore.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>

using namespace Brelk;

Q_DECLARE_METATYPE(CurrentResolution)
Q_DECLARE_METATYPE(SecondRange)

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

} // namespace

class TestSampleStore : public QObject
{
    Q_OBJECT

private slots:
    void gaps_data();
    void gaps();
    void expiry();
    void fullRingDropsOldest();
    void clockSteps_data();
    void clockSteps();
    void recordKeepsTheWords_data();
    void recordKeepsTheWords();
    void risingEdges_data();
    void risingEdges();
    void summariesAgreeWithRecords();
    void reduceColumns_data();
    void reduceColumns();
    void siText_data();
    void siText();
    void timeTicks_data();
    void timeTicks();
};

void TestSampleStore::gaps_data()
{
    QTest::addColumn<QList<qint64>>("offsets");
    QTest::addColumn<QList<bool>>("gapBefore");
    QTest::newRow("steady poll") << QList<qint64>{0, 100, 200, 300}
                                 << QList<bool>{true, false, false, false};
    QTest::newRow("missed ticks, one second exactly")
        << QList<qint64>{0, 100, 1100, 1400} << QList<bool>{true, false, false, false};
    QTest::newRow("just over one second")
        << QList<qint64>{0, 1001, 1101, 5000} << QList<bool>{true, true, false, true};
}

void TestSampleStore::gaps()
{
    QFETCH(QList<qint64>, offsets);
    QFETCH(QList<bool>, gapBefore);
    SampleStore store(100);
    for (qint64 offset : offsets)
        add(store, tick(T0 + offset));
    QCOMPARE(store.size(), offsets.size());
    for (int i = 0; i < offsets.size(); ++i) {
        QCOMPARE(store.time(store.first() + i), T0 + offsets[i]);
        QCOMPARE(store.gapBefore(store.first() + i), gapBefore[i]);
    }
}

// Age is running time: neither a step of the wall clock nor its size expires a record.
void TestSampleStore::expiry()
{
    SampleStore store;
    QCOMPARE(store.capacity(), 864000);
    QCOMPARE(store.keptMs(), 24 * 3600 * 1000);
    QVERIFY(store.memoryBytes() <= 32 * 1024 * 1024);

    // The first summary block, sixteen ticks of 1 V.
    for (int i = 0; i < 16; ++i)
        store.append(tick(T0 + 100 * i, 1), 100 * i);
    // A day of running time after the first tick, with the wall clock two days behind.
    store.append(tick(T0 - SampleStore::DayMs, 2), SampleStore::DayMs);
    // A record exactly 24 h older than the newest one is still kept.
    QCOMPARE(store.size(), 17);
    // The wall clock three days ahead: only the running time tells what is older than a day.
    store.append(tick(T0 + 3 * SampleStore::DayMs, 3), SampleStore::DayMs + 1600);
    QCOMPARE(store.size(), 2);
    QCOMPARE(store.first(), qint64(16));
    QCOMPARE(store.reading(store.first()).vmeas[0], quint16(2));
    // A range from before the oldest record starts at it: the summary of the dropped block is
    // not read.
    QCOMPARE(store.extent(0, store.end()).minimum[VmeasA], 2.0f);
    // A day later everything before it is gone.
    store.append(tick(T0, 5), 3 * SampleStore::DayMs);
    QCOMPARE(store.size(), 1);
    QVERIFY(store.gapBefore(store.first()));
}

void TestSampleStore::fullRingDropsOldest()
{
    SampleStore store(50);
    for (int i = 0; i < 120; ++i)
        add(store, tick(T0 + 100 * i, quint16(i)));
    QCOMPARE(store.size(), 50);
    QCOMPARE(store.first(), qint64(70));
    for (qint64 seq = store.first(); seq < store.end(); ++seq)
        QCOMPARE(store.reading(seq).vmeas[0], quint16(seq));
    const Extent e = store.extent(store.first(), store.end());
    QCOMPARE(e.minimum[VmeasA], 70.0f);
    QCOMPARE(e.maximum[VmeasA], 119.0f);
}

void TestSampleStore::clockSteps_data()
{
    // Five ticks 100 ms of running time apart, the wall clock stepped by `step` after the third.
    QTest::addColumn<qint64>("step");
    // Where the newest tick lies on the time axis, from T0 at the first tick.
    QTest::addColumn<qint64>("newestAxis");
    const qint64 hour = 3600000;
    QTest::newRow("back 5 ms: jitter") << qint64(-5) << qint64(400);
    QTest::newRow("back 1 s: jitter") << qint64(-1000) << qint64(400);
    QTest::newRow("back 1.5 s") << qint64(-1500) << qint64(400 - 1500);
    QTest::newRow("back 1 h") << -hour << 400 - hour;
    QTest::newRow("back 2 days") << -2 * SampleStore::DayMs << 400 - 2 * SampleStore::DayMs;
    QTest::newRow("forward 900 ms: jitter") << qint64(900) << qint64(400);
    QTest::newRow("forward 1 h") << hour << 400 + hour;
    QTest::newRow("forward 2 days") << 2 * SampleStore::DayMs << 400 + 2 * SampleStore::DayMs;
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

void TestSampleStore::recordKeepsTheWords_data()
{
    QTest::addColumn<bool>("fine");
    QTest::addColumn<CurrentResolution>("resolution");
    QTest::addColumn<SecondRange>("range");
    QTest::newRow("1V 1uA none") << false << CurrentResolution::uA1 << SecondRange::None;
    QTest::newRow("100mV 100nA 1nA") << true << CurrentResolution::nA100 << SecondRange::nA1;
    QTest::newRow("1V 10nA 100pA") << false << CurrentResolution::nA10 << SecondRange::pA100;
    QTest::newRow("100mV 1nA 100pA") << true << CurrentResolution::nA1 << SecondRange::pA100;
}

void TestSampleStore::recordKeepsTheWords()
{
    QFETCH(bool, fine);
    QFETCH(CurrentResolution, resolution);
    QFETCH(SecondRange, range);
    Reading in;
    // A time beyond 32 bits of milliseconds, and words with their top bits set.
    in.time = T0 + 987;
    in.fineVoltage = fine;
    in.currentResolution = resolution;
    in.secondRange = range;
    in.vset[0] = 6000;
    in.vset[1] = 0x8001;
    in.vmeas[0] = 0xFFFF;
    in.vmeas[1] = 12345;
    in.imeas[0] = 0x7FFF;
    in.imeas[1] = 1;
    in.imeas2[0] = 0xFFFE;
    in.imeas2[1] = 3;
    in.status = 0xA5C3;
    in.events = 0x00F2;

    SampleStore store(4);
    add(store, in);
    const Reading out = store.reading(store.first());
    QCOMPARE(out.time, in.time);
    QCOMPARE(out.fineVoltage, fine);
    QCOMPARE(out.currentResolution, resolution);
    QCOMPARE(out.secondRange, range);
    for (int ch = 0; ch < 2; ++ch) {
        QCOMPARE(out.vset[ch], in.vset[ch]);
        QCOMPARE(out.vmeas[ch], in.vmeas[ch]);
        QCOMPARE(out.imeas[ch], in.imeas[ch]);
        QCOMPARE(out.imeas2[ch], in.imeas2[ch]);
    }
    QCOMPARE(out.status, in.status);
    QCOMPARE(out.events, in.events);

    float v[SeriesCount];
    store.values(store.first(), v);
    for (int ch = 0; ch < 2; ++ch) {
        QCOMPARE(v[vmeasSeries(ch)], float(measuredVolts(in, ch)));
        QCOMPARE(v[vsetSeries(ch)], float(setVolts(in, ch)));
        QCOMPARE(v[imeasSeries(ch)], float(measuredAmperes(in, ch)));
    }
}

void TestSampleStore::risingEdges_data()
{
    QTest::addColumn<QList<int>>("events");
    QTest::addColumn<QList<int>>("rising");
    QTest::newRow("TRP held, then again")
        << QList<int>{0, 0x02, 0x02, 0, 0x02} << QList<int>{0, 0x02, 0, 0, 0x02};
    QTest::newRow("first tick reports its own")
        << QList<int>{0x40, 0x40, 0x42} << QList<int>{0x40, 0, 0x02};
    QTest::newRow("channels apart")
        << QList<int>{0x0200, 0x0202, 0x0002, 0x2002} << QList<int>{0x0200, 0x0002, 0, 0x2000};
    QTest::newRow("unused bits never rise")
        << QList<int>{0x0001, 0x0D0D, 0, 0x0D0F, 0x0102} << QList<int>{0, 0, 0, 0x0002, 0};
}

void TestSampleStore::risingEdges()
{
    QFETCH(QList<int>, events);
    QFETCH(QList<int>, rising);
    SampleStore store(100);
    int all = 0;
    for (int i = 0; i < events.size(); ++i) {
        // The rising edge survives a gap: it compares with the tick before, however old.
        add(store, tick(T0 + 5000 * i, 0, quint16(events[i])));
        all |= rising[i];
    }
    for (int i = 0; i < events.size(); ++i)
        QCOMPARE(int(store.risingEvents(store.first() + i)), rising[i]);
    QCOMPARE(int(store.extent(store.first(), store.end()).rising), all);
}

// Ranges of every alignment against the summaries of 16, 256 and 4096 records.
void TestSampleStore::summariesAgreeWithRecords()
{
    SampleStore store(10000);
    QRandomGenerator random(7);
    for (int i = 0; i < 13000; ++i) {
        Reading r = tick(T0 + 100 * i, quint16(random.bounded(65536)),
                         random.bounded(50) == 0 ? 0x0002 : 0);
        r.imeas[1] = quint16(random.bounded(65536));
        r.vset[0] = quint16(random.bounded(6001));
        add(store, r);
    }
    for (int trial = 0; trial < 300; ++trial) {
        const qint64 a = store.first() + random.bounded(store.size());
        const qint64 b = a + 1 + random.bounded(int(store.end() - a));
        Extent expected;
        expected.reset();
        float v[SeriesCount];
        for (qint64 seq = a; seq < b; ++seq) {
            store.values(seq, v);
            expected.include(v, store.risingEvents(seq));
        }
        const Extent e = store.extent(a, b);
        for (int s = 0; s < SeriesCount; ++s) {
            QCOMPARE(e.minimum[s], expected.minimum[s]);
            QCOMPARE(e.maximum[s], expected.maximum[s]);
        }
        QCOMPARE(e.rising, expected.rising);
    }
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
    // from 10:42:13.250 local time (this machine's zone).
    QTest::addColumn<qint64>("span");
    QTest::addColumn<qint64>("step");
    QTest::addColumn<QString>("firstTick");
    QTest::newRow("1 min") << qint64(60000) << qint64(10000) << "10:42:20";
    QTest::newRow("10 min") << qint64(600000) << qint64(120000) << "10:44";
    QTest::newRow("1 h") << qint64(3600000) << qint64(600000) << "10:50";
    QTest::newRow("8 h") << qint64(8 * 3600000) << qint64(3600000) << "11:00";
    QTest::newRow("24 h") << qint64(24 * 3600000) << qint64(3 * 3600000) << "12:00";
}

void TestSampleStore::timeTicks()
{
    QFETCH(qint64, span);
    QFETCH(qint64, step);
    QFETCH(QString, firstTick);
    const qint64 start =
        QDateTime(QDate(2026, 12, 7), QTime(10, 42, 13, 250), Qt::LocalTime).toMSecsSinceEpoch();
    QCOMPARE(timeStep(span / 800.0, 90), step);
    const qint64 tick = firstTimeTick(start, step);
    QCOMPARE(timeTickText(tick, step), firstTick);
    QVERIFY(tick >= start && tick - step < start);
    QCOMPARE(firstTimeTick(tick, step), tick);
}

QTEST_GUILESS_MAIN(TestSampleStore)
#include "tst_samplestore.moc"
