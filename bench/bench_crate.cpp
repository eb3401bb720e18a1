// What a crate of simulated modules costs the panel: the main window polling N modules, all
// ramping, with the overview and one history window open, a data log per module and, when given
// a broker port, MQTT publishing of every module. Prints, over a measured span after a settling
// second: ticks per second of each module, the event loop's latency (the delay of input events to
// a line edit from the moment they are posted: median, 99th percentile, maximum), the CPU time of
// the whole process in percent of one core, and the resident memory. The events come from a
// thread of their own at random moments, 20 ms apart on average, as a keyboard's would: they fall
// at every phase of the 100 ms tick, during a module's reads as often as between them. Run against
// the module simulator (LD_LIBRARY_PATH=build/sim) under a display or Xvfb; BRELKSIM_CYCLE_US sets
// the bus cycle time.
//
// Usage: bench_crate [MODULES [SECONDS [MQTT_PORT]]]   (defaults: 8 30, no publishing)
// BRELK_BENCH_WINDOWS="overview", "history" or "" opens fewer windows than both;
// BRELK_BENCH_PROBE_MS sets the mean interval of the input events (0: none, for the CPU figure
// alone); BRELK_BENCH_SEED their random moments (default: different in each run).
#include "brelkcontrol.h"
#include "crate.h"
#include "modulesession.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <thread>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// A key press that carries the moment it was posted.
class StampedKey : public QKeyEvent
{
public:
    StampedKey()
        : QKeyEvent(QEvent::KeyPress, Qt::Key_F35, Qt::NoModifier),
          posted(std::chrono::steady_clock::now())
    {
    }
    const std::chrono::steady_clock::time_point posted;
};

// Posts key events to the line edit from a thread of its own, at intervals drawn uniformly from
// 0.25 to 1.75 times the mean, and takes each one's delay from its post to the line edit.
class LatencyProbe : public QObject
{
public:
    LatencyProbe(QLineEdit *target, int meanMs, unsigned seed)
        : target(target), meanMs(meanMs), seed(seed)
    {
        target->installEventFilter(this);
    }
    ~LatencyProbe() override { stop(); }
    void start()
    {
        if (meanMs > 0)
            poster = std::thread([this] { run(); });
    }
    void stop()
    {
        running = false;
        if (poster.joinable())
            poster.join();
    }
    std::vector<double> delaysMs;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != target || event->type() != QEvent::KeyPress ||
            static_cast<QKeyEvent *>(event)->key() != Qt::Key_F35)
            return false;
        const auto delay =
            std::chrono::steady_clock::now() - static_cast<StampedKey *>(event)->posted;
        if (running)
            delaysMs.push_back(std::chrono::duration<double, std::milli>(delay).count());
        return true;
    }

private:
    void run()
    {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> intervalUs(meanMs * 250, meanMs * 1750);
        while (running) {
            std::this_thread::sleep_for(std::chrono::microseconds(intervalUs(random)));
            QCoreApplication::postEvent(target, new StampedKey);
        }
    }

    QLineEdit *target;
    const int meanMs;
    const unsigned seed;
    std::atomic<bool> running{true};
    std::thread poster;
};

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size())))];
}

} // namespace

int main(int argc, char *argv[])
{
    const int modules = argc > 1 ? std::max(1, std::min(16, atoi(argv[1]))) : 8;
    const int seconds = argc > 2 ? std::max(1, atoi(argv[2])) : 30;
    const int mqttPort = argc > 3 ? atoi(argv[3]) : 0;

    // Modules at 0xDD00, 0xDC00, 0xDB00, ...: every channel ramps towards 6000 V at 10 V/s.
    QStringList addresses;
    QByteArray settings = "[General]\nBaseAddress=0xDD00\n";
    QTemporaryDir dir;
    if (mqttPort > 0)
        settings += "MqttHost=127.0.0.1\nMqttPort=" + QByteArray::number(mqttPort) + '\n';
    settings +=
        "LogFile=" + dir.filePath(QStringLiteral("dd00.csv")).toUtf8() + "\nLogInterval=1\n";
    for (int i = 0; i < modules; ++i) {
        const QString hex = QString::asprintf("%04X", 0xDD00 - 0x100 * i);
        addresses << QStringLiteral("0x") + hex;
        for (const char *key : {"VSET_A", "VSET_B"})
            qputenv(QStringLiteral("BRELKSIM_%1_%2").arg(hex, key).toUtf8(), "6000");
        for (const char *key : {"RAMP_A", "RAMP_B"})
            qputenv(QStringLiteral("BRELKSIM_%1_%2").arg(hex, key).toUtf8(), "10");
        if (i > 0) {
            settings += "[Module_" + hex.toUtf8() + "]\nLogFile=" +
                        dir.filePath(hex.toLower() + QStringLiteral(".csv")).toUtf8() +
                        "\nLogInterval=1\n";
        }
    }
    qputenv("BRELKSIM_MODULES", addresses.join(QLatin1Char(',')).toUtf8());
    const QString iniPath = dir.filePath(QStringLiteral("brelkcontrol.ini"));
    QFile ini(iniPath);
    if (!ini.open(QIODevice::WriteOnly) || ini.write(settings) != settings.size())
        return 1;
    ini.close();

    QApplication application(argc, argv);
    BrelkControl window(iniPath);
    window.show();
    const QByteArray windows = qgetenv("BRELK_BENCH_WINDOWS");
    if (windows.isNull() || windows.contains("overview"))
        window.findChild<QAction *>(QStringLiteral("actionOverview"))->trigger();
    if (windows.isNull() || windows.contains("history"))
        window.findChild<QAction *>(QStringLiteral("actionHistory"))->trigger();
    auto *crate = window.findChild<Brelk::Crate *>();

    std::vector<int> ticks(size_t(crate->modules().size()), 0);
    for (int i = 0; i < crate->modules().size(); ++i) {
        QObject::connect(crate->modules()[i], &Brelk::ModuleSession::readingTaken,
                         [&ticks, i] { ++ticks[size_t(i)]; });
    }
    const int probeMs = qEnvironmentVariableIsSet("BRELK_BENCH_PROBE_MS")
                            ? qEnvironmentVariableIntValue("BRELK_BENCH_PROBE_MS")
                            : 20;
    const unsigned seed = qEnvironmentVariableIsSet("BRELK_BENCH_SEED")
                              ? unsigned(qEnvironmentVariableIntValue("BRELK_BENCH_SEED"))
                              : std::random_device()();
    LatencyProbe probe(window.findChild<QLineEdit *>(QStringLiteral("txtVset_A")), probeMs, seed);

    double cpuAtStart = 0;
    QElapsedTimer span;
    QTimer::singleShot(1000, [&] {
        std::fill(ticks.begin(), ticks.end(), 0);
        cpuAtStart = cpuSeconds();
        span.start();
        probe.start();
    });
    QTimer::singleShot(1000 + seconds * 1000, [&] {
        const double elapsed = double(span.nsecsElapsed()) / 1e9;
        const double cpu = 100 * (cpuSeconds() - cpuAtStart) / elapsed;
        probe.stop();
        const auto [least, most] = std::minmax_element(ticks.begin(), ticks.end());
        std::printf("modules %d, cycle %s us, %.1f s: ticks per second per module %.2f to %.2f\n",
                    modules, qgetenv("BRELKSIM_CYCLE_US").constData(), elapsed, *least / elapsed,
                    *most / elapsed);
        std::printf("event loop latency: median %.2f ms, 99th percentile %.2f ms, max %.2f ms "
                    "(%zu input events)\n",
                    percentile(probe.delaysMs, 0.5), percentile(probe.delaysMs, 0.99),
                    percentile(probe.delaysMs, 1.0), probe.delaysMs.size());
        std::printf("CPU %.2f %% of one core, resident %ld KiB\n", cpu, residentKiB());
        QCoreApplication::quit();
    });
    return application.exec();
}
