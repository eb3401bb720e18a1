// The comma-separated text of one sample: the header, and every field of a row for known register
// words, written exactly from the counts.
#include "csvformat.h"
#include "localzone.h"

#include <QtTest>

using namespace Brelk;

namespace {

// A tick at 2026-12-07 10:42:13.123 UTC with the given words of channel A, set to 1000 V; channel
// B set to 500 V, reading 499 V (4990 fine counts), 10 current counts and 21 second-range counts.
// Its own event word is 0: a row names the events it is given.
Reading tick(bool fine, CurrentResolution resolution, SecondRange range, quint16 vmeasA,
             quint16 imeasA, quint16 imeas2A = 0, quint16 status = 0)
{
    Reading r;
    r.time = 1796640133123;
    r.fineVoltage = fine;
    r.currentResolution = resolution;
    r.secondRange = range;
    r.vset[0] = 1000;
    r.vset[1] = 500;
    r.vmeas[0] = vmeasA;
    r.vmeas[1] = fine ? 4990 : 499;
    r.imeas[0] = imeasA;
    r.imeas[1] = 10;
    r.imeas2[0] = imeas2A;
    r.imeas2[1] = 21;
    r.status = status;
    return r;
}

} // namespace

class TestCsvFormat : public QObject
{
    Q_OBJECT

private slots:
    void header();
    void row_data();
    void row();
    void timeStamps_data();
    void timeStamps();
};

void TestCsvFormat::header()
{
    QCOMPARE(csvHeader(),
             QStringLiteral("time,vset_a_V,vmeas_a_V,imeas_a_A,imeas2_a_A,state_a,hv_a,"
                            "events_a,vset_b_V,vmeas_b_V,imeas_b_A,imeas2_b_A,"
                            "state_b,hv_b,events_b"));
}

void TestCsvFormat::row_data()
{
    QTest::addColumn<Reading>("reading");
    QTest::addColumn<quint16>("events");
    QTest::addColumn<QString>("channelA");
    QTest::addColumn<QString>("channelB");

    const QString stableB = QStringLiteral("500,499,0.00001,,Stable,HV On,");
    QTest::newRow("whole volts, 1 uA, no second range")
        << tick(false, CurrentResolution::uA1, SecondRange::None, 1000, 1234) << quint16(0)
        << QStringLiteral("1000,1000,0.001234,,Stable,HV On,") << stableB;
    QTest::newRow("fine volts, 7 counts at 1 uA")
        << tick(true, CurrentResolution::uA1, SecondRange::None, 12345, 7) << quint16(0)
        << QStringLiteral("1000,1234.5,0.000007,,Stable,HV On,") << stableB;
    QTest::newRow("1 nA resolution, second range 100 pA")
        << tick(false, CurrentResolution::nA1, SecondRange::pA100, 0, 65535, 3) << quint16(0)
        << QStringLiteral("1000,0,0.000065535,0.0000000003,Stable,HV On,")
        << QStringLiteral("500,499,0.00000001,0.0000000021,Stable,HV On,");
    QTest::newRow("ramping A, B off in error, events of both")
        << tick(false, CurrentResolution::nA100, SecondRange::nA1, 20, 100, 40,
                (StatusRamping | StatusRampUp) | ((StatusError | StatusHvOff) << 8))
        << quint16((EventTRP | EventILIM) |
                   ((EventQUA | EventVLIM | EventILIM | EventTRP | EventINH) << 8))
        << QStringLiteral("1000,20,0.00001,0.00000004,Ramp up,HV On,ILIM+TRP")
        << QStringLiteral("500,499,0.000001,0.000000021,Error,HV Off,QUA+VLIM+ILIM+TRP+INH");
}

void TestCsvFormat::row()
{
    QFETCH(Reading, reading);
    QFETCH(quint16, events);
    QFETCH(QString, channelA);
    QFETCH(QString, channelB);
    QCOMPARE(csvRow(reading, events), isoLocalTime(reading.time) + ',' + channelA + ',' + channelB);
}

void TestCsvFormat::timeStamps_data()
{
    QTest::addColumn<QByteArray>("zone"); // POSIX TZ
    QTest::addColumn<qint64>("time");     // ms since the epoch, UTC
    QTest::addColumn<QString>("text");

    const QByteArray europe = "CET-1CEST,M3.5.0,M10.5.0/3";
    const qint64 december = 1796640133123; // 2026-12-07 10:42:13.123 UTC
    QTest::newRow("UTC") << QByteArray("UTC0") << december << "2026-12-07T10:42:13.123+00:00";
    QTest::newRow("+05:30") << QByteArray("<+0530>-5:30") << december
                            << "2026-12-07T16:12:13.123+05:30";
    QTest::newRow("-03:30") << QByteArray("<-0330>3:30") << december
                            << "2026-12-07T07:12:13.123-03:30";
    // 2026-10-25 01:00 UTC: the clock goes back from 03:00 to 02:00.
    QTest::newRow("last ms of summer time")
        << europe << qint64(1792889999999) << "2026-10-25T02:59:59.999+02:00";
    QTest::newRow("first ms of winter time")
        << europe << qint64(1792890000000) << "2026-10-25T02:00:00.000+01:00";
}

void TestCsvFormat::timeStamps()
{
    QFETCH(QByteArray, zone);
    QFETCH(qint64, time);
    QFETCH(QString, text);

    const LocalZone local(zone);
    QCOMPARE(isoLocalTime(time), text);
}

QTEST_GUILESS_MAIN(TestCsvFormat)
#include "tst_csvformat.moc"
