// Ticks per second of the panel's poll while MQTT publishing cannot reach a broker: against a
// closed port on 127.0.0.1, or against a listener on 127.0.0.1 that accepts connections and
// never answers. Run against the module simulator (LD_LIBRARY_PATH=build/sim).
//
// Usage: bench_mqtt_ticks closed|silent [SECONDS]   (default 30)
#include "brelkcontrol.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A listening socket on 127.0.0.1 and a free port; the caller closes it for a closed port.
int listenOnLoopback(quint16 *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return -1;
    *port = ntohs(address.sin_port);
    return fd;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("closed");
    const int seconds = argc > 2 ? QString::fromLatin1(argv[2]).toInt() : 30;
    quint16 port = 0;
    int listener = listenOnLoopback(&port);
    if (listener < 0 || (mode != QLatin1String("closed") && mode != QLatin1String("silent"))) {
        std::fprintf(stderr, "usage: bench_mqtt_ticks closed|silent [SECONDS]\n");
        return 2;
    }
    if (mode == QLatin1String("closed")) {
        ::close(listener);
        listener = -1;
    }
    // The kernel completes every handshake on the listener; nothing ever reads or answers.

    QFile settings(QCoreApplication::applicationDirPath() + QStringLiteral("/brelkcontrol.ini"));
    if (!settings.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    settings.write("MqttHost=127.0.0.1\nMqttPort=" + QByteArray::number(port) + "\n");
    settings.close();

    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    int ticks = 0;
    int counted = 0;
    double elapsed = 0;
    QElapsedTimer clock;
    {
        BrelkControl window;
        QObject::connect(&window, &BrelkControl::readingTaken, [&ticks] { ++ticks; });
        // One second to settle, then count.
        QTimer::singleShot(1000, [&] {
            ticks = 0;
            clock.start();
        });
        QTimer::singleShot(1000 + seconds * 1000, [&] {
            counted = ticks;
            elapsed = clock.elapsed() / 1000.0;
            application.quit();
        });
        application.exec();
    }
    std::printf("%s: %d ticks in %.2f s = %.2f ticks/s\n", qPrintable(mode), counted, elapsed,
                counted / elapsed);
    settings.remove();
    if (listener >= 0)
        ::close(listener);
    return 0;
}
