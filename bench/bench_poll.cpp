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
    void readsPerTick();

private:
    // A shown window on an in-memory bus whose registers all hold plausible words.
    struct Panel
    {
        BrelkControl window;
        FakeController *bus = new FakeController;
        explicit Panel(const QString &secondRange);
    };
};

BenchPoll::Panel::Panel(const QString &secondRange)
{
    Access::useController(window, bus);
    window.findChild<QRadioButton *>(secondRange)->click();
    for (quint32 offset = 0; offset <= 0x4A; offset += 2)
        bus->registers[0xDD00 + offset] = quint16(0x1111 * (offset / 2 + 1));
    bus->registers[0xDD00 + 0x3C] = 0x00A3;
    window.show();
}

void BenchPoll::initTestCase()
{
    QFile::remove(QCoreApplication::applicationDirPath() + "/brelkcontrol.ini");
    QVERIFY2(QLibrary("libxxusb").load(),
             "put the module simulator on the library search path (LD_LIBRARY_PATH=build/sim)");
}

void BenchPoll::tick_data()
{
    QTest::addColumn<QString>("secondRange");
    QTest::addColumn<QList<int>>("changingOffsets");

    QList<int> everyRegister;
    for (int offset = 0; offset <= 0x4A; offset += 2) {
        if (offset != 0x3C)
            everyRegister << offset;
    }
    // A steady module; one ramping on both channels (measured voltages and currents move);
    // and the worst case, every word new at every tick.
    QTest::newRow("steady") << "chk_I2_None" << QList<int>{};
    QTest::newRow("ramping") << "chk_I2_None" << QList<int>{0x14, 0x18, 0x1C, 0x20};
    QTest::newRow("every word changing") << "chk_I2_None" << everyRegister;
    QTest::newRow("1 nA second range, every word changing") << "chk_I2_1nA" << everyRegister;
}

void BenchPoll::tick()
{
    QFETCH(QString, secondRange);
    QFETCH(QList<int>, changingOffsets);

    Panel panel(secondRange);
    panel.bus->recordCycles = false;
    quint16 step = 0;
    QBENCHMARK
    {
        ++step;
        for (int offset : changingOffsets)
            panel.bus->registers[0xDD00 + offset] = quint16(step + offset);
        Access::tick(panel.window);
    }
}

void BenchPoll::readsPerTick()
{
    for (const char *secondRange : {"chk_I2_None", "chk_I2_1nA", "chk_I2_100pA"}) {
        Panel panel(secondRange);
        Access::tick(panel.window);
        qInfo("%s: %d reads per tick", secondRange, int(panel.bus->cycles.size()));
    }
}

QTEST_MAIN(BenchPoll)
#include "bench_poll.moc"
