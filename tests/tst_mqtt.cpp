// MQTT publishing against a real broker started by the test on 127.0.0.1, by the panel's window,
// by its worker alone and by the panel running as a service: the retained state, stale readings,
// the dialogs, restarts, refusals of every kind, TLS checks and the command line without a
// display; remote commands and the README's access list.
#include "brelkcontroltestaccess.h"
#include "broker.h"
#include "dialogdriver.h"
#include "loopback.h"
#include "messagecapture.h"
#include "mqttcontrol.h"
#include "mqttpublisher.h"
#include "settings.h"
#include "settingsfile.h"
#include "simcontrol.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QSysInfo>
#include <QtTest>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

using Access = BrelkControlTestAccess;
using namespace Brelk;
using Writes = QVector<SimControl::Write>;

namespace {

const char *const Prefix = "brelk/dd00";

QByteArray settingsFor(quint16 port)
{
    return "MqttHost=127.0.0.1\nMqttPort=" + QByteArray::number(port) + "\n";
}

// Publishing to the test's broker on `port` under `topic`.
MqttSettings mqttSettings(quint16 port, const QString &topic = QLatin1String(Prefix))
{
    MqttSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    settings.topic = topic;
    return settings;
}

// Threads of this process named after the publisher's client thread.
int mqttThreads()
{
    int count = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        count += comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "mqtt";
    }
    return count;
}

// A publisher of the test's own, whose receivers of the messages and answers can be counted.
class CountingPublisher : public MqttPublisher
{
public:
    using MqttPublisher::MqttPublisher;
    int messageReceivers() const
    {
        return receivers(SIGNAL(publishMessage(QString, QByteArray))) +
               receivers(SIGNAL(answerMessage(QString, QByteArray)));
    }
};

QStringList credentials(const char *user)
{
    return {QStringLiteral("-u"), QLatin1String(user), QStringLiteral("-P"),
            QLatin1String(user) + QStringLiteral("-pw")};
}

// In `dir`: ca.pem, the CA that signed server.pem (for 127.0.0.1), wrong-host.pem (for
// broker.invalid and localhost), expired.pem (expired a day ago) and common-name.pem (127.0.0.1 in
// the common name only), all for the key server.key; and other-ca.pem, a CA that signed nothing.
bool makeCertificates(const QString &dir)
{
    const QString key = QStringLiteral("-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes");
    const QString sign = QStringLiteral(
        "x509 -req -in %1.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out %2.pem -days %3");
    bool made = writeSettingsFile(dir + "/server.ext", "subjectAltName=IP:127.0.0.1\n") &&
                writeSettingsFile(dir + "/wrong-host.ext",
                                  "subjectAltName=DNS:broker.invalid,DNS:localhost\n");
    for (const QString &command :
         {"req -x509 " + key + " -keyout ca.key -out ca.pem -days 2 -subj /CN=brelk-test-ca",
          "req -x509 " + key + " -keyout other-ca.key -out other-ca.pem -days 2 -subj /CN=other-ca",
          "req " + key + " -keyout server.key -out server.csr -subj /CN=127.0.0.1",
          QStringLiteral("req -new -key server.key -out wrong-host.csr -subj /CN=broker.invalid"),
          sign.arg("server", "server", "2") + " -extfile server.ext",
          sign.arg("wrong-host", "wrong-host", "2") + " -extfile wrong-host.ext",
          sign.arg("server", "expired", "-1") + " -extfile server.ext",
          sign.arg("server", "common-name", "2")}) {
        QProcess openssl;
        openssl.setWorkingDirectory(dir);
        openssl.start(QStringLiteral(BRELK_OPENSSL), command.split(QLatin1Char(' ')));
        made = made && openssl.waitForFinished(30000) && openssl.exitCode() == 0;
    }
    // The broker reads them as the user it changes to.
    QFile::setPermissions(dir,
                          QFile::permissions(dir) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    for (const QString &file : QDir(dir).entryList(QDir::Files))
        QFile::setPermissions(dir + QLatin1Char('/') + file, QFileDevice::ReadOwner |
                                                                 QFileDevice::WriteOwner |
                                                                 QFileDevice::ReadOther);
    return made;
}

// The environment of a service: no display of any kind, the simulator as the vendor library.
QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(BRELK_SIM_DIR));
    return environment;
}

} // namespace

class TestMqtt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void publishedStateFollowsBrokerPollAndAddress();
    void dialogsStoreTheChoice();
    void refusalIsReported_data();
    void refusalIsReported();
    void workerReportsWhatTheLibraryRefuses_data();
    void workerReportsWhatTheLibraryRefuses();
    void restartWhileTheConnectionAttemptHangs();
    void headlessServiceFrozenAndStopped();
    void commandLineWithoutDisplay_data();
    void commandLineWithoutDisplay();
    void accountsKeepToTheirPrefixes_data();
    void accountsKeepToTheirPrefixes();
    void commands_data();
    void commands();
    void clearEventsThenMeetAnotherProgram();
    void furtherModulesTakeCommandsUnderTheirPrefixes();
    void staleUntilATickAtTheAddress();

private:
    QLabel *indicator() { return window->findChild<QLabel *>(QStringLiteral("lblMqtt")); }
    bool waitForIndicator(const QString &text, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return indicator() && indicator()->text() == text; },
                               timeoutMs);
    }
    void startWindow(const QByteArray &settings)
    {
        QVERIFY(writeSettingsFile(settingsPath(), settings));
        window.reset(new BrelkControl);
    }
    // A window publishing to the test's broker with remote commands on and `settings`, `option` (a
    // radio button) clicked at once; once a subscriber under the module's prefix is there, it is
    // connected and subscribed, and a tick has been taken since.
    void startCommands(const QByteArray &settings = QByteArray(), const QString &option = QString())
    {
        startWindow(settingsFor(broker->port) + "MqttCommands=on\n" + settings);
        if (!option.isEmpty())
            window->findChild<QAbstractButton *>(option)->click();
        client.reset(new Subscriber(broker->port));
        QVERIFY(waitForIndicator(QStringLiteral("MQTT: connected, remote commands on"), 10000));
        QTest::qWait(300);
        QVERIFY(Access::session(*window)->lastReading());
    }
    std::unique_ptr<SimControl> sim;
    std::unique_ptr<Broker> broker;
    std::unique_ptr<BrelkControl> window;
    std::unique_ptr<Subscriber> client;
    // The README's accounts and list, shared by the rows that only publish and subscribe.
    std::unique_ptr<Broker> guarded;
    std::unique_ptr<QTemporaryDir> certificateDir;
};

void TestMqtt::initTestCase()
{
    if (!QFile::exists(QStringLiteral(BRELK_MOSQUITTO_BROKER)))
        QSKIP("the mosquitto broker is not installed");
    sim.reset(new SimControl(QStringLiteral("libxxusb")));
    QVERIFY2(sim->isLoaded(), "the module simulator is not on the library search path");
}

void TestMqtt::init()
{
    sim->reset();
    broker.reset(new Broker);
    QVERIFY(broker->start());
}

void TestMqtt::cleanup()
{
    client.reset();
    window.reset();
    broker.reset();
    QFile::remove(settingsPath());
}

// The MQTT dialog stores its settings and starts publishing; Attach to Services stores its own.
void TestMqtt::dialogsStoreTheChoice()
{
    startWindow(QByteArray());
    QVERIFY(!indicator());
    QAction *action = window->findChild<QAction *>(QStringLiteral("actionMqttPublishing"));
    QVERIFY(action);

    QString shownTopic;
    const quint16 port = broker->port;
    DialogDriver::onNextModal([&shownTopic, port](QWidget *dialog) {
        shownTopic = dialog->findChild<QLineEdit *>(QStringLiteral("txtMqttTopic"))->text();
        dialog->findChild<QLineEdit *>(QStringLiteral("txtMqttHost"))
            ->setText(QStringLiteral("127.0.0.1"));
        dialog->findChild<QSpinBox *>(QStringLiteral("spnMqttPort"))->setValue(port);
        dialog->findChild<QLineEdit *>(QStringLiteral("txtMqttUser"))
            ->setText(QStringLiteral("panel"));
        dialog->findChild<QLineEdit *>(QStringLiteral("txtMqttPassword"))
            ->setText(QStringLiteral("secret"));
        static_cast<QDialog *>(dialog)->accept();
    });
    action->trigger();
    QCOMPARE(shownTopic, QStringLiteral("brelk/dd00"));
    QVERIFY(waitForIndicator(QStringLiteral("MQTT: connected")));

    QSettings stored(settingsPath(), QSettings::IniFormat);
    QCOMPARE(stored.value("MqttHost").toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(stored.value("MqttPort").toInt(), int(port));
    QCOMPARE(stored.value("MqttUser").toString(), QStringLiteral("panel"));
    QVERIFY(!stored.contains("MqttPassword")); // "Remember password" was not ticked

    // Emptying the host turns publishing off and removes the indicator.
    DialogDriver::onNextModal([](QWidget *dialog) {
        dialog->findChild<QLineEdit *>(QStringLiteral("txtMqttHost"))->clear();
        static_cast<QDialog *>(dialog)->accept();
    });
    action->trigger();
    QVERIFY(!indicator());

    // Attach to Services offers OK only for filters the services can be found under, stores the
    // choice with the broker's keys, and says that it takes effect at the next start.
    QString refusal;
    DialogDriver::onNextModal([&refusal, port](QWidget *dialog) {
        auto *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
        dialog->findChild<QCheckBox *>(QStringLiteral("chkAttach"))->setChecked(true);
        dialog->findChild<QLineEdit *>(QStringLiteral("txtMqttHost"))
            ->setText(QStringLiteral("127.0.0.1"));
        dialog->findChild<QSpinBox *>(QStringLiteral("spnMqttPort"))->setValue(port);
        auto *filter = dialog->findChild<QLineEdit *>(QStringLiteral("txtAttachFilter"));
        filter->setText(QStringLiteral("brelk/#"));
        if (!ok->isEnabled())
            refusal = dialog->findChild<QLabel *>(QStringLiteral("lblMqttProblem"))->text();
        filter->setText(QStringLiteral("brelk/+, brelk/+/+"));
        dialog->findChild<QLineEdit *>(QStringLiteral("txtAttachModule"))
            ->setText(QStringLiteral("brelk/dd00/dc00/"));
        if (ok->isEnabled())
            static_cast<QDialog *>(dialog)->accept();
    });
    UnexpectedBoxes boxes;
    window->findChild<QAction *>(QStringLiteral("actionAttach"))->trigger();
    QCOMPARE(refusal,
             QStringLiteral("the topic filter may not hold \"#\": use \"+\" for one level"));
    QCOMPARE(boxes.texts(),
             QStringList{QStringLiteral("The panel attaches to the services at its next start.")});
    QSettings attach(settingsPath(), QSettings::IniFormat);
    QCOMPARE(attach.value("Source").toString(), QStringLiteral("broker"));
    QCOMPARE(attach.value("AttachFilter").toString(), QStringLiteral("brelk/+, brelk/+/+"));
    QCOMPARE(attach.value("AttachModule").toString(), QStringLiteral("brelk/dd00/dc00"));
    QCOMPARE(attach.value("MqttHost").toString(), QStringLiteral("127.0.0.1"));
    // The publishing prefix is not the filter.
    QVERIFY(!attach.contains("MqttTopic"));
}

// What the window publishes as the broker, the poll and the module's address change: a late
// subscriber finds the module's description retained; a broker that restarts keeps nothing, and
// the panel publishes the whole state anew, retained.
void TestMqtt::publishedStateFollowsBrokerPollAndAddress()
{
    startWindow(settingsFor(broker->port));
    QVERIFY(indicator());
    QCOMPARE(indicator()->parent(), window->statusBar());
    QVERIFY(waitForIndicator(QStringLiteral("MQTT: connected")));
    QTest::qWait(300);

    Subscriber late(broker->port);
    Message module;
    QVERIFY(late.waitFor(QStringLiteral("module"), any, &module));
    QVERIFY(module.retained);
    QJsonObject description = module.json();
    // Which program publishes: its host, and host, process and start time in one text.
    const QString host = description.take(QStringLiteral("host")).toString();
    QCOMPARE(host, QSysInfo::machineHostName());
    QVERIFY(description.take(QStringLiteral("instance"))
                .toString()
                .startsWith(host + QStringLiteral(":%1:").arg(QCoreApplication::applicationPid())));
    QCOMPARE(description.take(QStringLiteral("commands")), QJsonValue(false));
    QCOMPARE(description, QJsonDocument::fromJson(R"({"serial":"2101","base_address":"0xDD00",
                 "bridge":"Wiener VM-USB","version":"1.0.0.0","voltage_resolution":"1V",
                 "current_resolution":"1uA","second_range":"none"})")
                              .object());

    const quint16 port = broker->port;
    broker.reset();
    QVERIFY(waitForIndicator(QStringLiteral("MQTT: no broker (retrying)")));
    broker.reset(new Broker(port));
    QVERIFY(broker->start());
    QVERIFY(waitForIndicator(QStringLiteral("MQTT: connected"), 10000));
    Subscriber subscriber(port);
    Message message;
    QVERIFY(subscriber.waitFor(QStringLiteral("status"), payloadIs("online"), &message));
    for (const char *topic : {"status", "module", "a", "b"}) {
        QVERIFY2(subscriber.waitFor(QLatin1String(topic), any, &message), topic);
        QVERIFY2(message.retained, topic);
    }
    // And live messages resume.
    int before = subscriber.messages().size();
    QVERIFY(subscriber.waitFor(
        QStringLiteral("a"), [](const Message &m) { return !m.retained; }, &message, 15000,
        before));

    // A stopped poll makes the readings stale, said once a channel, and the module's serial number
    // unknown, until the next tick. The timer stops first, so that no tick ends it at once.
    Access::timer(*window)->stop();
    before = subscriber.messages().size();
    Access::session(*window)->pollStopped();
    QVERIFY(
        subscriber.waitFor(QStringLiteral("b"), jsonHas("stale", true), &message, 5000, before));
    QCOMPARE(message.json().value("vset").toDouble(), 500.0);
    QVERIFY(subscriber.waitFor(QStringLiteral("module"), jsonHas("serial", QJsonValue()), &message,
                               5000, before));
    const int afterStale = subscriber.messages().size();
    Access::tick(*window);
    QVERIFY(subscriber.waitFor(QStringLiteral("b"), jsonHas("stale", false), &message, 5000,
                               afterStale));
    QVERIFY(subscriber.waitFor(QStringLiteral("module"), jsonHas("serial", "2101"), &message, 5000,
                               afterStale));
    QTest::qWait(200);
    int staleMessages = 0;
    for (const Message &m : subscriber.messages().mid(before))
        staleMessages += m.json().value("stale") == true;
    QCOMPARE(staleMessages, 2);

    // The default prefix names the module's address: a new address publishes under its own
    // prefix, and the old one says "offline".
    Access::timer(*window)->start();
    Subscriber moved(port, QStringLiteral("brelk/c000"));
    QVERIFY(sim->configure(QStringLiteral("BRELKSIM_BASE"), QStringLiteral("0xC000")));
    DialogDriver::acceptItem(QStringLiteral("0xC000"));
    window->findChild<QAction *>(QStringLiteral("actionModule_Address"))->trigger();
    QVERIFY(subscriber.waitFor(QStringLiteral("status"), payloadIs("offline"), &message));
    QVERIFY(moved.waitFor(QStringLiteral("module"), jsonHas("base_address", "0xC000"), &message));
    QVERIFY(moved.waitFor(QStringLiteral("a"), jsonHas("stale", false), &message));
}

void TestMqtt::refusalIsReported_data()
{
    QTest::addColumn<QByteArray>("extra"); // settings beside the port (host 127.0.0.1 unless named)
    QTest::addColumn<QString>("certificate"); // the broker's for TLS, or "closed": no broker
    QTest::addColumn<QString>("error");       // empty: connected
    QTest::addColumn<QString>("state");

    const auto row = [](const char *name, const QByteArray &extra, const char *error,
                        const QString &state, const char *certificate = "") {
        QTest::newRow(name) << extra << QString::fromLatin1(certificate)
                            << QString::fromLatin1(error) << state;
    };
    const QString retrying = QStringLiteral("MQTT: no broker (retrying)");
    const QString badConfiguration = QStringLiteral("MQTT: bad configuration");
    const QString connected = QStringLiteral("MQTT: connected");
    row("wrong password", "MqttUser=panel\nMqttPassword=wrong\n",
        "Connection Refused: not authorised", retrying);
    row("closed port", "", "Connection refused", retrying, "closed");
    row("missing CA file", "MqttCaFile=/nonexistent/ca.pem\n",
        "CA file not found: /nonexistent/ca.pem", badConfiguration);
    row("prefix that is not UTF-8",
        "MqttUser=panel\nMqttPassword=right\nMqttTopic=labor/Pr\xfc"
        "fstand\n",
        "MqttTopic in the settings file is not valid UTF-8", badConfiguration);
    row("wildcard in the prefix", "MqttUser=panel\nMqttPassword=right\nMqttTopic=lab/+/hv\n",
        "a topic prefix cannot hold the wildcards + or #",
        QStringLiteral("MQTT: bad topic prefix"));
    // A TLS broker whose certificate fails one of the panel's checks: the error names the check,
    // and the panel tries again (the broker may get a certificate that passes). CERTS/ is the
    // folder of makeCertificates().
    const QByteArray tls = "MqttUser=panel\nMqttPassword=right\nMqttCaFile=CERTS/ca.pem\n";
    row("certificate for another host name", tls,
        "TLS: host name mismatch: the broker's certificate is not for 127.0.0.1", retrying,
        "wrong-host");
    row("certificate for 127.0.0.1 reached as localhost", "MqttHost=localhost\n" + tls,
        "TLS: host name mismatch: the broker's certificate is not for localhost", retrying,
        "server");
    row("certificate of another CA", QByteArray(tls).replace("ca.pem", "other-ca.pem"),
        "TLS: unknown CA", retrying, "server");
    row("expired certificate", tls, "TLS: expired certificate", retrying, "expired");
    row("certificate for localhost, for comparison", "MqttHost=localhost\n" + tls, "", connected,
        "wrong-host");
    row("address only in the common name, for comparison", tls, "", connected, "common-name");
}

// A refusal of the panel's checks or of the broker shows as the indicator's state; its tooltip
// (the publisher's error) and the first MQTT line name the cause, no box comes up and the poll
// goes on.
void TestMqtt::refusalIsReported()
{
    QFETCH(QByteArray, extra);
    QFETCH(QString, certificate);
    QFETCH(QString, error);
    QFETCH(QString, state);

    QByteArray listener;
    if (!certificate.isEmpty() && certificate != QLatin1String("closed")) {
        // Made once for every row.
        if (!certificateDir) {
            certificateDir.reset(new QTemporaryDir);
            QVERIFY(makeCertificates(certificateDir->path()));
        }
        const QByteArray stem = certificateDir->path().toUtf8() + '/';
        extra.replace("CERTS/", stem);
        listener = "cafile " + stem + "ca.pem\ncertfile " + stem + certificate.toUtf8() +
                   ".pem\nkeyfile " + stem + "server.key\n";
    }
    Broker guarded;
    QVERIFY(guarded.startGuarded({{QStringLiteral("panel"), QStringLiteral("right")}},
                                 "user panel\ntopic readwrite #\n", listener));
    MessageCapture capture;
    const quint16 port = certificate == QLatin1String("closed") ? freePort() : guarded.port;
    if (!extra.contains("MqttHost="))
        extra.prepend("MqttHost=127.0.0.1\n");
    startWindow("MqttPort=" + QByteArray::number(port) + '\n' + extra);
    QVERIFY2(waitForIndicator(state, 10000),
             qPrintable(indicator()->text() + ": " + Access::mqttPublisher(*window)->lastError()));
    if (error.isEmpty()) {
        window.reset();
        return;
    }
    const QString shown = Access::mqttPublisher(*window)->lastError();
    QVERIFY2(shown.startsWith(error), qPrintable(shown));
    QCOMPARE(indicator()->toolTip(), shown);
    const QStringList lines = capture.linesStartingWith(QStringLiteral("MQTT: "));
    QVERIFY2(!lines.isEmpty() && lines.first().contains(error),
             qPrintable(lines.join(QLatin1Char('\n'))));
    // No box, and the poll goes on.
    QVERIFY(!QApplication::activeModalWidget());
    QSignalSpy ticks(window.get(), &BrelkControl::readingTaken);
    QVERIFY(ticks.wait(1000));
    // Refused by the panel's checks or by the broker's: no client was let in.
    QVERIFY2(!guarded.log().contains("New client connected"), guarded.log().constData());
    if (state == QLatin1String("MQTT: no broker (retrying)"))
        return;

    // A refused prefix or configuration never reaches the broker and is not tried again (a retry
    // would follow after 1 s and 2 s more), and the dialog says why.
    QTest::qWait(2500);
    QCOMPARE(indicator()->text(), state);
    const QStringList later = capture.linesStartingWith(QStringLiteral("MQTT: "));
    QVERIFY2(later.size() == 1, qPrintable(later.join(QLatin1Char('\n'))));
    QVERIFY2(!guarded.log().contains("New client connected"), guarded.log().constData());
    QString problem, shownState;
    bool okEnabled = true;
    DialogDriver::onNextModal([&](QWidget *dialog) {
        problem = dialog->findChild<QLabel *>(QStringLiteral("lblMqttProblem"))->text();
        shownState = dialog->findChild<QLabel *>(QStringLiteral("lblMqttState"))->text();
        okEnabled =
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->isEnabled();
        static_cast<QDialog *>(dialog)->reject();
    });
    window->findChild<QAction *>(QStringLiteral("actionMqttPublishing"))->trigger();
    QVERIFY2(shownState.startsWith(state) && shownState.contains(error), qPrintable(shownState));
    // A prefix the dialog can check keeps its OK from being pressed.
    if (state == QLatin1String("MQTT: bad topic prefix")) {
        QVERIFY2(problem.contains(error), qPrintable(problem));
        QVERIFY(!okEnabled);
    }
}

void TestMqtt::workerReportsWhatTheLibraryRefuses_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("subtopic");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("state");

    const auto row = [](const char *name, const QString &topic, const QString &subtopic,
                        const QString &user, const QString &caFile, const char *error,
                        MqttState state) {
        QTest::newRow(name) << topic << subtopic << user << caFile << QString::fromLatin1(error)
                            << int(state);
    };
    const QString hv = QStringLiteral("lab/hv"), a = QStringLiteral("a"), none;
    const MqttState bad = MqttState::BadConfiguration;
    row("last will under a non-character", QStringLiteral("lab/") + QChar(0xFFFF), a, none, none,
        "last will", bad);
    row("message under a control character", hv, QStringLiteral("a\tb"), none, none,
        "publishing on", MqttState::Retrying);
    row("CA file that is a folder", hv, a, none, QStringLiteral("/"), "CA file is a folder: /",
        bad);
    row("user name with a control character", hv, a, QStringLiteral("pa\tnel"), none, "user name",
        bad);
    row("user name longer than MQTT allows", hv, a, QString(65536, QLatin1Char('u')), none,
        "the user name is refused: it is longer than the 65,535 bytes MQTT allows", bad);
}

// The worker on its own, handed what the panel's checks keep from it: a refusal of the library
// is reported, and the worker never says it is connected. Settings the library refuses are a bad
// configuration (which the panel's test shows is not tried again).
void TestMqtt::workerReportsWhatTheLibraryRefuses()
{
    QFETCH(QString, topic);
    QFETCH(QString, subtopic);
    QFETCH(QString, user);
    QFETCH(QString, caFile);
    QFETCH(QString, error);
    QFETCH(int, state);

    MqttSettings settings = mqttSettings(broker->port, topic);
    settings.user = user;
    settings.caFile = caFile;
    QThread thread;
    auto *worker = new MqttWorker;
    worker->moveToThread(&thread);
    QList<MqttState> states;
    QString lastError;
    QObject receiver;
    connect(worker, &MqttWorker::stateChanged, &receiver, [&](int state, const QString &text) {
        states << MqttState(state);
        if (!text.isEmpty())
            lastError = text;
    });
    thread.start();
    QMetaObject::invokeMethod(worker, [worker, settings, subtopic] {
        worker->publish(subtopic, QByteArray("{}"));
        worker->start(settings, QStringLiteral("brelkcontrol-0000abcd"));
    });
    const auto stopWorker = qScopeGuard([&thread, worker] {
        QMetaObject::invokeMethod(worker, &MqttWorker::stop);
        thread.wait(5000);
        delete worker;
    });
    QTRY_VERIFY_WITH_TIMEOUT(states.contains(MqttState(state)), 5000);
    QVERIFY2(lastError.contains(error), qPrintable(lastError));
    QVERIFY(!states.contains(MqttState::Connected));
}

// Every restart but Quit returns at once (here the dialog's OK; a new address and new settings
// restart the same way), and a worker left behind in its connect receives no messages and
// is the only one: while it hangs, nothing is connected to the publisher's messages (the next
// worker starts only when it has ended, so the cut connections are all that keep later ticks out
// of its queue).
void TestMqtt::restartWhileTheConnectionAttemptHangs()
{
    HungListener hung;
    QVERIFY(hung.filled);
    QTemporaryDir dir;
    QStatusBar statusBar;
    CountingPublisher publisher([] {
        ModuleContext context;
        context.bridge = QStringLiteral("Wiener VM-USB");
        context.baseAddress = 0xDD00;
        return context;
    });
    Settings file(dir.filePath(QStringLiteral("brelkcontrol.ini")));
    MqttControl control(&publisher, &file, &statusBar, nullptr);
    // Workers that earlier tests left behind in their connects may still be there; they only end.
    const int earlierThreads = mqttThreads();
    MqttSettings settings = mqttSettings(hung.port);
    publisher.apply(settings);
    QTest::qWait(300);

    for (int i = 0; i < 3; ++i) {
        QElapsedTimer restarting;
        DialogDriver::onNextModal([&restarting](QWidget *dialog) {
            restarting.start();
            static_cast<QDialog *>(dialog)->accept();
        });
        control.configure();
        // Waiting for the worker would take the stop's whole second; the OK also writes the
        // settings file through to the disk, which takes tens of milliseconds on a busy machine.
        QVERIFY2(restarting.elapsed() < MqttPublisher::StopWaitMs / 4,
                 qPrintable(QString::number(restarting.elapsed())));
        QVERIFY(publisher.isPublishing());
        QTest::qWait(100);
        QVERIFY2(mqttThreads() <= earlierThreads + 1, qPrintable(QString::number(mqttThreads())));
    }
    QVERIFY(mqttThreads() >= 1);
    QCOMPARE(publisher.messageReceivers(), 0);

    // The operator corrects the port: the panel goes on at once, and the new worker starts as soon
    // as the one left behind has returned from its connect.
    settings.port = broker->port;
    publisher.apply(settings);
    const QLabel *indicator = statusBar.findChild<QLabel *>(QStringLiteral("lblMqtt"));
    QCOMPARE(indicator->text(), QStringLiteral("MQTT: connecting"));
    QVERIFY2(indicator->toolTip().contains(QStringLiteral("previous connection attempt")),
             qPrintable(indicator->toolTip()));
    // Room in the listener's queue: the next retry of the hanging connect gets through.
    const int accepted = ::accept(hung.listener, nullptr, nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(indicator->text(), QStringLiteral("MQTT: connected"), 20000);
    QVERIFY(mqttThreads() >= 1 && mqttThreads() <= earlierThreads + 1);
    ::close(accepted);
}

// The panel as a service of a crate of two modules, each publishing on its own. A command that
// reaches the process while it is frozen (a debugger, a paused machine) is judged by the ticks
// after the freeze, not by the one before it: nothing reaches the bus. SIGTERM stops it, and it
// says goodbye on the broker and on standard error, every line with a time stamp. (How quickly it
// stops and the serial numbers it reports: the service's own test, which runs the same code.)
void TestMqtt::headlessServiceFrozenAndStopped()
{
    QTemporaryDir folder;
    const QString ini = folder.filePath(QStringLiteral("service.ini"));
    const QString busLog = folder.filePath(QStringLiteral("bus.log"));
    QVERIFY(writeSettingsFile(ini, settingsFor(broker->port) + "MqttCommands=on\n[Module_DC00]\n"));
    Subscriber subscriber(broker->port), further(broker->port, QStringLiteral("brelk/dc00"));
    QProcess panel;
    QProcessEnvironment environment = withoutDisplay();
    environment.insert(QStringLiteral("BRELKSIM_MODULES"), QStringLiteral("0xDD00,0xDC00"));
    environment.insert(QStringLiteral("BRELKSIM_LOG"), busLog);
    // Ticks of about 80 ms: the first after the freeze ends after the command is in.
    environment.insert(QStringLiteral("BRELKSIM_CYCLE_US"), QStringLiteral("2000"));
    panel.setProcessEnvironment(environment);
    panel.start(QStringLiteral(BRELK_PANEL_EXECUTABLE), {"--headless", "--settings", ini});
    QVERIFY(panel.waitForStarted(5000));
    Message message;
    const bool online =
        subscriber.waitFor(QStringLiteral("status"), payloadIs("online"), &message, 10000);
    QByteArray errors = panel.readAllStandardError();
    QVERIFY2(online, errors.constData());
    QVERIFY(subscriber.waitFor(QStringLiteral("a"), jsonHas("stale", false), &message));
    QVERIFY(further.waitFor(QStringLiteral("a"), jsonHas("stale", false), &message));
    QTest::qWait(300);

    QCOMPARE(::kill(pid_t(panel.processId()), SIGSTOP), 0);
    QVERIFY(publishLines(broker->port, QLatin1String(Prefix), QStringLiteral("a/set"),
                         R"({"vset":1234,"id":"late"})"));
    QTest::qWait(1500);
    QCOMPARE(::kill(pid_t(panel.processId()), SIGCONT), 0);
    QVERIFY(subscriber.waitFor(QStringLiteral("a/result"), any, &message));
    QCOMPARE(message.json().value("error").toString(), QStringLiteral("stale"));

    panel.terminate();
    QVERIFY(panel.waitForFinished(5000));
    errors += panel.readAllStandardError();
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QVERIFY2(panel.exitCode() == 0, errors.constData());

    // The retained "offline" is the panel's own: it said goodbye, so the broker's will never fired.
    Subscriber late(broker->port);
    QVERIFY(late.waitFor(QStringLiteral("status"), payloadIs("offline"), &message));
    QVERIFY(message.retained);
    QVERIFY2(broker->clientLeftCleanly(), broker->log().constData());

    const QRegularExpression stamped(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d) \\S"));
    const QStringList reported =
        QString::fromUtf8(errors).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : reported)
        QVERIFY2(stamped.match(line).hasMatch(), qPrintable(line));
    // Each module's publisher says once how it stands.
    QCOMPARE(reported
                 .filter(QRegularExpression(
                     QStringLiteral(" (0xDC00: )?MQTT: connected, remote commands on$")))
                 .size(),
             2);
    QVERIFY(further.waitFor(QStringLiteral("status"), payloadIs("offline"), &message));
    QFile cycles(busLog);
    QVERIFY(cycles.open(QIODevice::ReadOnly));
    const QByteArray log = cycles.readAll();
    QVERIFY(log.contains(" R "));
    QVERIFY2(!log.contains(" W "), log.right(400).constData());
}

void TestMqtt::commandLineWithoutDisplay_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("error");

    const auto row = [](const char *name, bool service, const QStringList &arguments, int exitCode,
                        const QString &out, const QString &error) {
        QTest::newRow(name) << QString::fromUtf8(service ? BRELK_SERVICE_EXECUTABLE
                                                         : BRELK_PANEL_EXECUTABLE)
                            << arguments << exitCode << out << error;
    };
    const QString folder = QDir::tempPath();
    const QString help = QStringLiteral("--settings <FILE>  Use FILE instead");
    row("unknown option", false, {"--bogus"}, 2, "",
        "Unknown option 'bogus'.\nUsage: brelkcontrol [options]");
    row("missing settings file", false,
        {"--headless", "--settings", "/nonexistent/brelkcontrol.ini"}, 2, "",
        "/nonexistent/brelkcontrol.ini");
    row("settings file of no name", false, {"--settings", ""}, 2, "",
        "The option --settings needs the name of a file.");
    row("settings file that is a folder", false, {"--settings", folder}, 2, "",
        "brelkcontrol: settings file " + folder + ": is a folder, not a file");
    row("help", false, {"--help"}, 0, help, "");
    row("help with the toolkit's options", false, {"--help-all"}, 0, help, "");
    row("version", false, {"--version"}, 0, "brelkcontrol 1.0.0.0", "");
    row("service: version", true, {"--version"}, 0, "brelkcontrold 1.0.0.0", "");
    row("service: settings file that is a folder", true, {"--settings", folder}, 2, "",
        "brelkcontrold: settings file " + folder + ": is a folder, not a file");
}

// What the command line answers needs no display, with or without --headless, from the panel
// and from the service's own executable.
void TestMqtt::commandLineWithoutDisplay()
{
    QFETCH(QString, executable);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, error);

    QProcess panel;
    panel.setProcessEnvironment(withoutDisplay());
    panel.start(executable, arguments);
    QVERIFY(panel.waitForFinished(10000));
    const QString standardOut = QString::fromLocal8Bit(panel.readAllStandardOutput());
    const QString standardError = QString::fromLocal8Bit(panel.readAllStandardError());
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QVERIFY2(panel.exitCode() == exitCode, qPrintable(standardError));
    QVERIFY2(standardOut.contains(out), qPrintable(standardOut));
    QVERIFY2(standardError.contains(error), qPrintable(standardError));
}

void TestMqtt::accountsKeepToTheirPrefixes_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<bool>("delivered");

    const auto row = [](const char *name, const char *writer, const char *topic, const char *reader,
                        bool delivered) {
        QTest::newRow(name) << QString::fromLatin1(writer) << QString::fromLatin1(topic)
                            << QString::fromLatin1(reader) << delivered;
    };
    // What an account may publish, as a viewer sees it.
    row("a service's further module", "dd00", "brelk/dd00/dc00/b", "viewer", true);
    row("a service's further module's answer", "dd00", "brelk/dd00/dc00/b/result", "viewer", true);
    row("a service commanding its module", "dd00", "brelk/dd00/a/set", "viewer", false);
    row("a service commanding its further module", "dd00", "brelk/dd00/dc00/a/set", "viewer",
        false);
    row("a service commanding another's module", "dd00", "brelk/de00/a/set", "viewer", false);
    row("a service publishing another's readings", "dd00", "brelk/de00/a", "viewer", false);
    row("the operator commanding a further module", "operator", "brelk/dd00/dc00/a/set", "viewer",
        true);
    row("the operator publishing readings", "operator", "brelk/dd00/a", "viewer", false);
    // What an account may read.
    row("a service's further module's commands", "operator", "brelk/dd00/dc00/a/set", "dd00", true);
    row("another's commands", "operator", "brelk/dd00/a/set", "de00", false);
    row("another's readings", "dd00", "brelk/dd00/a", "de00", false);
}

// The README's list on the real broker: a message published retained by `writer` on `topic`
// reaches `reader` or not. The reader subscribes to the topic and then to a marker that the
// operator published retained where the reader may read, so the marker's arrival says that the
// topic's message would have come by then. The rows share one broker; each row's message and
// marker name the row, so that what an earlier row left retained is not taken for it.
void TestMqtt::accountsKeepToTheirPrefixes()
{
    QFETCH(QString, writer);
    QFETCH(QString, topic);
    QFETCH(QString, reader);
    QFETCH(bool, delivered);

    if (!guarded) {
        const QByteArray acl = readmeAcl(QStringLiteral(BRELK_README));
        QVERIFY(acl.contains("pattern"));
        guarded.reset(new Broker);
        // The service of the module at 0xDD00, another crate's service, a viewer and an operator.
        QList<QPair<QString, QString>> users;
        for (const char *user : {"dd00", "de00", "viewer", "operator"})
            users.append({QLatin1String(user), QLatin1String(user) + QStringLiteral("-pw")});
        QVERIFY(guarded->startGuarded(users, acl));
    }
    const QByteArray row = QTest::currentDataTag();
    const QString marker = reader == QLatin1String("de00") ? QStringLiteral("de00/b/set")
                                                           : QStringLiteral("dd00/b/set");
    QVERIFY(publishLines(guarded->port, QStringLiteral("brelk"), topic.section(QLatin1Char('/'), 1),
                         "message " + row, credentials(qPrintable(writer)) << "-r"));
    QVERIFY(publishLines(guarded->port, QStringLiteral("brelk"), marker, "marker " + row,
                         credentials("operator") << "-r"));

    // Subscribed to the topic (and below it) before the marker, so its message comes first.
    Subscriber subscriber(guarded->port, topic,
                          QStringList{QStringLiteral("-t"), "brelk/" + marker} +
                              credentials(qPrintable(reader)));
    const auto received = [&subscriber](const QString &on, const QByteArray &payload) {
        for (const Message &m : subscriber.messages()) {
            if (m.topic == on && m.payload == payload)
                return true;
        }
        return false;
    };
    QVERIFY2(QTest::qWaitFor([&] { return received("brelk/" + marker, "marker " + row); }, 10000),
             "the marker never came");
    QCOMPARE(received(topic, "message " + row), delivered);
}

void TestMqtt::commands_data()
{
    // A resolution radio button to click first, a line of the settings file, or a state.
    QTest::addColumn<QString>("prepare");
    QTest::addColumn<QString>("channel");
    QTest::addColumn<QList<QByteArray>>("steps"); // one publication each, one command a line
    QTest::addColumn<QStringList>("options");     // of each publication
    QTest::addColumn<QStringList>("answers");     // "ok" or the error, in the order of the commands
    QTest::addColumn<QString>("message");         // part of the last answer's message
    QTest::addColumn<Writes>("writes");
    QTest::addColumn<QString>("shown"); // the status bar's text afterwards, where a row gives it

    const auto row = [](const char *name, const char *prepare, const char *channel,
                        const QList<QByteArray> &steps, const QStringList &answers,
                        const QString &message, const Writes &writes,
                        const QString &shown = QString(), const QStringList &options = {}) {
        QTest::newRow(name) << QString::fromLatin1(prepare) << QString::fromLatin1(channel) << steps
                            << options << answers << message << writes << shown;
    };
    const QByteArray vset = R"({"vset":1200,"id":"x"})";
    // The register words are the local dialog's for the same entry (see tst_commands): the
    // module's resolution, as the radio buttons select it, reaches the command.
    row("limit_i A at 100 nA", "chk_I_100nA", "a", {R"({"limit_i":0.00025,"id":"x"})"}, {"ok"}, "",
        {{0xDD44, 2500}}, "Remote command: channel A Limit I 250 uA");
    row("limit_i2 B at 1 nA", "chk_I2_1nA", "b", {R"({"limit_i2":1.23e-5,"id":"x"})"}, {"ok"}, "",
        {{0xDD4A, 12300}}, "Remote command: channel B Limit I2 12.3 uA");
    // A command acts on the module as it is when it is written, not as the last tick saw it, and
    // its answer says what happened on the bus.
    row("set voltage, then ramp 2 s later, poll stopped", "gap", "a",
        {R"({"vset":0,"id":"x"})", R"({"ramp":100,"id":"x"})"}, {"ok", "stale"}, "not current",
        {{0xDD34, 0}});
    row("ramp on a tripped channel", "trip", "a", {R"({"ramp":50,"id":"x"})"}, {"ok"},
        "Ramp speed stored; channel A stays off until a new set voltage", {{0xDD0C, 50}},
        "Remote command: channel A Ramp 50 V/s; Ramp speed stored; channel A stays off until a "
        "new set voltage");
    row("a write that fails", "writes fail", "a", {R"({"vset":1,"id":"x"})"}, {"write_failed"},
        "Write to the module at 0xDD00 failed (register 0x34): Input/output error", {{0xDD34, 1}});
    row("while the address dialog stops the poll", "address dialog", "a", {vset}, {"stale"}, "",
        {});
    // Each refusal is answered with its code and writes nothing.
    row("retained", "", "a", {vset}, {"retained"}, "", {}, QString(), {"-r"});
    row("above the channel's ceiling", "VsetMaxA=1000", "a", {vset}, {"out_of_range"}, "", {});
    row("second-range limit without a second range", "", "a", {R"({"limit_i2":1e-6,"id":"x"})"},
        {"out_of_range"}, "", {});
    QByteArrayList seven;
    Writes five;
    for (int i = 0; i < 7; ++i) {
        seven << R"({"vset":)" + QByteArray::number(1200 + i) + R"(,"id":"x"})";
        if (i < 5)
            five.append({0xDD34, quint16(1200 + i)});
    }
    row("busy", "", "a", {seven.join('\n')}, {"ok", "ok", "ok", "ok", "ok", "busy", "busy"}, "",
        five);
    QByteArrayList flood;
    QStringList invalid;
    for (int i = 0; i < 25; ++i) {
        flood << R"({"vset":"x","id":"x"})";
        invalid << QStringLiteral("invalid");
    }
    row("a flood of refusals: 10 lines, then how many were not shown", "", "a", {flood.join('\n')},
        invalid, "", {});
}

void TestMqtt::commands()
{
    QFETCH(QString, prepare);
    QFETCH(QString, channel);
    QFETCH(QList<QByteArray>, steps);
    QFETCH(QStringList, options);
    QFETCH(QStringList, answers);
    QFETCH(QString, message);
    QFETCH(Writes, writes);
    QFETCH(QString, shown);

    startCommands(prepare.contains(QLatin1Char('=')) ? prepare.toLatin1() + '\n' : QByteArray(),
                  prepare.startsWith(QLatin1String("chk_")) ? prepare : QString());
    if (prepare == QLatin1String("trip")) {
        sim->setRegister(0x30, 0x0002); // TRP of channel A
        QTRY_VERIFY(Access::session(*window)->eventLatch() & 0x0002);
    } else if (prepare == QLatin1String("writes fail")) {
        QVERIFY(sim->configure(QStringLiteral("BRELKSIM_WRITES_FAIL"), QStringLiteral("on")));
    }
    sim->clearLog();
    MessageCapture debug;
    const QString topic = channel + QStringLiteral("/set");
    for (int i = 0; i < steps.size(); ++i) {
        if (i > 0 && prepare == QLatin1String("gap")) {
            Access::timer(*window)->stop();
            QTest::qWait(2000);
        }
        if (prepare == QLatin1String("address dialog")) {
            // Sent while the dialog is open; the dialog is cancelled once the answer is in.
            QTimer::singleShot(0, this, [&] {
                QVERIFY(
                    publishLines(broker->port, QLatin1String(Prefix), topic, steps[i], options));
                QTRY_VERIFY(!client->messages().isEmpty() &&
                            client->messages().last().topic.endsWith(QLatin1String("result")));
                QApplication::activeModalWidget()->close();
            });
            window->findChild<QAction *>(QStringLiteral("actionModule_Address"))->trigger();
        } else {
            QVERIFY(publishLines(broker->port, QLatin1String(Prefix), topic, steps[i], options));
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(client->answers(channel).size(), answers.size(), 5000);
    QStringList seen;
    for (const QJsonObject &answer : client->answers(channel)) {
        QCOMPARE(answer.value("id").toString(), QStringLiteral("x"));
        const bool ok = answer.value("ok").toBool();
        seen << (ok ? QStringLiteral("ok") : answer.value("error").toString());
        QVERIFY(ok || !answer.value("message").toString().isEmpty());
    }
    QCOMPARE(seen, answers);
    const QString lastMessage = client->answers(channel).last().value("message").toString();
    QVERIFY2(lastMessage.contains(message), qPrintable(lastMessage));
    QCOMPARE(sim->writes(), writes);
    if (!shown.isEmpty())
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("lblRemoteCommand"))->text(), shown);

    // A debug line a command; refusals beyond ten a second are only counted.
    const int lines = answers.size();
    const int lineShown = qMin(lines, MqttPublisher::RefusalLinesPerSecond +
                                          int(answers.count(QStringLiteral("ok"))));
    if (lineShown < lines) {
        QTRY_COMPARE(debug.linesStartingWith(QStringLiteral("Remote command: ")).size(),
                     lineShown + 1);
        QCOMPARE(debug.linesStartingWith(QStringLiteral("Remote command: ")).last(),
                 QStringLiteral("Remote command: module 0xDD00: %1 more refused commands not shown")
                     .arg(lines - lineShown));
    }
    const QStringList commandLines = debug.linesStartingWith(
        QStringLiteral("Remote command: module 0xDD00 channel %1 ").arg(channel.toUpper()));
    QCOMPARE(commandLines.size(), lineShown);
    if (answers.last() != QLatin1String("ok"))
        QVERIFY2(commandLines.last().contains(answers.last()), qPrintable(commandLines.last()));
}

// {"clear": true} forgets the latched events of its own channel and not the other's, as that
// channel's Clear button does, and writes nothing to the module. Then another program that
// publishes under the same prefix would take every command as well: while it is online neither
// takes one, and the label says who it is. Each topic the panel published or subscribed to on the
// way is one of MqttSubtopics, from which the prefix's length limit follows: a topic that is not
// there would make that limit too generous.
void TestMqtt::clearEventsThenMeetAnotherProgram()
{
    startCommands();
    const ModuleSession *session = Access::session(*window);
    Message message;
    const struct
    {
        const char *channel, *button;
        int kept; // the latched events left afterwards
    } clears[] = {{"a", "btnClearStatus2_A", EventTRP << 8}, {"b", "btnClearStatus2_B", EventILIM}};
    for (const auto &clear : clears) {
        for (const bool byCommand : {true, false}) {
            // Events the module reports for a while and no longer: the panel keeps them latched.
            const int both = EventILIM | EventTRP << 8;
            sim->setRegister(regStatus2, quint16(both));
            QTRY_COMPARE(int(session->eventLatch()), both);
            sim->setRegister(regStatus2, 0);
            QSignalSpy ticks(session, &ModuleSession::readingTaken);
            QVERIFY(ticks.wait(2000));
            sim->clearLog();
            if (byCommand) {
                QVERIFY(
                    client->command(QLatin1String(clear.channel), R"({"clear":true})", &message));
                QVERIFY2(message.json().value("ok").toBool(), message.payload.constData());
            } else {
                window->findChild<QPushButton *>(QLatin1String(clear.button))->click();
            }
            QVERIFY2(int(session->eventLatch()) == clear.kept,
                     byCommand ? clear.channel : clear.button);
            QCOMPARE(sim->writes(), Writes());
        }
    }

    auto other = std::make_unique<MqttPublisher>([] {
        ModuleContext context;
        context.bridge = QStringLiteral("CAEN V1718");
        context.baseAddress = 0xDD00;
        context.host = QStringLiteral("crate-pc-2");
        context.instance = QStringLiteral("crate-pc-2:77:1765000000000");
        return context;
    });
    other->apply(mqttSettings(broker->port));
    const QString conflict =
        QStringLiteral("MQTT: prefix %1 also used by crate-pc-2").arg(QLatin1String(Prefix));
    QVERIFY(waitForIndicator(conflict));
    QCOMPARE(indicator()->styleSheet(), QStringLiteral("color: red"));
    // The other program learns of this one too.
    QTRY_COMPARE(other->conflictHost(), QSysInfo::machineHostName());

    sim->clearLog();
    QVERIFY(client->command(QStringLiteral("a"), R"({"vset":5})", &message));
    QCOMPARE(message.json().value("error").toString(), QStringLiteral("conflict"));
    QCOMPARE(sim->writes(), Writes());

    other.reset(); // says "offline" as it goes
    QVERIFY(waitForIndicator(QStringLiteral("MQTT: connected, remote commands on")));
    QVERIFY(client->waitFor(QStringLiteral("status"), payloadIs("online"), &message));
    QTest::qWait(300);
    QVERIFY(client->command(QStringLiteral("a"), R"({"vset":5})", &message));
    QVERIFY2(message.json().value("ok").toBool(), message.payload.constData());
    QCOMPARE(sim->writes(), (Writes{{0xDD34, 5}}));

    QVERIFY(client->waitFor(QStringLiteral("module"), any, &message));
    QStringList listed, seen;
    for (const char *subtopic : MqttSubtopics)
        listed << QLatin1String(subtopic);
    for (const Message &m : client->messages())
        seen << m.topic.mid(qstrlen(Prefix) + 1);
    seen.removeDuplicates();
    seen.sort();
    listed.sort();
    QCOMPARE(seen, listed);
    QCOMPARE(MqttLongestSuffixBytes, int(qstrlen("/a/result")));
}

// The operator's switch holds for every module; a further module's command reaches that module
// only, and the status bar names the module. A further module whose group names the first module's
// prefix does not publish: one command reaches one module.
void TestMqtt::furtherModulesTakeCommandsUnderTheirPrefixes()
{
    QVERIFY(
        sim->configure(QStringLiteral("BRELKSIM_MODULES"), QStringLiteral("0xDD00,0xDC00,0xDB00")));
    startWindow(settingsFor(broker->port) +
                "[Module_DC00]\n[Module_DB00]\nMqttTopic=" + QByteArray(Prefix) + "\n");
    QAction *allow = window->findChild<QAction *>(QStringLiteral("actionRemoteCommands"));
    allow->trigger();
    QVERIFY(waitForIndicator(QStringLiteral("MQTT: connected, remote commands on"), 10000));
    QTest::qWait(300);
    const Brelk::CrateRuntime *runtime = Access::runtime(*window);
    const MqttPublisher *twice = runtime->publisher(runtime->crate()->module(0xDB00));
    QCOMPARE(twice->stateText(), QStringLiteral("MQTT: bad topic prefix"));
    QCOMPARE(twice->lastError(), QStringLiteral("the module at 0xDD00 publishes under %1 already")
                                     .arg(QLatin1String(Prefix)));

    Subscriber first(broker->port), further(broker->port, QStringLiteral("brelk/dc00"));
    sim->clearLog();
    Message answer;
    QVERIFY(first.command(QStringLiteral("a"), R"({"vset":7})", &answer));
    QTest::qWait(300);
    QCOMPARE(first.answers(QStringLiteral("a")).size(), 1);
    QCOMPARE(sim->writes(), (Writes{{0xDD34, 7}}));

    sim->clearLog();
    QVERIFY(further.command(QStringLiteral("a"), R"({"vset":1200})", &answer));
    QVERIFY2(answer.json().value("ok").toBool(), answer.payload.constData());
    QCOMPARE(sim->writes(), (Writes{{0xDC34, 1200}}));
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("lblRemoteCommand"))->text(),
             QStringLiteral("0xDC00: Remote command: channel A Vset 1200 V"));

    // Switched off, which the indicator shows and the settings file keeps.
    allow->trigger();
    QCOMPARE(indicator()->text(), QStringLiteral("MQTT: connected"));
    QCOMPARE(QSettings(settingsPath(), QSettings::IniFormat).value("MqttCommands"),
             QVariant(QStringLiteral("off")));
    sim->clearLog();
    QVERIFY(further.command(QStringLiteral("a"), R"({"vset":1300})", &answer));
    QCOMPARE(answer.json().value("error").toString(), QStringLiteral("disabled"));
    QVERIFY(sim->writes().isEmpty());
}

// Until a tick has read the module since the bridge's connection or the last address change, a
// command is refused "stale" and writes nothing, though the poll was never stopped; once one has,
// the same command is written. The prefix, beyond ASCII, reaches the broker as it stands in the
// file (Qt 5 read the file as Latin-1: "labor/PrÃ¼fstand").
void TestMqtt::staleUntilATickAtTheAddress()
{
    startWindow(settingsFor(broker->port) + "MqttCommands=on\nMqttTopic=labor/Pr\xc3\xbc"
                                            "fstand/\xe9\xab\x98\n");
    Access::timer(*window)->stop();
    QVERIFY(!Access::session(*window)->lastReading());
    Subscriber subscriber(broker->port, QStringLiteral("labor"));
    const QString below = QString::fromUtf8("Pr\xc3\xbc"
                                            "fstand/\xe9\xab\x98/");
    Message answer;
    QVERIFY2(
        subscriber.waitFor(below + QStringLiteral("status"), payloadIs("online"), &answer, 10000),
        "no status under the prefix as written");
    QVERIFY(waitForIndicator(QStringLiteral("MQTT: connected, remote commands on"), 10000));
    QTest::qWait(300);
    for (const quint32 base : {0xDD00u, 0xC000u}) {
        if (base == 0xC000) {
            Access::timer(*window)->stop();
            QVERIFY(sim->configure(QStringLiteral("BRELKSIM_BASE"), QStringLiteral("0xC000")));
            Access::setBaseAddress(*window, int(base));
        }
        sim->clearLog();
        QVERIFY(subscriber.command(below + QLatin1Char('a'), R"({"vset":1500})", &answer));
        QVERIFY2(answer.json().value("error").toString() == QLatin1String("stale"),
                 answer.payload.constData());
        QCOMPARE(sim->writes(), Writes());

        // A command relies on a tick that started shortly before it arrived: the poll runs again.
        Access::timer(*window)->start();
        QTRY_VERIFY(Access::session(*window)->lastReading());
        sim->clearLog();
        QVERIFY(subscriber.command(below + QLatin1Char('a'), R"({"vset":1500})", &answer));
        QVERIFY2(answer.json().value("ok").toBool(), answer.payload.constData());
        QCOMPARE(sim->writes(), (Writes{{base + 0x34, 1500}}));
    }
    for (const Message &m : subscriber.messages())
        QVERIFY2(m.topic.startsWith(QStringLiteral("labor/") + below), qPrintable(m.topic));
}

QTEST_MAIN(TestMqtt)
#include "tst_mqtt.moc"
