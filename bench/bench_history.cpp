// The history's costs with a full day of ticks: appending one tick to the store, the store's
// memory for 24 h at 10 Hz (filled by a synthetic fast-forward, not by waiting a day), and one
// frame of both plots at the 24 h span, with and without reducing the span to pixel columns.
#include "samplestore.h"
#include "traceplot.h"

#include <QApplication>
#include <QFile>
#include <QtTest>

#include <cmath>
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
    void memoryOfADay();
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

void BenchHistory::memoryOfADay()
{
    const qint64 before = residentBytes();
    auto store = std::make_unique<SampleStore>();
    fill(*store);
    const qint64 grown = residentBytes() - before;
    qInfo("store for 24 h at 10 Hz: %d records, %.1f MiB allocated, %.1f MiB resident growth",
          store->size(), store->memoryBytes() / 1048576.0, grown / 1048576.0);
    QCOMPARE(store->size(), SampleStore::DayCapacity);
    QVERIFY(grown <= 32 * 1024 * 1024);
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
