// Decoding of register words and conversion of dialog entries into register counts, checked
// over every word or every entry where that is cheap; the same entries given in volts or amperes
// from elsewhere, checked against the dialog's range.
#include "alarms.h"
#include "commandentry.h"
#include "commands.h"
#include "display.h"
#include "freshness.h"
#include "reading.h"

#include <QtTest>

#include <cmath>
#include <iterator>

using namespace Brelk;

Q_DECLARE_METATYPE(Brelk::CommandFreshness)
Q_DECLARE_METATYPE(Brelk::CurrentResolution)
Q_DECLARE_METATYPE(Brelk::SecondRange)
Q_DECLARE_METATYPE(Brelk::AlarmLevel)
Q_DECLARE_METATYPE(Brelk::Quantity)
Q_DECLARE_METATYPE(Brelk::EntryProblem)

class TestModule : public QObject
{
    Q_OBJECT

private slots:
    void textsOverEveryByteAndWord();
    void scaleCurrent_data();
    void scaleCurrent();
    void registerCountTruncates_data();
    void registerCountTruncates();
    void everyFirstRangeLimitEntry_data();
    void everyFirstRangeLimitEntry();
    void everySecondRangeLimitEntry_data();
    void everySecondRangeLimitEntry();
    void checkedEntry_data();
    void checkedEntry();
    void everyDialogEntryGivenInUnits_data();
    void everyDialogEntryGivenInUnits();
    void commandFreshness_data();
    void commandFreshness();
    void channelAlarms_data();
    void channelAlarms();
    void everyVoltageDeviationEdgeAt100mV();
    void voltageToleranceSetting_data();
    void voltageToleranceSetting();
    void sameWords_data();
    void sameWords();
};

// A channel's byte of the status word and of the event word, each text over every byte; channel
// B's byte and the limits word's two percentages over every word.
void TestModule::textsOverEveryByteAndWord()
{
    for (int byte = 0; byte < 256; ++byte) {
        QString state = "Stable";
        if (byte & 0x80)
            state = "Error";
        else if (byte & 0x02)
            state = "Manual";
        else if (byte & 0x40)
            state = (byte & 0x20) ? "Ramp up" : "Ramp down";
        QCOMPARE(channelStateText(quint8(byte)), state);
        QCOMPARE(polarityText(quint8(byte)), QString((byte & 0x04) ? "Positive" : "Negative"));
        QCOMPARE(killText(quint8(byte)), QString((byte & 0x10) ? "Kill Enable" : "Kill Disable"));
        QCOMPARE(hvText(quint8(byte)), QString((byte & 0x08) ? "HV Off" : "HV On"));
        const struct
        {
            int bit;
            const char *name;
        } flags[] = {{0x80, "QUA"}, {0x10, "VLIM"}, {0x40, "ILIM"}, {0x02, "TRP"}, {0x20, "INH"}};
        QStringList events;
        for (const auto &flag : flags) {
            if (byte & flag.bit)
                events << QLatin1String(flag.name);
        }
        QCOMPARE(eventText(quint8(byte)), events.join('+'));
    }
    for (int word = 0; word < 0x10000; ++word) {
        QCOMPARE(channelStateText(channelByte(quint16(word), 1)),
                 channelStateText(quint8(word >> 8)));
        QCOMPARE(limitVoltageText(quint16(word)), QString("V: %1 %").arg((word >> 4) * 10));
        QCOMPARE(limitCurrentText(quint16(word)), QString("I: %1 %").arg((word & 0xF) * 10));
    }
}

void TestModule::scaleCurrent_data()
{
    QTest::addColumn<CurrentResolution>("resolution");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("amperes");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("measured");
    QTest::addColumn<QString>("limit");

    QTest::newRow("1 uA") << CurrentResolution::uA1 << 1234 << 1.234e-3 << 3 << "1.234 mA"
                          << "1.234 mA";
    QTest::newRow("100 nA") << CurrentResolution::nA100 << 1234 << 1.234e-4 << 2 << "123.40 uA"
                            << "123.4 uA";
    QTest::newRow("10 nA") << CurrentResolution::nA10 << 1234 << 1.234e-5 << 3 << "12.340 uA"
                           << "12.34 uA";
    QTest::newRow("1 nA") << CurrentResolution::nA1 << 1234 << 1.234e-6 << 4 << "1.2340 uA"
                          << "1.234 uA";
    QTest::newRow("zero") << CurrentResolution::uA1 << 0 << 0.0 << 3 << "0.000 mA"
                          << "0 mA";
    QTest::newRow("full scale") << CurrentResolution::nA1 << 65535 << 65.535e-6 << 4 << "65.5350 uA"
                                << "65.535 uA";
}

void TestModule::scaleCurrent()
{
    QFETCH(CurrentResolution, resolution);
    QFETCH(int, count);

    int shownDecimals = -1;
    const double scaled = Brelk::scaleCurrent(quint16(count), resolution, shownDecimals);
    QTEST(scaled, "amperes");
    QTEST(shownDecimals, "decimals");
    QTEST(measuredCurrentText(scaled, resolution, shownDecimals), "measured");
    QTEST(softLimitText(scaled, resolution), "limit");
}

void TestModule::registerCountTruncates_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("count");

    QTest::newRow("set voltage 1234.5") << 1234.5 << 1234;
    QTest::newRow("whole count below by rounding") << 29.999999999999996 << 30;
    QTest::newRow("whole count above by rounding") << 30.000000000000004 << 30;
    QTest::newRow("beyond the register") << 600000.0 << 65535;
    QTest::newRow("negative") << -1.0 << 0;
    QTest::newRow("not a number") << std::nan("") << 0;
}

void TestModule::registerCountTruncates()
{
    QFETCH(double, value);
    QTEST(int(registerCount(value)), "count");
}

void TestModule::everyFirstRangeLimitEntry_data()
{
    QTest::addColumn<CurrentResolution>("resolution");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<int>("countsPerTenth");

    QTest::newRow("1 uA, mA entries") << CurrentResolution::uA1 << "mA" << 6.0 << 100;
    QTest::newRow("100 nA, uA entries") << CurrentResolution::nA100 << "uA" << 6000.0 << 1;
    // 65535 counts hold 655.35 uA and 65.535 uA: one decimal below that.
    QTest::newRow("10 nA, uA entries") << CurrentResolution::nA10 << "uA" << 655.3 << 10;
    QTest::newRow("1 nA, uA entries") << CurrentResolution::nA1 << "uA" << 65.5 << 100;
}

// Every tenth of the dialog's unit up to its maximum, which fits the register before
// registerCount() would clamp it.
void TestModule::everyFirstRangeLimitEntry()
{
    QFETCH(CurrentResolution, resolution);
    QFETCH(int, countsPerTenth);

    const SoftLimitDialogScale scale = softLimitIScale(resolution);
    QTEST(scale.unit, "unit");
    QTEST(scale.maximum, "maximum");
    const int lastTenth = int(std::round(scale.maximum * 10));
    for (int tenths = 0; tenths <= lastTenth; ++tenths) {
        const double counts = softLimitICounts(tenths / 10.0, scale, resolution);
        QVERIFY2(counts < 65536, qPrintable(QString::number(counts)));
        QCOMPARE(int(registerCount(counts)), tenths * countsPerTenth);
    }
}

void TestModule::everySecondRangeLimitEntry_data()
{
    QTest::addColumn<SecondRange>("range");
    QTest::addColumn<int>("countsPerStep");
    QTest::addColumn<double>("maximum");

    QTest::newRow("100 pA, steps of 0.01 uA") << SecondRange::pA100 << 100 << 6.55;
    QTest::newRow("1 nA, steps of 0.1 uA") << SecondRange::nA1 << 100 << 65.5;
}

void TestModule::everySecondRangeLimitEntry()
{
    QFETCH(SecondRange, range);
    QFETCH(int, countsPerStep);
    QFETCH(double, maximum);

    QCOMPARE(secondRangeLimitMaximum(range) * 1e6, maximum);
    const double stepsPerMicroamp = std::pow(10, secondRangeLimitDecimals(range));
    const int lastStep = int(std::round(maximum * stepsPerMicroamp));
    for (int steps = 0; steps <= lastStep; ++steps)
        QCOMPARE(int(registerCount(secondRangeLimitCounts(steps / stepsPerMicroamp, range))),
                 steps * countsPerStep);
    QCOMPARE(int(registerCount(secondRangeLimitCounts(maximum, range))), 65500);
}

void TestModule::checkedEntry_data()
{
    QTest::addColumn<Quantity>("quantity");
    QTest::addColumn<CurrentResolution>("resolution");
    QTest::addColumn<SecondRange>("range");
    QTest::addColumn<double>("value"); // volts, volts per second or amperes
    QTest::addColumn<EntryProblem>("problem");
    QTest::addColumn<int>("count");

    const auto uA1 = CurrentResolution::uA1;
    const auto none = SecondRange::None;
    const auto ok = EntryProblem::None;
    const auto out = EntryProblem::OutOfRange;
    QTest::newRow("voltage held to the maximum")
        << Quantity::SetVoltage << uA1 << none << 6000.049 << ok << 6000;
    QTest::newRow("voltage a step above")
        << Quantity::SetVoltage << uA1 << none << 6000.05 << out << 0;
    QTest::newRow("voltage held to 0") << Quantity::SetVoltage << uA1 << none << -0.04 << ok << 0;
    QTest::newRow("voltage below 0") << Quantity::SetVoltage << uA1 << none << -0.1 << out << 0;
    QTest::newRow("voltage ignores the current resolution")
        << Quantity::SetVoltage << CurrentResolution::nA1 << SecondRange::pA100 << 1500.0 << ok
        << 1500;
    QTest::newRow("ramp under the minimum")
        << Quantity::RampSpeed << uA1 << none << 1.94 << out << 0;
    QTest::newRow("ramp held up to the minimum")
        << Quantity::RampSpeed << uA1 << none << 1.96 << ok << 2;
    QTest::newRow("limit at 1 uA, 6 mA")
        << Quantity::SoftLimitI << uA1 << none << 0.006 << ok << 6000;
    QTest::newRow("limit at 1 uA, down to the 0.1 mA step below")
        << Quantity::SoftLimitI << uA1 << none << 0.00149 << ok << 1400;
    QTest::newRow("limit at 10 nA, the register's end")
        << Quantity::SoftLimitI << CurrentResolution::nA10 << none << 655.3e-6 << ok << 65530;
    QTest::newRow("limit at 10 nA, beyond the register")
        << Quantity::SoftLimitI << CurrentResolution::nA10 << none << 655.4e-6 << out << 0;
    QTest::newRow("second range at 100 pA, two decimals")
        << Quantity::SoftLimitI2 << uA1 << SecondRange::pA100 << 1.23e-6 << ok << 12300;
    QTest::newRow("second range at 100 pA, above 6.55 uA")
        << Quantity::SoftLimitI2 << uA1 << SecondRange::pA100 << 6.56e-6 << out << 0;
    QTest::newRow("second range at 1 nA, one decimal")
        << Quantity::SoftLimitI2 << uA1 << SecondRange::nA1 << 1.23e-6 << ok << 1200;
    QTest::newRow("second range without one")
        << Quantity::SoftLimitI2 << uA1 << none << 1e-6 << EntryProblem::NotOffered << 0;
}

void TestModule::checkedEntry()
{
    QFETCH(Quantity, quantity);
    QFETCH(CurrentResolution, resolution);
    QFETCH(SecondRange, range);
    QFETCH(double, value);
    QFETCH(EntryProblem, problem);

    const ResolutionSelection selection{false, resolution, range};
    const CheckedEntry checked = checkEntry(quantity, value, selection);
    QCOMPARE(checked.problem, problem);
    if (problem == EntryProblem::None)
        QTEST(int(registerCount(entryCounts(quantity, checked.entered, selection))), "count");
}

void TestModule::everyDialogEntryGivenInUnits_data()
{
    QTest::addColumn<Quantity>("quantity");
    QTest::addColumn<CurrentResolution>("resolution");
    QTest::addColumn<SecondRange>("range");
    QTest::newRow("voltage") << Quantity::SetVoltage << CurrentResolution::uA1 << SecondRange::None;
    QTest::newRow("ramp") << Quantity::RampSpeed << CurrentResolution::uA1 << SecondRange::None;
    for (auto resolution : {CurrentResolution::uA1, CurrentResolution::nA100,
                            CurrentResolution::nA10, CurrentResolution::nA1}) {
        QTest::addRow("limit, resolution %d", int(resolution))
            << Quantity::SoftLimitI << resolution << SecondRange::None;
    }
    QTest::newRow("second range 100 pA")
        << Quantity::SoftLimitI2 << CurrentResolution::uA1 << SecondRange::pA100;
    QTest::newRow("second range 1 nA")
        << Quantity::SoftLimitI2 << CurrentResolution::uA1 << SecondRange::nA1;
}

// Every value the dialog accepts, given in volts or amperes instead of its units, is accepted
// and written as the dialog writes it; a step beyond either end is refused.
void TestModule::everyDialogEntryGivenInUnits()
{
    QFETCH(Quantity, quantity);
    QFETCH(CurrentResolution, resolution);
    QFETCH(SecondRange, range);
    const ResolutionSelection selection{false, resolution, range};
    const EntryRange dialog = entryRange(quantity, selection);
    const double step = std::pow(10, -dialog.decimals);
    const int first = int(std::lround(dialog.minimum / step));
    const int last = int(std::lround(dialog.maximum / step));
    for (int steps = first; steps <= last; ++steps) {
        const double entered = steps * step;
        const CheckedEntry checked = checkEntry(quantity, entered / dialog.factor, selection);
        QVERIFY2(checked.problem == EntryProblem::None, qPrintable(QString::number(entered)));
        QCOMPARE(entryWrites(quantity, 1, checked.entered, selection),
                 entryWrites(quantity, 1, heldEntry(entered, dialog.decimals), selection));
    }
    QCOMPARE(checkEntry(quantity, (first - 1) * step / dialog.factor, selection).problem,
             isCurrentLimit(quantity) ? EntryProblem::Negative : EntryProblem::OutOfRange);
    QCOMPARE(checkEntry(quantity, (last + 1) * step / dialog.factor, selection).problem,
             EntryProblem::OutOfRange);
}

void TestModule::commandFreshness_data()
{
    QTest::addColumn<QList<qint64>>("ticks"); // start, end, ... on the monotonic clock
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<bool>("staleShown");
    QTest::addColumn<CommandFreshness>("expected");

    const QList<qint64> steady{1000, 1005, 1100, 1105, 1200, 1205};
    QTest::newRow("just after a tick")
        << steady << qint64(1210) << qint64(1215) << false << CommandFreshness::Current;
    QTest::newRow("three intervals after its start")
        << steady << qint64(1500) << qint64(1500) << false << CommandFreshness::Current;
    QTest::newRow("a stopped poll")
        << steady << qint64(1501) << qint64(1501) << false << CommandFreshness::TickTooOld;
    QTest::newRow("marked stale") << steady << qint64(1210) << qint64(1210) << true
                                  << CommandFreshness::TickTooOld;
    QTest::newRow("no tick") << QList<qint64>() << qint64(1210) << qint64(1210) << false
                             << CommandFreshness::NoTick;
    // Frozen for 12 s: the tick after the gap ended after the command arrived, the one before
    // it is 12 s old.
    QTest::newRow("received before the first tick after a gap ended")
        << QList<qint64>{1000, 1005, 13000, 13095} << qint64(13002) << qint64(13100) << false
        << CommandFreshness::TickTooOld;
    QTest::newRow("received after it ended")
        << QList<qint64>{1000, 1005, 13000, 13095} << qint64(13096) << qint64(13100) << false
        << CommandFreshness::Current;
    QTest::newRow("a tick frozen between its reads")
        << QList<qint64>{1000, 13000} << qint64(13010) << qint64(13010) << false
        << CommandFreshness::TickTooOld;
    QTest::newRow("waited more than a second in the program")
        << steady << qint64(1210) << qint64(2211) << false << CommandFreshness::WaitedTooLong;
}

void TestModule::commandFreshness()
{
    QFETCH(QList<qint64>, ticks);
    QFETCH(qint64, received);
    QFETCH(qint64, now);
    QFETCH(bool, staleShown);
    QFETCH(CommandFreshness, expected);

    // After a connection or an address change only the ticks since count, wherever the ring
    // stood: a cleared ring answers as a new one.
    RecentTicks recent, moved;
    for (int i = 0; i < 5; ++i)
        moved.add(i * 100, i * 100 + 5);
    moved.clear();
    for (RecentTicks *ring : {&recent, &moved}) {
        for (int i = 0; i < ticks.size(); i += 2)
            ring->add(ticks[i], ticks[i + 1]);
        QCOMPARE(Brelk::commandFreshness(staleShown, *ring, received, now), expected);
    }
}

void TestModule::channelAlarms_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("events");
    QTest::addColumn<double>("vmeas");
    QTest::addColumn<double>("vset");
    QTest::addColumn<double>("tolerance"); // from the settings; 0: the default rule
    QTest::addColumn<AlarmLevel>("eventLevel");
    QTest::addColumn<AlarmLevel>("stateLevel");
    QTest::addColumn<AlarmLevel>("vmeasLevel");
    QTest::addColumn<QString>("red");

    const auto none = AlarmLevel::None, amber = AlarmLevel::Amber, red = AlarmLevel::Red;
    QTest::newRow("quiet") << 0 << 0 << 1000.0 << 1000.0 << 0.0 << none << none << none << "";
    QTest::newRow("trip") << 0 << int(EventTRP) << 0.0 << 0.0 << 0.0 << red << none << none
                          << "TRP";
    QTest::newRow("current limit and trip")
        << 0 << int(EventILIM | EventTRP) << 0.0 << 0.0 << 0.0 << red << none << none << "ILIM+TRP";
    QTest::newRow("inhibit with quality")
        << 0 << int(EventINH | EventQUA) << 0.0 << 0.0 << 0.0 << red << none << none << "INH";
    QTest::newRow("quality and voltage limit only")
        << 0 << int(EventQUA | EventVLIM) << 0.0 << 0.0 << 0.0 << amber << none << none << "";
    QTest::newRow("error") << int(StatusError) << 0 << 0.0 << 0.0 << 0.0 << none << red << none
                           << "Error";
    QTest::newRow("error and trip") << int(StatusError) << int(EventTRP) << 0.0 << 0.0 << 0.0 << red
                                    << red << none << "TRP+Error";
    QTest::newRow("configured 50 V")
        << 0 << 0 << 2960.0 << 3000.0 << 50.0 << none << none << none << "";
    QTest::newRow("configured 5 V")
        << 0 << 0 << 494.0 << 500.0 << 5.0 << none << none << amber << "";
    // At 100 mV the panel's volts are counts × 0.1, never exact in binary; the default rule's
    // edges are checked over every set voltage below.
    QTest::newRow("100 mV: exactly a configured 0.3 V")
        << 0 << 0 << 15003 * FineVoltsPerCount << 1500.0 << 0.3 << none << none << none << "";
    QTest::newRow("100 mV: 0.1 V beyond a configured 0.3 V")
        << 0 << 0 << 14996 * FineVoltsPerCount << 1500.0 << 0.3 << none << none << amber << "";
    QTest::newRow("ramping up") << int(StatusRamping | StatusRampUp) << 0 << 100.0 << 3000.0 << 0.0
                                << none << none << none << "";
    QTest::newRow("manual") << int(StatusManual) << 0 << 100.0 << 3000.0 << 0.0 << none << none
                            << none << "";
    QTest::newRow("HV off") << int(StatusHvOff) << 0 << 0.0 << 3000.0 << 0.0 << none << none << none
                            << "";
    QTest::newRow("error, far off")
        << int(StatusError) << 0 << 0.0 << 3000.0 << 0.0 << none << red << none << "Error";
}

void TestModule::channelAlarms()
{
    QFETCH(int, status);
    QFETCH(int, events);
    QFETCH(double, vmeas);
    QFETCH(double, vset);
    QFETCH(double, tolerance);

    const ChannelAlarms alarms =
        Brelk::channelAlarms(quint8(status), quint8(events), vmeas, vset, tolerance);
    QTEST(alarms.events, "eventLevel");
    QTEST(alarms.state, "stateLevel");
    QTEST(alarms.voltageDeviation, "vmeasLevel");
    QTEST(redAlarmText(quint8(status), quint8(events)), "red");
}

// Every set voltage whose default tolerance is a whole number of 100 mV, on both sides: the
// count at the tolerance is no alarm, the next count beyond it is.
void TestModule::everyVoltageDeviationEdgeAt100mV()
{
    int edges = 0;
    for (int vset = 0; vset <= 6000; ++vset) {
        const int toleranceTenths = vset <= 1000 ? 100 : vset / 10;
        if (vset > 1000 && vset % 10 != 0)
            continue;
        for (const int side : {1, -1}) {
            const int edge = vset * 10 + side * toleranceTenths;
            if (edge < 0)
                continue;
            ++edges;
            QCOMPARE(voltageDeviationAlarm(0, edge * FineVoltsPerCount, vset, 0.0),
                     AlarmLevel::None);
            QCOMPARE(voltageDeviationAlarm(0, (edge + side) * FineVoltsPerCount, vset, 0.0),
                     AlarmLevel::Amber);
        }
    }
    QCOMPARE(edges, 2992);
}

void TestModule::voltageToleranceSetting_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<double>("volts"); // 0: the default rule

    QTest::newRow("absent") << QString() << 0.0;
    QTest::newRow("25 V") << "25" << 25.0;
    QTest::newRow("fraction, blanks") << " 2.5 " << 2.5;
    QTest::newRow("negative") << "-5" << 0.0;
    QTest::newRow("with unit") << "25 V" << 0.0;
    QTest::newRow("infinite") << "inf" << 0.0;
    QTest::newRow("not a number") << "nan" << 0.0;
}

void TestModule::voltageToleranceSetting()
{
    QFETCH(QString, stored);
    QTEST(parseVoltageTolerance(stored), "volts");
}

namespace {

// One change to a tick per row, each away from what the tick held; only its time leaves what a
// screen shows as it was.
const struct
{
    const char *name;
    void (*change)(Reading &);
} ReadingChanges[] = {
    {"time", [](Reading &r) { r.time += 100; }},
    {"serial number", [](Reading &r) { r.serialNumber ^= 1; }},
    {"vset B", [](Reading &r) { r.vset[1] ^= 1; }},
    {"ramp A", [](Reading &r) { r.ramp[0] ^= 1; }},
    {"vmeas B", [](Reading &r) { r.vmeas[1] ^= 1; }},
    {"imeas A", [](Reading &r) { r.imeas[0] ^= 1; }},
    {"imeas2 B", [](Reading &r) { r.imeas2[1] ^= 1; }},
    {"status", [](Reading &r) { r.status ^= 0x8000; }},
    {"events", [](Reading &r) { r.events ^= 0x0001; }},
    {"limits B", [](Reading &r) { r.limits[1] ^= 1; }},
    {"soft limit A", [](Reading &r) { r.softLimitI[0] ^= 1; }},
    {"soft limit 2 B", [](Reading &r) { r.softLimitI2[1] ^= 1; }},
    {"fine voltage", [](Reading &r) { r.fineVoltage = !r.fineVoltage; }},
    {"current resolution", [](Reading &r) { r.currentResolution = CurrentResolution::nA1; }},
    {"second range", [](Reading &r) { r.secondRange = SecondRange::pA100; }},
};

} // namespace

void TestModule::sameWords_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<bool>("same");
    for (int change = 0; change < int(std::size(ReadingChanges)); ++change)
        QTest::newRow(ReadingChanges[change].name) << change << (change == 0);
}

void TestModule::sameWords()
{
    QFETCH(int, change);
    QFETCH(bool, same);
    const Reading a;
    Reading b = a;
    QVERIFY(Brelk::sameWords(a, b));
    ReadingChanges[change].change(b);
    QCOMPARE(Brelk::sameWords(a, b), same);
    QCOMPARE(Brelk::sameWords(b, a), same);
}

QTEST_APPLESS_MAIN(TestModule)
#include "tst_module.moc"
