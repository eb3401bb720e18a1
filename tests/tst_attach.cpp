// A panel attached through the broker, as its runtime sees it, against a service's runtime on the
// simulator in the same process and a broker started here with the README's accounts and access
// list: the attached module's readings are the service's, its commands reach the bus as the local
// ones do or are refused with their reason, a service that stops makes it stale at once, and the
// service's stored trend goes in front of the attached module's live ticks.
#include "attachment.h"
#include "broker.h"
#include "commands.h"
#include "crate.h"
#include "crateruntime.h"
#include "eventtexts.h"
#include "modulesession.h"
#include "readinghistory.h"
#include "settingsfile.h"
#include "simcontrol.h"
#include "ticks.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Brelk;

class TestAttach : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void operatorOnAServiceThatStops();
    void viewerFetchesTheStoredTrend();

private:
    void startService(bool commands);
    void attach(const QByteArray &user);

    std::unique_ptr<SimControl> sim;
    std::unique_ptr<Broker> broker;
    QTemporaryDir folder;
    std::unique_ptr<CrateRuntime> service;
    std::unique_ptr<CrateRuntime> panel;
    std::unique_ptr<QSignalSpy> happened;
};

void TestAttach::initTestCase()
{
    sim.reset(new SimControl(QStringLiteral("libxxusb")));
    QVERIFY2(sim->isLoaded(), "the module simulator is not on the library search path");
    const QByteArray acl = readmeAcl(QStringLiteral(BRELK_README));
    QVERIFY(acl.contains("user operator"));
    broker.reset(new Broker);
    QList<QPair<QString, QString>> users;
    for (const char *user : {"dd00", "viewer", "operator"})
        users.append({QLatin1String(user), QLatin1String(user) + QStringLiteral("-pw")});
    QVERIFY(broker->startGuarded(users, acl));
}

void TestAttach::init()
{
    sim->reset();
    QVERIFY(sim->configure(QStringLiteral("BRELKSIM_MODULES"), QStringLiteral("0xDD00")));
}

void TestAttach::cleanup()
{
    happened.reset();
    panel.reset();
    service.reset();
}

void TestAttach::startService(bool commands)
{
    const QString ini = folder.filePath(QStringLiteral("service.ini"));
    QVERIFY(writeSettingsFile(
        ini, "[General]\nVmeController=VM-USB\nBaseAddress=0xDD00\nMqttHost=127.0.0.1\nMqttPort=" +
                 QByteArray::number(broker->port) + "\nMqttUser=dd00\nMqttPassword=dd00-pw\n" +
                 (commands ? "MqttCommands=on\n" : "")));
    service.reset(new CrateRuntime(ini, CrateRuntime::Options{true, true, false}));
    service->start();
    QVERIFY(service->bridge()->isOpen());
}

void TestAttach::attach(const QByteArray &user)
{
    const QString ini = folder.filePath(QStringLiteral("panel.ini"));
    // The filters as an operator writes them by hand: several, unquoted.
    QVERIFY(writeSettingsFile(
        ini, "[General]\nSource=broker\nAttachFilter=brelk/+, brelk/+/+\nMqttHost=127.0.0.1\n"
             "MqttPort=" +
                 QByteArray::number(broker->port) + "\nMqttUser=" + user +
                 "\nMqttPassword=" + user + "-pw\n"));
    panel.reset(new CrateRuntime(ini, CrateRuntime::Options{false, true, true}));
    happened.reset(new QSignalSpy(panel.get(), &CrateRuntime::happened));
    panel->start();
    ModuleSession *module = panel->first();
    QTRY_COMPARE_WITH_TIMEOUT(panel->attachment()->prefixOf(module), QStringLiteral("brelk/dd00"),
                              5000);
    QTRY_VERIFY_WITH_TIMEOUT(!module->isStale(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(tickWords(module->newestReading()),
                              tickWords(service->first()->newestReading()), 3000);
}

// The service's own switch turns the attached panel's commands off. A channel message that cannot
// be read leaves the last reading as it was, marked stale, with a debug line; the service's next
// message makes it live again. With commands switched on, the operator's set voltage and ramp
// speed reach the bus as the very writes of the local commands (the ramp speed with the set
// voltage the module holds). When the service stops, its "offline" makes the module stale at once,
// with the time of its last message.
void TestAttach::operatorOnAServiceThatStops()
{
    startService(false);
    attach("operator");
    ModuleSession *remote = panel->first();
    const QString off = QStringLiteral("the service of brelk/dd00 does not take remote commands");
    QCOMPARE(remote->commandBlock(), off);
    sim->clearLog();
    const WriteList setVoltage = setVoltageWrites(0, 1500);
    const WriteList rampSpeed = rampSpeedWrites(1, 40);
    remote->execute(setVoltage);
    QCOMPARE(eventTexts(*happened, CrateEvent::CommandFailed),
             QStringList{QStringLiteral("Not sent: ") + off});

    const Reading before = remote->newestReading();
    service->pollTimer()->stop();
    QTest::qWait(300);
    QSignalSpy ticks(remote, &ModuleSession::readingTaken);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Attached: a message refused: "));
    QVERIFY(publishLines(broker->port, QStringLiteral("brelk/dd00"), QStringLiteral("a"),
                         R"({"words":{"04":"12"}})",
                         {QStringLiteral("-u"), QStringLiteral("dd00"), QStringLiteral("-P"),
                          QStringLiteral("dd00-pw")}));
    QTRY_VERIFY_WITH_TIMEOUT(remote->isStale(), 3000);
    QCOMPARE(ticks.count(), 0);
    QCOMPARE(tickWords(remote->newestReading()), tickWords(before));
    service->pollTimer()->start();
    QTRY_VERIFY_WITH_TIMEOUT(!remote->isStale(), 3000);
    QVERIFY(sim->writes().isEmpty());

    service->setCommandsAllowed(true);
    QTRY_COMPARE_WITH_TIMEOUT(remote->commandBlock(), QString(), 3000);
    // The local writes, on the service's own session.
    QVERIFY(service->first()->execute(setVoltage).done);
    QVERIFY(service->first()->execute(rampSpeed).done);
    const QVector<SimControl::Write> local = sim->writes();
    QCOMPARE(local.size(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(tickWords(remote->newestReading()),
                              tickWords(service->first()->newestReading()), 3000);
    sim->clearLog();
    QVERIFY(remote->execute(setVoltage).sent);
    QVERIFY(remote->execute(rampSpeed).sent);
    QTRY_COMPARE_WITH_TIMEOUT(
        eventTexts(*happened, CrateEvent::CommandNote).count(QStringLiteral("Done")), 2, 3000);
    QCOMPARE(sim->writes(), local);
    QCOMPARE(eventTexts(*happened, CrateEvent::CommandNote).first(),
             QStringLiteral("Sent: channel A Vset 1500 V"));

    QElapsedTimer stopped;
    stopped.start();
    service->stop();
    QTRY_VERIFY_WITH_TIMEOUT(remote->isStale(), 2000);
    QVERIFY2(stopped.elapsed() < 1500, qPrintable(QString::number(stopped.elapsed())));
    const QStringList silent = eventTexts(*happened, CrateEvent::ModuleSilent);
    QCOMPARE(silent.size(), 1);
    QVERIFY2(silent.first().startsWith(QStringLiteral("No messages from brelk/dd00 since ")),
             qPrintable(silent.first()));
    QCOMPARE(remote->commandBlock(), QStringLiteral("the readings of brelk/dd00 are not current"));
}

// A viewer attached to a service that has polled for a while: the service's stored ticks from
// before the attach come first in the attached module's store, tick by tick as the service holds
// them, and the live ticks follow, one record a tick, nothing repeated or reordered. The viewer's
// commands reach nothing, and its panel says why and offers no command any more.
void TestAttach::viewerFetchesTheStoredTrend()
{
    startService(true);
    const SampleStore &stored = service->history(service->first())->samples();
    QTRY_VERIFY_WITH_TIMEOUT(stored.size() >= 20, 5000);
    const qint64 attachedAt = QDateTime::currentMSecsSinceEpoch();
    const qint64 serviceFirst = stored.time(stored.first());
    attach("viewer");
    QSignalSpy replaced(panel->history(panel->first()), &ReadingHistory::samplesReplaced);
    QTRY_COMPARE_WITH_TIMEOUT(replaced.count(), 1, 15000);
    const SampleStore &fetched = panel->history(panel->first())->samples();
    // The service's first tick is in the first column fetched.
    QVERIFY(qAbs(fetched.time(fetched.first()) - serviceFirst) < 100);
    qint64 before = 0;
    int repeated = 0;
    for (qint64 seq = fetched.first(); seq < fetched.end(); ++seq) {
        QVERIFY(fetched.time(seq) >= fetched.time(qMax(seq - 1, fetched.first())));
        if (fetched.time(seq) < attachedAt) {
            ++before;
            const qint64 same = stored.lowerBound(fetched.time(seq));
            QCOMPARE(fetched.reading(seq).vset[0], stored.reading(same).vset[0]);
        } else {
            // The live ticks: both channels' messages of a tick make one record. The first
            // tick may come as one channel's live message and its sibling's retained one.
            repeated += fetched.time(seq) == fetched.time(seq - 1) ? 1 : 0;
        }
    }
    QVERIFY2(repeated <= 1, qPrintable(QString::number(repeated)));
    // One record a tick of 100 ms; a column that held two ticks shows as three.
    const qint64 serviceBefore = stored.lowerBound(attachedAt) - stored.first();
    QVERIFY2(before >= serviceBefore - 2 && before <= serviceBefore + 8,
             qPrintable(QStringLiteral("%1 %2").arg(before).arg(serviceBefore)));

    ModuleSession *remote = panel->first();
    sim->clearLog();
    QVERIFY(remote->execute(setVoltageWrites(0, 1500)).sent);
    const QString refused =
        QStringLiteral("the broker does not allow this user to send commands to brelk/dd00");
    QTRY_COMPARE_WITH_TIMEOUT(remote->commandBlock(), refused, 3000);
    QVERIFY(eventTexts(*happened, CrateEvent::CommandFailed)
                .contains(QStringLiteral("Not sent: ") + refused));
    QVERIFY(!remote->execute(rampSpeedWrites(1, 40)).sent);
    QTest::qWait(500);
    QVERIFY(sim->writes().isEmpty());
}

QTEST_GUILESS_MAIN(TestAttach)
#include "tst_attach.moc"
