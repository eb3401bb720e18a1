// The crate runtime on the module simulator, without a window: channel groups as the settings
// file gives them, a trip that brings a group down on the bus in the tick that read it, and a
// group ramped in steps that keep neighbouring electrodes within the group's difference.
#include "crate.h"
#include "crateevent.h"
#include "crateruntime.h"
#include "csvformat.h"
#include "groupramp.h"
#include "modulesession.h"
#ifdef BRELK_MQTT
#include "groupcommand.h"
#include "payloads.h"
#endif
#include "eventtexts.h"
#include "readinghistory.h"
#include "settingsfile.h"
#include "simcontrol.h"

#ifdef BRELK_MQTT
#include "mqttpublisher.h"
#endif

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace Brelk;
using Write = SimControl::Write;

class TestRuntime : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void tripBringsTheGroupDown_data();
    void tripBringsTheGroupDown();
    void badGroupsAreIgnored_data();
    void badGroupsAreIgnored();
    void furtherPublishersFollowTheBrokerKeys();
    void stepsKeepNeighboursTogether_data();
    void stepsKeepNeighboursTogether();
    void groupRampReachesTheTargets();
    void rampStopsWhereItIs_data();
    void rampStopsWhereItIs();
    void refusedRampWritesNothing_data();
    void refusedRampWritesNothing();
    void tripLogsARowAndMarksTheTrend();
#ifdef BRELK_MQTT
    void groupCommandAnswers_data();
    void groupCommandAnswers();
#endif

private:
    // A runtime on the simulator with modules at 0xDD00, 0xDC00 and 0xDE00, and a configured
    // module at 0xDF00 that is not in the crate; the poll is the test's. `general`, `dc00`
    // and `de00`: further keys of the first module and of the modules at 0xDC00 and 0xDE00.
    void start(const QByteArray &groups, const QByteArray &general = {},
               const QByteArray &dc00 = {}, const QByteArray &de00 = {});
    // The channels of the ramp test's group GEM1 (DD00A, DD00B, DC00A) at 0 V, ramping at
    // 100, 40 and 255 V/s, on the simulator's clock, which the test moves.
    void startRampGroup(const QByteArray &more = {}, const QByteArray &general = {},
                        const QByteArray &dc00 = {}, const QByteArray &de00 = {});
    // One poll interval on the simulator's clock, then a tick of the crate. Every tick is
    // checked: measured and set voltages of neighbours within MaxDifference 400 V (the measured
    // ones plus the tolerance of 10 V).
    void rampTick();
    // Ramp ticks while GEM1 ramps, stopping at the first failed check.
    void rampToTheEnd()
    {
        for (int tick = 0; tick < 2000 && runtime->isGroupRamping(QStringLiteral("GEM1")) &&
                           !QTest::currentTestFailed();
             ++tick)
            rampTick();
    }
    // Ticks on the simulator's clock without the ramp checks.
    void pollTicks(int ticks)
    {
        for (int tick = 0; tick < ticks; ++tick)
            sim->advance(PollIntervalMs), runtime->crate()->pollAll();
    }
    double volts(int channel, bool measured) const;

    std::unique_ptr<SimControl> sim;
    QTemporaryDir folder;
    std::unique_ptr<CrateRuntime> runtime;
    std::unique_ptr<QSignalSpy> happened;
};

void TestRuntime::initTestCase()
{
    sim.reset(new SimControl(QStringLiteral("libxxusb")));
    QVERIFY2(sim->isLoaded(), "the module simulator is not on the library search path");
}

void TestRuntime::init()
{
    runtime.reset();
    sim->reset();
    QVERIFY(
        sim->configure(QStringLiteral("BRELKSIM_MODULES"), QStringLiteral("0xDD00,0xDC00,0xDE00")));
}

void TestRuntime::start(const QByteArray &groups, const QByteArray &general, const QByteArray &dc00,
                        const QByteArray &de00)
{
    const QString ini = folder.filePath(QStringLiteral("crate.ini"));
    QVERIFY(writeSettingsFile(ini, "[General]\nVmeController=VM-USB\n" + general +
                                       "[Module_DC00]\n" + dc00 + "[Module_DE00]\n" + de00 +
                                       "[Module_DF00]\n" + groups));
    runtime.reset(new CrateRuntime(ini, CrateRuntime::Options()));
    happened.reset(new QSignalSpy(runtime.get(), &CrateRuntime::happened));
    runtime->start();
    runtime->pollTimer()->stop();
    QVERIFY(runtime->bridge()->isOpen());
    runtime->crate()->pollAll();
    runtime->crate()->pollAll();
    sim->clearLog();
}

void TestRuntime::tripBringsTheGroupDown_data()
{
    QTest::addColumn<QByteArray>("group"); // the keys of group GEM1
    QTest::addColumn<QString>("inhibit");
    QTest::addColumn<QVector<Write>>("writes");
    QTest::addColumn<QString>("line");

    const auto gem1 = [](const char *onTrip) {
        return "Channels=DD00A, DD00B, DC00A\nTripRamp=100\nOnTrip=" + QByteArray(onTrip);
    };
    const Write rampDD00A{0xDD0C, 100}, offDD00A{0xDD34, 0};
    const Write rampDD00B{0xDD10, 100}, offDD00B{0xDD38, 0};
    const Write rampDC00A{0xDC0C, 100}, offDC00A{0xDC34, 0};
    QTest::newRow("rampdown, first channel")
        << gem1("rampdown") << "BRELKSIM_INHIBIT_A"
        << QVector<Write>{rampDD00B, offDD00B, rampDC00A, offDC00A}
        << "Group GEM1: channel DD00A tripped, ramping DD00B, DC00A down";
    QTest::newRow("rampdown, middle channel: the one before first")
        << gem1("rampdown") << "BRELKSIM_INHIBIT_B"
        << QVector<Write>{rampDD00A, offDD00A, rampDC00A, offDC00A}
        << "Group GEM1: channel DD00B tripped, ramping DD00A, DC00A down";
    QTest::newRow("rampdown, last channel, on another module")
        << gem1("rampdown") << "BRELKSIM_DC00_INHIBIT_A"
        << QVector<Write>{rampDD00B, offDD00B, rampDD00A, offDD00A}
        << "Group GEM1: channel DC00A tripped, ramping DD00B, DD00A down";
    QTest::newRow("off, middle channel")
        << gem1("off") << "BRELKSIM_INHIBIT_B" << QVector<Write>{offDD00A, offDC00A}
        << "Group GEM1: channel DD00B tripped, setting DD00A, DC00A to 0 V";
    QTest::newRow("none") << gem1("none") << "BRELKSIM_INHIBIT_B" << QVector<Write>() << QString();
    QTest::newRow("a channel of a module that does not answer is skipped")
        << QByteArray("Channels=DF00A, DD00A, DE00B\nOnTrip=off") << "BRELKSIM_INHIBIT_A"
        << QVector<Write>{{0xDE38, 0}}
        << "Group GEM1: channel DD00A tripped, setting DE00B to 0 V; DF00A skipped: its module "
           "does not answer";
}

// The trip is read at one module's part of a tick and the group's other channels, on whatever
// module, are written before that tick ends; a channel of another group is not touched.
void TestRuntime::tripBringsTheGroupDown()
{
    QFETCH(QByteArray, group);
    QFETCH(QString, inhibit);
    QFETCH(QVector<Write>, writes);
    QFETCH(QString, line);

    start("[Group_GEM1]\n" + group + "\n[Group_Other]\nChannels=DC00B, DE00A\n");
    QVERIFY(sim->configure(inhibit, QStringLiteral("on")));
    runtime->crate()->pollAll();
    QCOMPARE(sim->writes(), writes);
    if (!line.isEmpty())
        QCOMPARE(eventTexts(*happened, CrateEvent::GroupTripped), QStringList{line});
    QVERIFY(runtime->isGroupTripped(QStringLiteral("GEM1")));
    QVERIFY(!runtime->isGroupTripped(QStringLiteral("Other")));

    // A trip is acted on once: the next ticks still read it and write nothing.
    sim->clearLog();
    runtime->crate()->pollAll();
    QCOMPARE(sim->writes(), QVector<Write>());
}

void TestRuntime::badGroupsAreIgnored_data()
{
    QTest::addColumn<QByteArray>("groups");
    QTest::addColumn<QStringList>("ignored");

    // Group `group` with these keys, and the one line that ignores it.
    const auto row = [](const char *name, const QByteArray &keys, const char *reason,
                        const char *group = "G") {
        QTest::newRow(name) << "[Group_" + QByteArray(group) + "]\n" + keys
                            << QStringList{QStringLiteral("Group %1 is ignored: %2")
                                               .arg(QLatin1String(group), QLatin1String(reason))};
    };
    const QByteArray pair("Channels=DD00A, DC00A\n");
    row("channel of a module that is not configured", "Channels=DD00A, DB00A\n",
        "channel DB00A is on no configured module");
    QTest::newRow("channel in two groups: the second goes")
        << "[Group_G1]\n" + pair + "[Group_G2]\nChannels=DE00A, dc00a\n"
        << QStringList{"Group G2 is ignored: channel DC00A is in group G1 already"};
    row("key with a typo", pair + "OnTrp=off\n", "unknown key OnTrp");
    row("unknown OnTrip", pair + "OnTrip=rampup\n",
        "OnTrip takes rampdown, off or none, not \"rampup\"");
    row("channel that is no channel", "Channels=DD00A, DC00C\n",
        "Channels: \"DC00C\" is no channel such as DD00A");
    row("one channel", "Channels=DD00A\n", "Channels must name at least two channels");
    row("targets for another count of channels", pair + "Targets=1000\n",
        "Targets names 1 set voltages for 2 channels");
    row("trip ramp beyond the module", pair + "TripRamp=300\n",
        "TripRamp takes 2 to 255 V/s, not \"300\"");
    row("negative difference", pair + "MaxDifference=-5\n",
        "MaxDifference takes volts above 0, not \"-5\"");
    row("name that is no topic level", pair, "a group's name takes letters, digits, - and _ only",
        "G+1");
}

// A group that cannot be acted on safely does nothing at all, and says why, once.
void TestRuntime::badGroupsAreIgnored()
{
    QFETCH(QByteArray, groups);
    start(groups);
    QTEST(eventTexts(*happened, CrateEvent::GroupIgnored), "ignored");
    QVERIFY(sim->configure(QStringLiteral("BRELKSIM_INHIBIT_A"), QStringLiteral("on")));
    runtime->crate()->pollAll();
    const QVector<ChannelGroup> kept = runtime->channelGroups();
    for (const ChannelGroup &group : kept) {
        if (group.channels.first().text() == QLatin1String("DD00A"))
            return; // the first of two groups, kept
    }
    QCOMPARE(sim->writes(), QVector<Write>());
}

// A write of the broker keys restarts a further module's publisher with them; a write of any
// other key, or a module's group moved, leaves it running.
void TestRuntime::furtherPublishersFollowTheBrokerKeys()
{
#ifndef BRELK_MQTT
    QSKIP("built without MQTT");
#else
    start(QByteArray());
    MqttPublisher *further = runtime->publisher(runtime->crate()->module(0xDC00));
    QVERIFY(further && !further->isPublishing());
    QSignalSpy restarts(further, &MqttPublisher::stateChanged);
    Settings file = runtime->settings();

    QVERIFY(file.moduleGroup(0xDC00).storeLog(folder.filePath(QStringLiteral("dc00.csv")), 1000));
    QVERIFY(file.moveFurtherModule(0xDE00, 0xDB00));
    QVERIFY(storeRemoteCommandsAllowed(file, true));
    QCOMPARE(restarts.count(), 0);

    MqttSettings broker;
    broker.host = QStringLiteral("127.0.0.1");
    broker.port = 1;
    QVERIFY(storeMqttSettings(file, broker, 0xDD00));
    QCOMPARE(restarts.count(), 1);
    QCOMPARE(further->currentSettings().host, QStringLiteral("127.0.0.1"));
    QCOMPARE(further->currentSettings().topic, QStringLiteral("brelk/dc00"));
    runtime->stop();
#endif
}

using Volts = QVector<double>;
using Steps = QVector<Volts>;

void TestRuntime::stepsKeepNeighboursTogether_data()
{
    QTest::addColumn<Volts>("start");
    QTest::addColumn<Volts>("targets");
    QTest::addColumn<double>("difference");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<Steps>("expected"); // empty: only the rules are checked

    QTest::newRow("up from zero: the lowest target first")
        << Volts{0, 0, 0} << Volts{3000, 2600, 2200} << 400.0 << true
        << Steps{{400, 400, 400},    {800, 800, 800},    {1200, 1200, 1200}, {1600, 1600, 1600},
                 {2000, 2000, 2000}, {2400, 2400, 2200}, {2800, 2600, 2200}, {3000, 2600, 2200}};
    QTest::newRow("without a difference: the targets at once")
        << Volts{0, 500} << Volts{3000, 100} << 0.0 << true << Steps{{3000, 100}};
    QTest::newRow("at the targets: no step")
        << Volts{100, 200} << Volts{100, 200} << 50.0 << true << Steps{};
    QTest::newRow("down from uneven voltages")
        << Volts{1000, 0, 500} << Volts{0, 0, 0} << 300.0 << true << Steps{};
    QTest::newRow("up across a neighbour that starts high")
        << Volts{0, 900, 0, 0} << Volts{1000, 1000, 1000, 1000} << 250.0 << true << Steps{};
    QTest::newRow("fractional difference")
        << Volts{0, 0} << Volts{1000, 990} << 333.3 << true << Steps{};
    QTest::newRow("targets further apart than the difference")
        << Volts{0, 0} << Volts{3000, 2000} << 400.0 << false << Steps{};
}

// Between two steps each channel goes its own way at its own speed: the neighbours' difference
// is largest at one of the four corners of the two steps, which must all keep it (or, for a pair
// that started further apart, keep at most the distance it had).
void TestRuntime::stepsKeepNeighboursTogether()
{
    QFETCH(Volts, start);
    QFETCH(Volts, targets);
    QFETCH(double, difference);
    QFETCH(bool, reachable);
    QFETCH(Steps, expected);

    Steps steps;
    QCOMPARE(planGroupSteps(start, targets, difference, &steps), reachable);
    if (!expected.isEmpty() || start == targets)
        QCOMPARE(steps, expected);
    if (!reachable)
        return;
    QVERIFY(steps.isEmpty() || steps.last() == targets);
    Volts before = start;
    for (const Volts &step : qAsConst(steps)) {
        for (int i = 0; i < step.size(); ++i) {
            if (difference > 0)
                QVERIFY2(qAbs(step[i] - before[i]) <= difference + 1e-9, "a move beyond it");
            if (i + 1 == step.size() || difference <= 0)
                continue;
            const double bound = qMax(difference, qAbs(before[i] - before[i + 1])) + 1e-9;
            for (double a : {before[i], step[i]}) {
                for (double b : {before[i + 1], step[i + 1]})
                    QVERIFY2(qAbs(a - b) <= bound,
                             qPrintable(QString::asprintf("%g and %g at channel %d", a, b, i)));
            }
        }
        before = step;
    }
}

void TestRuntime::startRampGroup(const QByteArray &more, const QByteArray &general,
                                 const QByteArray &dc00, const QByteArray &de00)
{
    for (const char *key : {"BRELKSIM_VSET_A", "BRELKSIM_VSET_B", "BRELKSIM_DC00_VSET_A"})
        QVERIFY(sim->configure(QLatin1String(key), QStringLiteral("0")));
    QVERIFY(sim->configure(QStringLiteral("BRELKSIM_RAMP_A"), QStringLiteral("100")));
    QVERIFY(sim->configure(QStringLiteral("BRELKSIM_RAMP_B"), QStringLiteral("40")));
    QVERIFY(sim->configure(QStringLiteral("BRELKSIM_DC00_RAMP_A"), QStringLiteral("255")));
    sim->setManualClock(true);
    start("[Group_GEM1]\nChannels=DD00A, DD00B, DC00A\nMaxDifference=400\n" + more, general, dc00,
          de00);
}

double TestRuntime::volts(int channel, bool measured) const
{
    static const GroupChannel channels[] = {{0xDD00, 0}, {0xDD00, 1}, {0xDC00, 0}};
    const GroupChannel &which = channels[channel];
    const Reading &reading = runtime->crate()->module(which.address)->newestReading();
    return measured ? measuredVolts(reading, which.channel) : setVolts(reading, which.channel);
}

void TestRuntime::rampTick()
{
    sim->advance(PollIntervalMs);
    runtime->crate()->pollAll();
    for (int i = 0; i < 2; ++i) {
        for (bool measured : {true, false}) {
            const double a = volts(i, measured), b = volts(i + 1, measured);
            QVERIFY2(qAbs(a - b) <= (measured ? 410 : 400),
                     qPrintable(QString::asprintf("%g V and %g V at channel %d", a, b, i)));
        }
    }
}

// Up to the targets and down to zero again, each step written once every channel reached the
// one before, on channels that ramp at 40 to 255 V/s; every tick on the way keeps the neighbours
// within the difference.
void TestRuntime::groupRampReachesTheTargets()
{
    const Volts reached{1600, 1300, 1000};
    startRampGroup("Targets=1600, 1300, 1000\n");
    QCOMPARE(runtime->groupStateText(QStringLiteral("GEM1")), QString());
    QCOMPARE(runtime->rampGroup(QStringLiteral("GEM1"), GroupRampDirection::Up), QString());
    QCOMPARE(eventTexts(*happened, CrateEvent::GroupRamp),
             QStringList{"Group GEM1: ramping up to the targets in 4 steps"});
    QVERIFY(
        runtime->groupStateText(QStringLiteral("GEM1")).startsWith(QLatin1String("ramping up 1/")));
    // The first step is on the bus before the next tick.
    QCOMPARE(sim->writes(), (QVector<Write>{{0xDD34, 400}, {0xDD38, 400}, {0xDC34, 400}}));

    rampToTheEnd();
    QCOMPARE(runtime->groupStateText(QStringLiteral("GEM1")), QStringLiteral("at targets"));
    QCOMPARE(eventTexts(*happened, CrateEvent::GroupRamp).last(),
             QStringLiteral("Group GEM1: at the targets"));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(volts(i, false), reached[i]);
        QVERIFY(withinVoltageTolerance(volts(i, true), reached[i], 0));
    }

    QCOMPARE(runtime->rampGroup(QStringLiteral("GEM1"), GroupRampDirection::Down), QString());
    QVERIFY(runtime->groupStateText(QStringLiteral("GEM1"))
                .startsWith(QLatin1String("ramping down 1/")));
    rampToTheEnd();
    QCOMPARE(runtime->groupStateText(QStringLiteral("GEM1")), QStringLiteral("at zero"));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(volts(i, false), 0.0);
        QVERIFY(withinVoltageTolerance(volts(i, true), 0, 0));
    }
}

void TestRuntime::rampStopsWhereItIs_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("said");

    const auto row = [](const char *name, const char *key, const QString &said,
                        const char *state = "stopped") {
        QTest::newRow(name) << QString(key) << QString(state) << said;
    };
    const QString step2 = QStringLiteral("Group GEM1: ramp up stopped at step 2/4: ");
    row("trip of the middle channel", "BRELKSIM_TRIP_B",
        "Group GEM1: channel DD00B tripped, ramping DD00A, DC00A down", "tripped");
    row("operator's stop", "", step2 + "stopped by the operator");
    row("module that stops answering", "BRELKSIM_DC00_NO_MODULE",
        step2 + "module 0xDC00 does not answer");
    row("module paused for its address dialog", "paused", step2 + "the module at 0xDC00 is paused");
    row("write that fails", "BRELKSIM_WRITES_FAIL",
        "Group GEM1: ramp up stopped at step 3/4: DD00A: Write to the module at 0xDD00 failed "
        "(register 0x34): Input/output error (error -5)");
}

// In the middle of the ramp: nothing raises a set voltage any more, whatever the ticks read.
void TestRuntime::rampStopsWhereItIs()
{
    QFETCH(QString, key);
    QFETCH(QString, said);

    startRampGroup("Targets=1600, 1300, 1000\n");
    QCOMPARE(runtime->rampGroup(QStringLiteral("GEM1"), GroupRampDirection::Up), QString());
    for (int tick = 0; tick < 500 && !runtime->groupStateText(QStringLiteral("GEM1"))
                                          .startsWith(QLatin1String("ramping up 2/"));
         ++tick)
        rampTick();
    for (int tick = 0; tick < 20 && !QTest::currentTestFailed(); ++tick)
        rampTick();
    QVERIFY(runtime->isGroupRamping(QStringLiteral("GEM1")));
    if (key.isEmpty())
        QVERIFY(runtime->stopGroupRamp(QStringLiteral("GEM1")));
    else if (key == QLatin1String("paused"))
        runtime->pause(runtime->crate()->module(0xDC00));
    else
        QVERIFY(sim->configure(key, QStringLiteral("on")));
    pollTicks(300);
    QVERIFY(!runtime->isGroupRamping(QStringLiteral("GEM1")));
    QTEST(runtime->groupStateText(QStringLiteral("GEM1")), "state");
    const QStringList told = eventTexts(*happened, CrateEvent::GroupRamp) +
                             eventTexts(*happened, CrateEvent::GroupTripped);
    QVERIFY2(told.contains(said), qPrintable(told.join(QLatin1Char('\n'))));
    sim->clearLog();
    pollTicks(100);
    QCOMPARE(sim->writes(), QVector<Write>());
    QVERIFY(!runtime->stopGroupRamp(QStringLiteral("GEM1")));
}

void TestRuntime::refusedRampWritesNothing_data()
{
    QTest::addColumn<QByteArray>("group");
    QTest::addColumn<QByteArray>("general");
    QTest::addColumn<QString>("switchedOff"); // the simulator's key of an HV switch turned off
    QTest::addColumn<QString>("refusal");

    QTest::newRow("target above the ceiling")
        << QByteArray("Targets=1600, 1300, 1000\n") << QByteArray("VsetMaxB=1200\n") << QString()
        << "DD00B target 1300 V is above the ceiling of 1200 V (VsetMaxB)";
    QTest::newRow("ceiling of a further module")
        << QByteArray("Targets=1000, 1000, 1000\n") << QByteArray() << QString()
        << "DC00A target 1000 V is above the ceiling of 900 V (VsetMaxA)";
    QTest::newRow("no targets") << QByteArray() << QByteArray() << QString()
                                << "group GEM1 has no Targets to ramp up to";
    QTest::newRow("targets too far apart")
        << QByteArray("Targets=1600, 1000, 800\n") << QByteArray() << QString()
        << "the targets of DD00A and DD00B (1600 V, 1000 V) lie more than MaxDifference 400 V "
           "apart";
    QTest::newRow("HV switch off on a further module")
        << QByteArray("Targets=1000, 800, 600\n") << QByteArray() << "BRELKSIM_DC00_HV_A"
        << "channel DC00A of group GEM1 has its HV switch off";
}

// A ramp up that could not end at the targets as they stand is refused before any write.
void TestRuntime::refusedRampWritesNothing()
{
    QFETCH(QByteArray, group);
    QFETCH(QByteArray, general);
    QFETCH(QString, switchedOff);

    if (!switchedOff.isEmpty())
        QVERIFY(sim->configure(switchedOff, QStringLiteral("off")));
    startRampGroup(group, general, "VsetMaxA=900\n");
    QString error;
    QTEST(runtime->rampGroup(QStringLiteral("GEM1"), GroupRampDirection::Up, &error), "refusal");
    // The code a remote client is answered with.
    QCOMPARE(error,
             switchedOff.isEmpty() ? QStringLiteral("out_of_range") : QStringLiteral("hv_off"));
    for (int tick = 0; tick < 20; ++tick)
        rampTick();
    QCOMPARE(sim->writes(), QVector<Write>());
    QCOMPARE(runtime->groupStateText(QStringLiteral("GEM1")), QString());
}

// Each module logs its own readings to its own file; the trip is in every module's data log at
// once, not at the next minute, and in its trend.
void TestRuntime::tripLogsARowAndMarksTheTrend()
{
    const QString logA = folder.filePath(QStringLiteral("dd00.csv"));
    const QString logC = folder.filePath(QStringLiteral("dc00.csv"));
    const QString logE = folder.filePath(QStringLiteral("de00.csv"));
    for (const QString &path : {logA, logC, logE})
        QFile::remove(path);
    const auto lines = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                   : QStringList();
    };
    QVERIFY(sim->configure(QStringLiteral("BRELKSIM_VSET_A"), QStringLiteral("1234")));
    QVERIFY(sim->configure(QStringLiteral("BRELKSIM_DC00_VSET_A"), QStringLiteral("2345")));
    sim->setManualClock(true);
    start("[Group_GEM1]\nChannels=DD00A, DC00A\n",
          "LogFile=" + logA.toUtf8() + "\nLogInterval=60\n",
          "LogFile=" + logC.toUtf8() + "\nLogInterval=60\n",
          "LogFile=" + logE.toUtf8() + "\nLogInterval=60\n");
    // The header and the first tick's row, each module's its own.
    for (const QString &log : {logA, logC, logE})
        QTRY_COMPARE(lines(log).size(), 2);
    for (const auto &log :
         {qMakePair(logA, QStringLiteral(",1234,")), qMakePair(logC, QStringLiteral(",2345,"))}) {
        const QStringList written = lines(log.first);
        QCOMPARE(written.first(), csvHeader());
        QVERIFY2(written.at(1).contains(log.second), qPrintable(written.at(1)));
    }
    QVERIFY(sim->configure(QStringLiteral("BRELKSIM_TRIP_A"), QStringLiteral("on")));
    pollTicks(2);
    QTRY_COMPARE(lines(logA).size(), 3);
    QTRY_COMPARE(lines(logC).size(), 3);
    QTest::qWait(50);
    QCOMPARE(lines(logE).size(), 2);
    for (quint32 address : {0xDD00, 0xDC00}) {
        const std::deque<EventMark> &marks =
            runtime->history(runtime->crate()->module(address))->eventMarks().all();
        QCOMPARE(int(marks.size()), 1);
        QCOMPARE(marks.front().text, QStringLiteral("Group GEM1 tripped (DD00A)"));
    }
    QVERIFY(runtime->history(runtime->crate()->module(0xDE00))->eventMarks().all().empty());
}

#ifdef BRELK_MQTT
void TestRuntime::groupCommandAnswers_data()
{
    QTest::addColumn<quint32>("prefixModule");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("writes");

    // By default group GEM1 under the first module's prefix, remote commands allowed, nothing
    // written.
    const auto row = [](const char *name, const QByteArray &payload, const QByteArray &answer,
                        int writes = 0, bool allowed = true, quint32 module = 0xDD00,
                        const char *group = "GEM1") {
        QTest::newRow(name) << module << QString(group) << payload << allowed << answer << writes;
    };
    row("targets", R"({"id":7,"ramp_to":"targets"})",
        R"({"command":"ramp_to","id":7,"ok":true,"value":"targets"})", 3);
    row("zero, at zero already", R"({"id":"z","ramp_to":"zero"})",
        R"({"command":"ramp_to","id":"z","ok":true,"value":"zero"})");
    row("stop without a ramp", R"({"ramp_to":"stop"})",
        R"({"command":"ramp_to","id":null,"message":"group GEM1 was not ramping","ok":true,)"
        R"("value":"stop"})");
    row("not allowed", R"({"id":1,"ramp_to":"targets"})",
        R"({"error":"disabled","id":1,"message":"remote commands are not allowed at the panel",)"
        R"("ok":false})",
        0, false);
    row("unknown direction", R"({"id":2,"ramp_to":"up"})",
        R"({"error":"invalid","id":2,"message":"\"ramp_to\" takes \"targets\", \"zero\" or )"
        R"(\"stop\"","ok":false})");
    row("a channel command's key", R"({"id":3,"vset":100})",
        R"({"error":"invalid","id":3,"message":"unknown key \"vset\"","ok":false})");
    row("under the prefix of another module of the group", R"({"id":4,"ramp_to":"targets"})",
        R"({"error":"invalid","id":4,"message":"no group GEM1 has its first channel on the )"
        R"(module at 0xDC00","ok":false})",
        0, true, 0xDC00);
    row("target above the ceiling", R"({"id":5,"ramp_to":"targets"})",
        R"x({"error":"out_of_range","id":5,"message":"DE00A target 2000 V is above the ceiling )x"
        R"x(of 1500 V (VsetMaxA)","ok":false})x",
        0, true, 0xDE00, "HIGH");
}

// What a client reads on `<prefix>/group/<name>/result`, and what reached the bus.
void TestRuntime::groupCommandAnswers()
{
    QFETCH(quint32, prefixModule);
    QFETCH(QString, group);
    QFETCH(QByteArray, payload);
    QFETCH(bool, allowed);

    startRampGroup("Targets=1600, 1300, 1000\n[Group_HIGH]\nChannels=DE00A, DE00B\n"
                   "Targets=2000, 1900\n",
                   {}, {}, "VsetMaxA=1500\n");
    ModuleSession *module = runtime->crate()->module(prefixModule);
    RemoteConditions conditions;
    conditions.allowed = allowed;
    conditions.wallClockMs = QDateTime::currentMSecsSinceEpoch();
    conditions.freshness = module->commandFreshness(monotonicMs());
    CommandRate rate;
    const GroupCommandResult result = takeGroupCommand(
        group, payload, conditions, &rate, 0, [&](const QString &name, const QString &rampTo) {
            return runtime->groupCommand(module, name, rampTo);
        });
    QTEST(compactJson(result.answer), "answer");
    QTEST(int(sim->writes().size()), "writes");
}
#endif

QTEST_GUILESS_MAIN(TestRuntime)
#include "tst_runtime.moc"
