// The attached panel's MQTT client against Debian's broker started on 127.0.0.1: what arrives,
// what the library and the broker refuse, a broker that goes away and comes back, and how quickly
// the client lets go.
#include "brokerclient.h"

#include "broker.h"
#include "loopback.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSysInfo>
#include <QtTest>

#include <memory>

using namespace Brelk;

namespace {

const QString Probe = QStringLiteral("brelk/probe");

MqttSettings local(quint16 port)
{
    MqttSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    return settings;
}

// The threads of this process.
int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task"))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

// The messages a spy on messageArrived caught on `topic`.
QList<QList<QVariant>> on(const QSignalSpy &spy, const QString &topic)
{
    QList<QList<QVariant>> found;
    for (const QList<QVariant> &arguments : spy) {
        if (arguments.at(0).toString() == topic)
            found << arguments;
    }
    return found;
}

// Publishes on the probe topic until `client` receives it back: its subscriptions of the same
// connection (all sent before) and its publishes before it have then been served by the broker.
bool roundTrip(BrokerClient &client, QSignalSpy &arrived)
{
    const int before = on(arrived, Probe).size();
    return client.publish(Probe, "probe") &&
           QTest::qWaitFor([&] { return on(arrived, Probe).size() > before; }, 5000);
}

} // namespace

class BrokerClientTest : public QObject
{
    Q_OBJECT

private slots:
    void publishing_data();
    void publishing();
    void wrongPasswordIsRefused();
    void reconnects();
    void destructionIsQuick_data();
    void destructionIsQuick();
};

// What the client sends reaches its own subscription as sent, and so does a message stored before
// it subscribed; what the library would refuse is refused before it is sent.
void BrokerClientTest::publishing_data()
{
    QTest::addColumn<bool>("stored"); // published retained by another client before the start
    QTest::addColumn<bool>("connect");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("responseTopic");
    QTest::addColumn<QByteArray>("correlation");
    QTest::addColumn<bool>("sent");

    const QString topic = QStringLiteral("brelk/x/a");
    const QString reply = QStringLiteral("brelk/view/reply");
    const auto row = [](const char *name, const QByteArray &payload,
                        const QString &responseTopic = QString(),
                        const QByteArray &correlation = QByteArray(), bool sent = true,
                        const QString &to = QStringLiteral("brelk/x/a"), bool stored = false) {
        QTest::newRow(name) << stored << true << to << payload << responseTopic << correlation
                            << sent;
    };
    row("stored before subscribing", "kept", QString(), QByteArray(), true, topic, true);
    row("empty", QByteArray());
    row("binary", QByteArray("\0\x01\xff\n", 4));
    row("request", "{\"get\":1}", reply, QByteArray("\0\x07id", 4));
    row("correlation data at its longest", "p", reply, QByteArray(65535, 'c'));
    QTest::newRow("not connected")
        << false << false << topic << QByteArray("p") << QString() << QByteArray() << false;
    row("wildcard in the topic", "p", QString(), QByteArray(), false,
        QStringLiteral("brelk/+/a/set"));
    row("empty topic", "p", QString(), QByteArray(), false, QString());
    row("control character in the topic", "p", QString(), QByteArray(), false,
        QStringLiteral("brelk/x\x01/a"));
    row("wildcard in the response topic", "p", QStringLiteral("brelk/view/#"), QByteArray(), false);
    row("correlation data too long", "p", reply, QByteArray(65536, 'c'), false);
}

void BrokerClientTest::publishing()
{
    QFETCH(bool, stored);
    QFETCH(bool, connect);
    QFETCH(QString, topic);
    QFETCH(QByteArray, payload);
    QFETCH(QString, responseTopic);
    QFETCH(QByteArray, correlation);
    QFETCH(bool, sent);

    Broker broker;
    QVERIFY(broker.start());
    if (stored)
        QVERIFY(publishLines(broker.port, topic.section(QLatin1Char('/'), 0, -2),
                             topic.section(QLatin1Char('/'), -1), payload, {QStringLiteral("-r")}));
    BrokerClient client;
    QSignalSpy arrived(&client, &BrokerClient::messageArrived);
    QSignalSpy refused(&client, &BrokerClient::publishRefused);
    if (connect) {
        client.start(local(broker.port), {QStringLiteral("brelk/#")});
        QTRY_VERIFY(client.isConnected());
        QVERIFY(roundTrip(client, arrived));
    }
    if (!stored)
        QCOMPARE(client.publish(topic, payload, responseTopic, correlation), sent);
    if (!connect)
        return;
    QVERIFY(roundTrip(client, arrived));
    QCOMPARE(on(arrived, topic).size(), sent ? 1 : 0);
    if (!sent)
        return;
    const QList<QVariant> message = on(arrived, topic).first();
    QCOMPARE(message.at(1).toByteArray(), payload);
    QCOMPARE(message.at(2).toBool(), stored);
    QCOMPARE(message.at(3).toByteArray(), correlation);
    QVERIFY(refused.isEmpty());
}

// A wrong password: the broker refuses the connection, and the client says why. (What the access
// list refuses on a connection is tested with the attached panel's accounts.)
void BrokerClientTest::wrongPasswordIsRefused()
{
    Broker broker;
    QVERIFY(broker.startGuarded({{QStringLiteral("viewer"), QStringLiteral("view")}},
                                "user viewer\ntopic read brelk/#\n"));
    BrokerClient client;
    QSignalSpy connection(&client, &BrokerClient::connectedChanged);
    MqttSettings settings = local(broker.port);
    settings.user = QStringLiteral("viewer");
    settings.password = QStringLiteral("guess");
    client.start(settings, {QStringLiteral("brelk/#")});
    QTRY_VERIFY(!connection.isEmpty());
    QCOMPARE(connection.first().at(0).toBool(), false);
    QVERIFY2(connection.first().at(1).toString().contains(QLatin1String("Connection Refused")),
             qPrintable(connection.first().at(1).toString()));
    QVERIFY(!client.isConnected());
}

// Filters that the library refuses are left out before they reach the broker, at start and when
// added, without costing the connection, and the valid ones beside them are subscribed all the
// same. The broker goes away and comes back on the same port: the client says why it lost the
// connection, connects again on its own and subscribes again, the filters of start() and the one
// added later.
void BrokerClientTest::reconnects()
{
    auto broker = std::make_unique<Broker>();
    const quint16 port = broker->port;
    QVERIFY(broker->start());
    BrokerClient client;
    QVERIFY(QRegularExpression(QStringLiteral("^brelkcontrol-view-%1-%2-\\d+$")
                                   .arg(QRegularExpression::escape(QSysInfo::machineHostName()))
                                   .arg(QCoreApplication::applicationPid()))
                .match(client.clientId())
                .hasMatch());
    QVERIFY(client.clientId() != BrokerClient().clientId());
    QSignalSpy connection(&client, &BrokerClient::connectedChanged);
    QSignalSpy arrived(&client, &BrokerClient::messageArrived);
    const QStringList invalid{QStringLiteral("brelk/#/a"), QStringLiteral("brelk/x+/a"), QString(),
                              QStringLiteral("brelk/\x7f")};
    client.start(local(port), invalid + QStringList{QStringLiteral("brelk/#")});
    QTRY_VERIFY(client.isConnected());
    for (const QString &filter : invalid)
        client.subscribe(filter);
    client.subscribe(QStringLiteral("extra/#"));
    QVERIFY(roundTrip(client, arrived));
    QCOMPARE(connection.size(), 1);
    QVERIFY(broker->log().contains(client.clientId().toUtf8()));

    broker.reset();
    QTRY_VERIFY(!client.isConnected());
    QCOMPARE(connection.last().at(0).toBool(), false);
    QVERIFY(!connection.last().at(1).toString().isEmpty());
    QVERIFY(!client.publish(QStringLiteral("brelk/x/a/set"), "while away"));

    broker = std::make_unique<Broker>(port);
    QVERIFY(broker->start());
    QTRY_VERIFY(client.isConnected());
    QVERIFY(roundTrip(client, arrived));
    QVERIFY(publishLines(port, QStringLiteral("extra"), QStringLiteral("x"), "again"));
    QTRY_COMPARE(on(arrived, QStringLiteral("extra/x")).size(), 1);
    QCOMPARE(connection.last(), (QList<QVariant>{true, QString()}));
}

void BrokerClientTest::destructionIsQuick_data()
{
    QTest::addColumn<bool>("hung");
    QTest::newRow("connected") << false;
    QTest::newRow("connect that never returns") << true;
}

// Connected, the client says goodbye (no last will, no lingering session); a connection attempt
// that blocks is left behind rather than waited for.
void BrokerClientTest::destructionIsQuick()
{
    QFETCH(bool, hung);
    Broker broker;
    auto listener = std::make_unique<HungListener>();
    if (hung)
        QVERIFY(listener->filled);
    else
        QVERIFY(broker.start());
    const int threads = threadCount();
    auto client = std::make_unique<BrokerClient>();
    client->start(local(hung ? listener->port : broker.port), {QStringLiteral("brelk/#")});
    if (hung)
        QTest::qWait(300);
    else
        QTRY_VERIFY(client->isConnected());

    QElapsedTimer ending;
    ending.start();
    client.reset();
    QVERIFY2(ending.elapsed() < 1300, qPrintable(QString::number(ending.elapsed())));
    if (!hung)
        QVERIFY(broker.clientLeftCleanly());
    // Refused once the listener is gone, the attempt left behind ends, and its thread with it.
    listener.reset();
    QVERIFY(QTest::qWaitFor([threads] { return threadCount() <= threads; }, 10000));
    QTest::qWait(20);
}

QTEST_GUILESS_MAIN(BrokerClientTest)
#include "tst_brokerclient.moc"
