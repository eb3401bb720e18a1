// The crate runtime on the module simulator, without a window: channel groups as the settings
// file gives them, and a trip that brings a group down on the bus in the tick that read it.
#include "crate.h"
#include "crateevent.h"
#include "crateruntime.h"
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
    void absentModuleIsSkippedAndSaid();
    void badGroupsAreIgnored_data();
    void badGroupsAreIgnored();
    void furtherPublishersFollowTheBrokerKeys();

private:
    // A runtime on the simulator with modules at 0xDD00, 0xDC00 and 0xDE00, and a configured
    // module at 0xDF00 that is not in the crate; the poll is the test's.
    void start(const QByteArray &groups);
    QStringList events(CrateEvent::Kind kind) const;

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

void TestRuntime::start(const QByteArray &groups)
{
    const QString ini = folder.filePath(QStringLiteral("crate.ini"));
    QFile file(ini);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[General]\nVmeController=VM-USB\n[Module_DC00]\n[Module_DE00]\n[Module_DF00]\n" +
               groups);
    file.close();
    runtime.reset(new CrateRuntime(ini, CrateRuntime::Options()));
    happened.reset(new QSignalSpy(runtime.get(), &CrateRuntime::happened));
    runtime->start();
    runtime->pollTimer()->stop();
    QVERIFY(runtime->bridge()->isOpen());
    runtime->crate()->pollAll();
    runtime->crate()->pollAll();
    sim->clearLog();
}

QStringList TestRuntime::events(CrateEvent::Kind kind) const
{
    QStringList texts;
    for (const QList<QVariant> &arguments : qAsConst(*happened)) {
        const CrateEvent event = arguments.first().value<CrateEvent>();
        if (event.kind == kind)
            texts << event.text;
    }
    return texts;
}

void TestRuntime::tripBringsTheGroupDown_data()
{
    QTest::addColumn<QByteArray>("onTrip");
    QTest::addColumn<QString>("inhibit");
    QTest::addColumn<QVector<Write>>("writes");
    QTest::addColumn<QString>("line");

    const Write rampDD00A{0xDD0C, 100}, offDD00A{0xDD34, 0};
    const Write rampDD00B{0xDD10, 100}, offDD00B{0xDD38, 0};
    const Write rampDC00A{0xDC0C, 100}, offDC00A{0xDC34, 0};
    QTest::newRow("rampdown, first channel")
        << QByteArray("rampdown") << "BRELKSIM_INHIBIT_A"
        << QVector<Write>{rampDD00B, offDD00B, rampDC00A, offDC00A}
        << "Group GEM1: channel DD00A tripped, ramping DD00B, DC00A down";
    QTest::newRow("rampdown, middle channel: the one before first")
        << QByteArray("rampdown") << "BRELKSIM_INHIBIT_B"
        << QVector<Write>{rampDD00A, offDD00A, rampDC00A, offDC00A}
        << "Group GEM1: channel DD00B tripped, ramping DD00A, DC00A down";
    QTest::newRow("rampdown, last channel, on another module")
        << QByteArray("rampdown") << "BRELKSIM_DC00_INHIBIT_A"
        << QVector<Write>{rampDD00B, offDD00B, rampDD00A, offDD00A}
        << "Group GEM1: channel DC00A tripped, ramping DD00B, DD00A down";
    QTest::newRow("off, first channel")
        << QByteArray("off") << "BRELKSIM_INHIBIT_A" << QVector<Write>{offDD00B, offDC00A}
        << "Group GEM1: channel DD00A tripped, setting DD00B, DC00A to 0 V";
    QTest::newRow("off, middle channel")
        << QByteArray("off") << "BRELKSIM_INHIBIT_B" << QVector<Write>{offDD00A, offDC00A}
        << "Group GEM1: channel DD00B tripped, setting DD00A, DC00A to 0 V";
    QTest::newRow("off, last channel")
        << QByteArray("off") << "BRELKSIM_DC00_INHIBIT_A" << QVector<Write>{offDD00B, offDD00A}
        << "Group GEM1: channel DC00A tripped, setting DD00B, DD00A to 0 V";
    for (const char *inhibit :
         {"BRELKSIM_INHIBIT_A", "BRELKSIM_INHIBIT_B", "BRELKSIM_DC00_INHIBIT_A"}) {
        QTest::newRow(qPrintable(QStringLiteral("none, %1").arg(QLatin1String(inhibit))))
            << QByteArray("none") << QString::fromLatin1(inhibit) << QVector<Write>() << QString();
    }
}

// The trip is read at one module's part of a tick and the group's other channels, on whatever
// module, are written before that tick ends; a channel of another group is not touched.
void TestRuntime::tripBringsTheGroupDown()
{
    QFETCH(QByteArray, onTrip);
    QFETCH(QString, inhibit);
    QFETCH(QVector<Write>, writes);
    QFETCH(QString, line);

    start("[Group_GEM1]\nChannels=DD00A, DD00B, DC00A\nOnTrip=" + onTrip +
          "\nTripRamp=100\n[Group_Other]\nChannels=DC00B, DE00A\n");
    QVERIFY(sim->configure(inhibit, QStringLiteral("on")));
    runtime->crate()->pollAll();
    QCOMPARE(sim->writes(), writes);
    if (!line.isEmpty())
        QCOMPARE(events(CrateEvent::GroupTripped), QStringList{line});
    QVERIFY(runtime->isGroupTripped(QStringLiteral("GEM1")));
    QVERIFY(!runtime->isGroupTripped(QStringLiteral("Other")));

    // A trip is acted on once: the next ticks still read it and write nothing.
    sim->clearLog();
    runtime->crate()->pollAll();
    QCOMPARE(sim->writes(), QVector<Write>());
}

void TestRuntime::absentModuleIsSkippedAndSaid()
{
    start("[Group_Edge]\nChannels=DF00A, DD00A, DC00B\nOnTrip=off\n");
    QVERIFY(sim->configure(QStringLiteral("BRELKSIM_INHIBIT_A"), QStringLiteral("on")));
    runtime->crate()->pollAll();
    QCOMPARE(sim->writes(), (QVector<Write>{{0xDC38, 0}}));
    QCOMPARE(events(CrateEvent::GroupTripped),
             QStringList{"Group Edge: channel DD00A tripped, setting DC00B to 0 V; DF00A skipped: "
                         "its module does not answer"});
}

void TestRuntime::badGroupsAreIgnored_data()
{
    QTest::addColumn<QByteArray>("groups");
    QTest::addColumn<QStringList>("ignored");

    QTest::newRow("channel of a module that is not configured")
        << QByteArray("[Group_G]\nChannels=DD00A, DB00A\n")
        << QStringList{"Group G is ignored: channel DB00A is on no configured module"};
    QTest::newRow("channel in two groups: the second goes")
        << QByteArray("[Group_G1]\nChannels=DD00A, DC00A\n[Group_G2]\nChannels=DE00A, dc00a\n")
        << QStringList{"Group G2 is ignored: channel DC00A is in group G1 already"};
    QTest::newRow("key with a typo") << QByteArray("[Group_G]\nChannels=DD00A, DC00A\nOnTrp=off\n")
                                     << QStringList{"Group G is ignored: unknown key OnTrp"};
    QTest::newRow("unknown OnTrip")
        << QByteArray("[Group_G]\nChannels=DD00A, DC00A\nOnTrip=rampup\n")
        << QStringList{"Group G is ignored: OnTrip takes rampdown, off or none, not \"rampup\""};
    QTest::newRow("channel that is no channel")
        << QByteArray("[Group_G]\nChannels=DD00A, DC00C\n")
        << QStringList{"Group G is ignored: Channels: \"DC00C\" is no channel such as DD00A"};
    QTest::newRow("one channel")
        << QByteArray("[Group_G]\nChannels=DD00A\n")
        << QStringList{"Group G is ignored: Channels must name at least two channels"};
    QTest::newRow("targets for another count of channels")
        << QByteArray("[Group_G]\nChannels=DD00A, DC00A\nTargets=1000\n")
        << QStringList{"Group G is ignored: Targets names 1 set voltages for 2 channels"};
    QTest::newRow("trip ramp beyond the module")
        << QByteArray("[Group_G]\nChannels=DD00A, DC00A\nTripRamp=300\n")
        << QStringList{"Group G is ignored: TripRamp takes 2 to 255 V/s, not \"300\""};
    QTest::newRow("negative difference")
        << QByteArray("[Group_G]\nChannels=DD00A, DC00A\nMaxDifference=-5\n")
        << QStringList{"Group G is ignored: MaxDifference takes volts above 0, not \"-5\""};
    QTest::newRow("name that is no topic level")
        << QByteArray("[Group_G+1]\nChannels=DD00A, DC00A\n")
        << QStringList{"Group G+1 is ignored: a group's name takes letters, digits, - and _ only"};
}

// A group that cannot be acted on safely does nothing at all, and says why, once.
void TestRuntime::badGroupsAreIgnored()
{
    QFETCH(QByteArray, groups);
    QFETCH(QStringList, ignored);

    start(groups);
    QCOMPARE(events(CrateEvent::GroupIgnored), ignored);
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

QTEST_GUILESS_MAIN(TestRuntime)
#include "tst_runtime.moc"
