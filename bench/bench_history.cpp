// The history's costs with a full day of ticks: appending one tick to the store, the store's
// memory for an hour and for 24 h at 10 Hz of a module whose every word changes each tick, of a
// steady one, of one whose every word is random (the worst case) and of the ramping one the frames
// draw (filled by a synthetic fast-forward, not by waiting a day), and one frame of both plots at
// the 24 h span, with and without reducing the span to pixel columns, and the copy of a day the
// export takes.
#include "samplestore.h"
#include "traceplot.h"

#include <QApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <cmath>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <memory>

using namespace Brelk;

namespace {

const qint64 Start = 1796640133000;

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * 4096;
}

// A module ramping and drawing current with some noise, tripping now and then.
Reading synthetic(int i)
{
    Reading r;
    r.time = Start + qint64(i) * 100;
    r.vset[0] = 1000;
    r.vset[1] = 500;
    r.vmeas[0] = quint16(990 + (i * 7919) % 21);
    r.vmeas[1] = quint16(480 + int(20 * std::sin(i / 3000.0)));
    r.imeas[0] = quint16(10 + (i * 104729) % 5);
    r.imeas[1] = quint16(5 + (i / 600) % 7);
    r.events = (i % 36000) < 20 ? EventTRP : 0;
    return r;
}

// Every word moving every tick by what a ramping, noisy, tripping module shows.
Reading changing(int i, QRandomGenerator &random)
{
    Reading r;
    for (int ch = 0; ch < 2; ++ch) {
        r.vset[ch] = quint16((i * (3 + ch)) % 6001);
        r.vmeas[ch] = quint16(r.vset[ch] + random.bounded(256));
        r.imeas[ch] = quint16(2000 + random.bounded(4096));
        r.imeas2[ch] = quint16(30000 + random.bounded(4096));
    }
    r.status = quint16(0x0400 | random.bounded(256));
    r.events = quint16(random.bounded(65536) & (NamedEvents | NamedEvents << 8));
    r.fineVoltage = i % 2;
    return r;
}

// Every word random at every tick, as no module shows it: the most a tick can take.
Reading randomWords(int i, QRandomGenerator &random)
{
    Q_UNUSED(i);
    Reading r;
    for (quint16 *w : {&r.vset[0], &r.vset[1], &r.vmeas[0], &r.vmeas[1], &r.imeas[0], &r.imeas[1],
                       &r.imeas2[0], &r.imeas2[1], &r.status, &r.events})
        *w = quint16(random.bounded(65536));
    r.fineVoltage = random.bounded(2);
    r.currentResolution = CurrentResolution(random.bounded(4));
    r.secondRange = SecondRange(random.bounded(3));
    return r;
}

// A module at rest at its set voltage.
Reading steady(int i, QRandomGenerator &random)
{
    Q_UNUSED(random);
    Q_UNUSED(i);
    Reading r;
    r.vset[0] = 1000;
    r.vmeas[0] = 1000;
    r.imeas[0] = 12;
    r.status = 0x0404;
    return r;
}

void fill(SampleStore &store)
{
    for (int i = 0; i < SampleStore::DayCapacity; ++i)
        store.append(synthetic(i), qint64(i) * 100);
}

} // namespace

class BenchHistory : public QObject
{
    Q_OBJECT

private slots:
    void append();
    void memoryOfADay_data();
    void memoryOfADay();
    void copyADay();
    void frameAt24h_data();
    void frameAt24h();
};

void BenchHistory::append()
{
    SampleStore store;
    int i = 0;
    QBENCHMARK
    {
        store.append(synthetic(i), qint64(i) * 100);
        ++i;
    }
}

void BenchHistory::memoryOfADay_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<double>("limitMiB");
    QTest::newRow("every word changes each tick, 1 h") << 0 << 36000 << 16.0 / 24 + 0.25;
    QTest::newRow("every word changes each tick, 24 h") << 0 << SampleStore::DayCapacity << 16.0;
    QTest::newRow("every word random, 1 h") << 3 << 36000 << 1.25;
    QTest::newRow("every word random, 24 h") << 3 << SampleStore::DayCapacity << 16.0;
    QTest::newRow("steady, 24 h") << 1 << SampleStore::DayCapacity << 4.0;
    QTest::newRow("ramping with noise, 24 h") << 2 << SampleStore::DayCapacity << 16.0;
}

void BenchHistory::memoryOfADay()
{
    QFETCH(int, kind);
    QFETCH(int, ticks);
    QFETCH(double, limitMiB);
    QRandomGenerator random(3);
#ifdef __GLIBC__
    // What earlier benchmarks freed goes back to the system, so that it is not counted as free.
    malloc_trim(0);
#endif
    const qint64 before = residentBytes();
    auto store = std::make_unique<SampleStore>();
    for (int i = 0; i < ticks; ++i) {
        Reading r = kind == 0   ? changing(i, random)
                    : kind == 1 ? steady(i, random)
                    : kind == 3 ? randomWords(i, random)
                                : synthetic(i);
        // The poll's timer fires up to 20 ms late, and the wall clock is read a moment later.
        const qint64 running = qint64(i) * 100 + (kind == 2 ? 0 : random.bounded(21));
        if (kind != 2)
            r.time = Start + running + random.bounded(2);
        store->append(r, running);
    }
    const qint64 grown = residentBytes() - before;
    qInfo("%s: %d ticks, %.2f MiB allocated (%.1f bytes a tick), %.2f MiB resident growth",
          QTest::currentDataTag(), store->size(), store->memoryBytes() / 1048576.0,
          double(store->memoryBytes()) / store->size(), grown / 1048576.0);
    QCOMPARE(store->size(), ticks);
    QVERIFY(store->memoryBytes() <= qint64(limitMiB * 1048576));
}

// What the export copies on the GUI thread for a span of 24 h.
void BenchHistory::copyADay()
{
    SampleStore store;
    fill(store);
    QBENCHMARK
    {
        const SampleStore::Span span = store.copy(store.first(), store.end());
        QCOMPARE(span.size(), qint64(SampleStore::DayCapacity));
    }
}

void BenchHistory::frameAt24h_data()
{
    QTest::addColumn<bool>("reduce");
    QTest::addColumn<bool>("logarithmic");
    QTest::newRow("paint") << false << false;
    QTest::newRow("reduce and paint") << true << false;
    QTest::newRow("reduce and paint, log current") << true << true;
}

void BenchHistory::frameAt24h()
{
    QFETCH(bool, reduce);
    QFETCH(bool, logarithmic);
    SampleStore store;
    fill(store);
    TracePlot plot(&store);
    plot.resize(900, 560);
    plot.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plot));
    plot.setSpan(24 * 3600 * 1000);
    plot.setLogCurrent(logarithmic);
    QCoreApplication::processEvents();
    QBENCHMARK
    {
        if (reduce)
            plot.setLive(true);
        plot.repaint();
    }
}

QTEST_MAIN(BenchHistory)
#include "bench_history.moc"
