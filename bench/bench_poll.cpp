// Time of one complete poll tick against an in-memory controller, and its bus reads.
#include "brelkcontroltestaccess.h"
#include "fakecontroller.h"

#include <QFile>
#include <QLibrary>
#include <QRadioButton>
#include <QtTest>

using Access = BrelkControlTestAccess;

class BenchPoll : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void tick_data();
    void tick();
};

void BenchPoll::initTestCase()
{
    QFile::remove(QCoreApplication::applicationDirPath() + "/brelkcontrol.ini");
    QVERIFY2(QLibrary("libxxusb").load(),
             "put the module simulator on the library search path (LD_LIBRARY_PATH=build/sim)");
}

void BenchPoll::tick_data()
{
    QTest::addColumn<QString>("secondRange");
    QTest::addColumn<bool>("changing");
    QTest::newRow("none, steady") << "chk_I2_None" << false;
    QTest::newRow("none, every word changing") << "chk_I2_None" << true;
    QTest::newRow("1 nA, every word changing") << "chk_I2_1nA" << true;
}

void BenchPoll::tick()
{
    QFETCH(QString, secondRange);
    QFETCH(bool, changing);

    BrelkControl window;
    auto *bus = new FakeController;
    bus->recordCycles = false;
    Access::useController(window, bus);
    window.findChild<QRadioButton *>(secondRange)->click();
    for (quint32 offset = 0; offset <= 0x4A; offset += 2)
        bus->registers[0xDD00 + offset] = quint16(0x1111 * (offset / 2 + 1));
    bus->registers[0xDD00 + 0x3C] = 0x00A3;
    window.show();

    quint16 step = 0;
    QBENCHMARK
    {
        if (changing) {
            ++step;
            for (quint32 offset = 0; offset <= 0x4A; offset += 2) {
                if (offset != 0x3C)
                    bus->registers[0xDD00 + offset] = quint16(step + offset);
            }
        }
        Access::tick(window);
    }

    bus->recordCycles = true;
    Access::tick(window);
    qInfo("reads per tick: %d", int(bus->cycles.size()));
}

QTEST_MAIN(BenchPoll)
#include "bench_poll.moc"
