// Remote commands over MQTT against the module simulator: the time from a command's publish to
// its register write and to its answer, and the poll's ticks per second meanwhile. Starts its own
// broker on 127.0.0.1 and sends the commands at 4.5 per second, under the panel's limit of 5.
// Run with the simulator on the library path:
//
//   LD_LIBRARY_PATH=build/sim build/bench/mqtt/bench_remote [COMMANDS [nodelay]]
//
// COMMANDS defaults to 1000 (about four minutes).
#include "bridge.h"
#include "cvmusb.h"
#include "modulesession.h"
#include "mqttpublisher.h"

#include <mosquitto.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Brelk;

namespace {

QElapsedTimer sinceStart;
std::mutex answersLock;
QHash<int, qint64> answeredNs; // by command id
QHash<QString, int> refusals;  // by error code

// The simulator's bridge, with the time of every register write.
class TimedController : public CVmUsb
{
public:
    void write16(quint32 address, int addressModifier, quint16 data, int *error) override
    {
        CVmUsb::write16(address, addressModifier, data, error);
        if (address == 0xDD00 + regVsetWrite_A)
            writtenNs.insert(data, sinceStart.nsecsElapsed());
    }
    QHash<int, qint64> writtenNs; // by the word written, which is unique per command
};

quint16 freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

void onAnswer(mosquitto *, void *, const mosquitto_message *message)
{
    const qint64 now = sinceStart.nsecsElapsed();
    const QJsonObject answer =
        QJsonDocument::fromJson(
            QByteArray(static_cast<const char *>(message->payload), message->payloadlen))
            .object();
    std::lock_guard<std::mutex> lock(answersLock);
    answeredNs.insert(answer.value(QLatin1String("id")).toInt(), now);
    if (!answer.value(QLatin1String("ok")).toBool())
        ++refusals[answer.value(QLatin1String("error")).toString()];
}

void printFigures(const char *what, QVector<double> ms)
{
    if (ms.isEmpty()) {
        std::printf("%s: none\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%s: %d samples, median %.2f ms, 99th percentile %.2f ms, maximum %.2f ms\n", what,
                int(ms.size()), ms[ms.size() / 2], ms[(ms.size() * 99) / 100], ms.last());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int commands = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 1000;
    // "nodelay": the broker sends each packet at once (set_tcp_nodelay), as the README advises.
    const bool noDelay = argc > 2 && QByteArray(argv[2]) == "nodelay";
    const QByteArray brokerOptions = noDelay ? "set_tcp_nodelay true\n" : "";
    if (commands < 1 || commands > 4000) {
        std::fprintf(stderr, "usage: bench_remote [COMMANDS (1 to 4000) [nodelay]]\n");
        return 2;
    }
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    sinceStart.start();

    QTemporaryDir dir;
    const quint16 port = freePort();
    QFile conf(dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!conf.open(QIODevice::WriteOnly))
        return 1;
    conf.write("listener " + QByteArray::number(port) +
               " 127.0.0.1\npersistence false\nallow_anonymous true\n" + brokerOptions);
    conf.close();
    QProcess broker;
    broker.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), conf.fileName()});
    if (!broker.waitForStarted(5000))
        return 1;
    QThread::msleep(500);

    Bridge bridge;
    auto *controller = new TimedController;
    if (!controller->open(0)) {
        std::fprintf(stderr, "the simulator is not on the library path\n");
        return 1;
    }
    bridge.adopt(controller, true);
    ModuleSession session(&bridge, 0xDD00);
    session.connected();
    int ticks = 0;
    QObject::connect(&session, &ModuleSession::readingTaken, [&ticks] { ++ticks; });
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, &session, &ModuleSession::poll);
    poll.start();

    MqttPublisher publisher([] {
        ModuleContext context;
        context.bridge = QStringLiteral("Wiener VM-USB");
        context.baseAddress = 0xDD00;
        return context;
    });
    publisher.attach(&session);
    publisher.setCommandsAllowed(true);
    MqttSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    settings.topic = QStringLiteral("brelk/dd00");
    publisher.apply(settings);

    mosquitto_lib_init();
    mosquitto *client = mosquitto_new("bench-remote", true, nullptr);
    mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_message_callback_set(client, onAnswer);
    if (mosquitto_connect(client, "127.0.0.1", port, 10) != MOSQ_ERR_SUCCESS)
        return 1;
    mosquitto_subscribe(client, nullptr, "brelk/dd00/a/result", 1);
    mosquitto_loop_start(client);

    QHash<int, qint64> publishedNs;
    QVector<int> ticksPerSecond;
    int sent = 0;
    QTimer sender;
    sender.setInterval(220);
    sender.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sender, &QTimer::timeout, [&] {
        if (sent == commands) {
            sender.stop();
            QTimer::singleShot(2000, &application, &QCoreApplication::quit);
            return;
        }
        const QByteArray payload = R"({"vset":)" + QByteArray::number(1000 + sent) + R"(,"id":)" +
                                   QByteArray::number(sent) + "}";
        publishedNs.insert(sent, sinceStart.nsecsElapsed());
        mosquitto_publish(client, nullptr, "brelk/dd00/a/set", int(payload.size()),
                          payload.constData(), 1, false);
        ++sent;
    });
    QTimer second;
    second.setInterval(1000);
    int ticksBefore = 0;
    QObject::connect(&second, &QTimer::timeout, [&] {
        ticksPerSecond.append(ticks - ticksBefore);
        ticksBefore = ticks;
    });
    // Two seconds for the connection and the first ticks.
    QTimer::singleShot(2000, [&] {
        ticksBefore = ticks;
        second.start();
        sender.start();
    });
    application.exec();

    mosquitto_loop_stop(client, true);
    mosquitto_destroy(client);
    QVector<double> toWrite, toAnswer;
    for (int id = 0; id < sent; ++id) {
        const qint64 published = publishedNs.value(id);
        if (controller->writtenNs.contains(1000 + id))
            toWrite.append((controller->writtenNs.value(1000 + id) - published) / 1e6);
        if (answeredNs.contains(id))
            toAnswer.append((answeredNs.value(id) - published) / 1e6);
    }
    std::printf("%d commands sent\n", sent);
    for (auto it = refusals.cbegin(); it != refusals.cend(); ++it)
        std::printf("refused as %s: %d\n", qPrintable(it.key()), it.value());
    printFigures("publish to register write", toWrite);
    printFigures("publish to answer", toAnswer);
    if (!ticksPerSecond.isEmpty()) {
        std::sort(ticksPerSecond.begin(), ticksPerSecond.end());
        double sum = 0;
        for (int t : ticksPerSecond)
            sum += t;
        std::printf("ticks per second over %d s: mean %.2f, lowest %d, highest %d\n",
                    int(ticksPerSecond.size()), sum / ticksPerSecond.size(), ticksPerSecond.first(),
                    ticksPerSecond.last());
    }
    publisher.stop();
    broker.terminate();
    broker.waitForFinished(5000);
    return 0;
}
