// The attached panel against real services through a real broker: starts the main window attached
// (`--attach`) with the settings file given, and for every reading its form shows records the delay
// from the service's tick (the reading's wall-clock time, taken by the service on the same machine)
// to the moment the form showed it. Readings taken before the window was built (and filled), the
// broker's retained ones among them, are passed over. After SECONDS it prints the count, median,
// 99th percentile and largest delay and, with --history, opens the trend window at 24 h and prints
// how long it took to be drawn; with --fill=SECONDS the first module's trend store first gets that
// many seconds of ticks (the trend of a day, as a panel at the crate would hold it). Then it quits,
// unless --stay keeps the windows up until the program is ended (for measuring CPU and memory from
// outside).
//
// Usage: bench_attach SETTINGS SECONDS [--overview] [--history [--fill=SECONDS]] [--stay]
#include "brelkcontrol.h"
#include "historywindow.h"
#include "traceplot.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// The value below which `fraction` of the sorted `values` lie (nearest rank).
qint64 percentile(const std::vector<qint64> &sorted, double fraction)
{
    if (sorted.empty())
        return -1;
    const auto rank = std::size_t(std::ceil(fraction * double(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
}

// `seconds` of ticks, 10 per second, ending now: a module at its set voltages, with noise on the
// measured voltage and current (computed in 64 bits: the products outgrow an int within a day).
void fillSpan(Brelk::HistoryWindow *history, int seconds)
{
    const int ticks = seconds * 10;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 runningNow = history->samples().runningTime();
    for (int i = 0; i < ticks; ++i) {
        Brelk::Reading r;
        const qint64 ago = qint64(ticks - i) * 100;
        r.time = now - ago;
        r.vset[0] = 1000;
        r.vset[1] = 500;
        r.vmeas[0] = quint16(990 + qint64(i) * 7919 % 21);
        r.vmeas[1] = quint16(480 + int(20 * std::sin(i / 3000.0)));
        r.imeas[0] = quint16(10 + qint64(i) * 104729 % 5);
        r.imeas[1] = quint16(5 + (i / 600) % 7);
        history->addEarlierReading(r, runningNow - ago);
    }
}

// Opens the trend window at 24 h and returns the milliseconds until its plot has been painted.
double openHistory(BrelkControl &panel)
{
    auto *history = panel.findChild<Brelk::HistoryWindow *>();
    auto *plot = history->plot();
    bool painted = false;
    struct PaintWatch : QObject
    {
        bool *painted;
        explicit PaintWatch(bool *painted) : painted(painted) {}
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                *painted = true;
            return false;
        }
    } watch(&painted);
    plot->installEventFilter(&watch);
    QElapsedTimer elapsed;
    elapsed.start();
    panel.findChild<QAction *>(QStringLiteral("actionHistory"))->trigger();
    if (auto *button = history->findChild<QPushButton *>(QStringLiteral("historySpan86400")))
        button->click();
    // A paint event that was let through has been handled once processEvents returns.
    while (!painted && elapsed.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double ms = elapsed.nsecsElapsed() / 1e6;
    plot->removeEventFilter(&watch);
    return painted ? ms : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_attach SETTINGS SECONDS [--overview] [--history "
                             "[--fill=SECONDS]] [--stay]\n");
        return 2;
    }
    const QString settings = QString::fromLocal8Bit(argv[1]);
    const int seconds = atoi(argv[2]);
    const QStringList options = app.arguments().mid(3);

    BrelkControl panel(settings, true);
    panel.show();
    if (options.contains(QStringLiteral("--overview")))
        panel.findChild<QAction *>(QStringLiteral("actionOverview"))->trigger();
    const int fillSeconds = options.filter(QStringLiteral("--fill=")).value(0).mid(7).toInt();
    if (fillSeconds > 0) {
        QElapsedTimer filling;
        filling.start();
        fillSpan(panel.findChild<Brelk::HistoryWindow *>(), fillSeconds);
        std::printf("%d s of ticks stored in %lld ms\n", fillSeconds, qint64(filling.elapsed()));
    }

    // Ticks taken while the window was still being built or filled wait for the event loop;
    // they are not what a running panel shows.
    const qint64 startedAt = QDateTime::currentMSecsSinceEpoch();
    std::vector<qint64> delays;
    delays.reserve(std::size_t(seconds) * 40);
    QObject::connect(&panel, &BrelkControl::readingTaken, &panel,
                     [&delays, startedAt](const Brelk::Reading &reading) {
                         if (reading.time < startedAt)
                             return;
                         delays.push_back(QDateTime::currentMSecsSinceEpoch() - reading.time);
                     });

    QTimer::singleShot(seconds * 1000, &panel, [&] {
        std::vector<qint64> sorted = delays;
        std::sort(sorted.begin(), sorted.end());
        if (sorted.empty()) {
            std::printf("FAIL: no reading shown\n");
        } else {
            std::printf("readings shown: %zu; delay median %lld ms, p99 %lld ms, max %lld ms\n",
                        sorted.size(), percentile(sorted, 0.5), percentile(sorted, 0.99),
                        sorted.back());
        }
        if (options.contains(QStringLiteral("--history")))
            std::printf("trend window open at 24 h and drawn in %.1f ms\n", openHistory(panel));
        std::fflush(stdout);
        if (!options.contains(QStringLiteral("--stay")))
            QCoreApplication::exit(sorted.empty() ? 1 : 0);
    });
    return app.exec();
}
