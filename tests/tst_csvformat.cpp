// The comma-separated text of one sample: the header, and every field of a row for known register
// words, written exactly from the counts.
#include "csvformat.h"
#include "localzone.h"

#include <QtTest>

using namespace Brelk;

Q_DECLARE_METATYPE(CurrentResolution)
Q_DECLARE_METATYPE(SecondRange)

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
    QTest::addColumn<bool>("fine");
    QTest::addColumn<CurrentResolution>("resolution");
    QTest::addColumn<SecondRange>("range");
    QTest::addColumn<quint16>("vmeasA");
    QTest::addColumn<quint16>("imeasA");
    QTest::addColumn<quint16>("imeas2A");
    QTest::addColumn<quint16>("status");
    QTest::addColumn<quint16>("events");
    QTest::addColumn<QString>("channelA");
    QTest::addColumn<QString>("channelB");

    // Channel B: vset 500, vmeas 499 (or 4990 fine counts), imeas 10 counts, stable, HV on.
    const QString stableB = QStringLiteral("500,499,0.00001,,Stable,HV On,");
    QTest::newRow("whole volts, 1 uA, no second range")
        << false << CurrentResolution::uA1 << SecondRange::None << quint16(1000) << quint16(1234)
        << quint16(0) << quint16(0) << quint16(0)
        << QStringLiteral("1000,1000,0.001234,,Stable,HV On,") << stableB;
    QTest::newRow("fine volts, 7 counts at 1 uA")
        << true << CurrentResolution::uA1 << SecondRange::None << quint16(12345) << quint16(7)
        << quint16(0) << quint16(0) << quint16(0)
        << QStringLiteral("1000,1234.5,0.000007,,Stable,HV On,") << stableB;
    QTest::newRow("1 nA resolution, second range 100 pA")
        << false << CurrentResolution::nA1 << SecondRange::pA100 << quint16(0) << quint16(65535)
        << quint16(3) << quint16(0) << quint16(0)
        << QStringLiteral("1000,0,0.000065535,0.0000000003,Stable,HV On,")
        << QStringLiteral("500,499,0.00000001,0.0000000021,Stable,HV On,");
    QTest::newRow("ramping A, B off in error, events of both")
        << false << CurrentResolution::nA100 << SecondRange::nA1 << quint16(20) << quint16(100)
        << quint16(40)
        << quint16((StatusRamping | StatusRampUp) | ((StatusError | StatusHvOff) << 8))
        << quint16((EventTRP | EventILIM) |
                   ((EventQUA | EventVLIM | EventILIM | EventTRP | EventINH) << 8))
        << QStringLiteral("1000,20,0.00001,0.00000004,Ramp up,HV On,ILIM+TRP")
        << QStringLiteral("500,499,0.000001,0.000000021,Error,HV Off,QUA+VLIM+ILIM+TRP+INH");
}

void TestCsvFormat::row()
{
    QFETCH(bool, fine);
    QFETCH(CurrentResolution, resolution);
    QFETCH(SecondRange, range);
    QFETCH(quint16, vmeasA);
    QFETCH(quint16, imeasA);
    QFETCH(quint16, imeas2A);
    QFETCH(quint16, status);
    QFETCH(quint16, events);
    QFETCH(QString, channelA);
    QFETCH(QString, channelB);

    Reading reading;
    reading.time = 1796640133123; // 2026-12-07 10:42:13.123 UTC
    reading.fineVoltage = fine;
    reading.currentResolution = resolution;
    reading.secondRange = range;
    reading.vset[0] = 1000;
    reading.vset[1] = 500;
    reading.vmeas[0] = vmeasA;
    reading.vmeas[1] = fine ? 4990 : 499;
    reading.imeas[0] = imeasA;
    reading.imeas[1] = 10;
    reading.imeas2[0] = imeas2A;
    reading.imeas2[1] = 21;
    reading.status = status;
    // The row names the events it is given, not the tick's own word.
    reading.events = 0;

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
    Reading reading;
    reading.time = time;
    QCOMPARE(csvRow(reading, 0).section(QLatin1Char(','), 0, 0), text);
}

QTEST_GUILESS_MAIN(TestCsvFormat)
#include "tst_csvformat.moc"
