// The service as systemd sees it: its lines on standard error with a time stamp or a journal
// priority, the test whether standard error is the journal, and what sd_notify sends, received
// on a notification socket of the test's own. Built without libsystemd, nothing is sent.
#include "daemonnotify.h"
#include "notifysocket.h"
#include "serviceline.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace Brelk;

Q_DECLARE_METATYPE(Brelk::LinePriority)

namespace {

#ifdef BRELK_SYSTEMD
constexpr bool withSystemd = true;
#else
constexpr bool withSystemd = false;
#endif

void setOrUnset(const char *name, const QByteArray &value)
{
    if (value.isNull())
        qunsetenv(name);
    else
        qputenv(name, value);
}

} // namespace

class TestDaemon : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void serviceLines_data();
    void serviceLines();
    void journalStream_data();
    void journalStream();
    void notifications_data();
    void notifications();

private:
    QTemporaryDir socketDir;
    std::unique_ptr<NotifySocket> notifySocket;
};

void TestDaemon::initTestCase()
{
    // Central European time without a zone database: +01:00 in December.
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();

    QVERIFY(socketDir.isValid());
    const QString path = socketDir.filePath(QStringLiteral("notify"));
    notifySocket.reset(new NotifySocket(path));
    QVERIFY(notifySocket->isBound());
    qputenv("NOTIFY_SOCKET", QFile::encodeName(path));
}

void TestDaemon::init()
{
    qunsetenv("WATCHDOG_USEC");
    qunsetenv("WATCHDOG_PID");
    notifySocket->received();
}

void TestDaemon::serviceLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<LinePriority>("priority");
    QTest::addColumn<bool>("journal");
    QTest::addColumn<QByteArray>("line");

    const QString lost = QStringLiteral("Bridge lost; reopening");
    QTest::newRow("journal error")
        << lost << LinePriority::Error << true << QByteArray("<3>Bridge lost; reopening\n");
    // A second line would reach the journal with the default priority and could pose as a line
    // of the service's own.
    QTest::newRow("journal: a line break stays in the line")
        << QStringLiteral("MQTT: refused\n<3>forged") << LinePriority::Warning << true
        << QByteArray("<4>MQTT: refused\\n<3>forged\n");
    QTest::newRow("terminal: a line break stays in the line")
        << QStringLiteral("a\r\nb\x1b[2J") << LinePriority::Info << false
        << QByteArray("2026-12-07T10:42:13.020+01:00 a\\r\\nb\\x1b[2J\n");
    QTest::newRow("journal: UTF-8")
        << QStringLiteral("Channel A \u2013 ramping") << LinePriority::Info << true
        << QByteArray("<6>Channel A \xe2\x80\x93 ramping\n");
}

void TestDaemon::serviceLines()
{
    QFETCH(QString, text);
    QFETCH(LinePriority, priority);
    QFETCH(bool, journal);

    const qint64 at =
        QDateTime::fromString(QStringLiteral("2026-12-07T09:42:13.020Z"), Qt::ISODateWithMs)
            .toMSecsSinceEpoch();
    QTEST(serviceLine(text, priority, journal, at), "line");
}

void TestDaemon::journalStream_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<qulonglong>("deviceOffset");
    QTest::addColumn<qulonglong>("inodeOffset");
    QTest::addColumn<bool>("journal");

    QTest::newRow("standard error's own device and inode") << "%1:%2" << 0ULL << 0ULL << true;
    QTest::newRow("another inode") << "%1:%2" << 0ULL << 1ULL << false;
    QTest::newRow("another device") << "%1:%2" << 1ULL << 0ULL << false;
    QTest::newRow("swapped") << "%2:%1" << 0ULL << 0ULL << false;
    QTest::newRow("no device") << ":%2" << 0ULL << 0ULL << false;
    QTest::newRow("a third field") << "%1:%2:0" << 0ULL << 0ULL << false;
    QTest::newRow("trailing letters") << "%1:%2x" << 0ULL << 0ULL << false;
    QTest::newRow("signed device") << "+%1:%2" << 0ULL << 0ULL << false;
    QTest::newRow("empty") << "" << 0ULL << 0ULL << false;
    QTest::newRow("unset") << QString() << 0ULL << 0ULL << false;
}

void TestDaemon::journalStream()
{
    QFETCH(QString, format);
    QFETCH(qulonglong, deviceOffset);
    QFETCH(qulonglong, inodeOffset);

    struct stat status;
    QCOMPARE(fstat(STDERR_FILENO, &status), 0);
    const QByteArray saved = qgetenv("JOURNAL_STREAM");
    setOrUnset("JOURNAL_STREAM", format.isNull()
                                     ? QByteArray()
                                     : format.arg(qulonglong(status.st_dev) + deviceOffset)
                                           .arg(qulonglong(status.st_ino) + inodeOffset)
                                           .toLatin1());
    const bool isJournal = stderrIsJournal();
    setOrUnset("JOURNAL_STREAM", saved.isEmpty() ? QByteArray() : saved);
    QTEST(isJournal, "journal");
}

// Each row's calls on one notifier in an environment that may name a watchdog; the interval the
// notifier reads from it is part of the row.
void TestDaemon::notifications_data()
{
    QTest::addColumn<QByteArray>("watchdogUsec");
    QTest::addColumn<QByteArray>("watchdogPid");
    QTest::addColumn<qint64>("intervalMs");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<QList<QByteArray>>("sent");

    const QByteArray none;
    const QByteArray tenSeconds("10000000");
    const QByteArray ourPid = QByteArray::number(qint64(getpid()));
    const QByteArray otherPid = QByteArray::number(qint64(getpid()) + 1);
    using Sent = QList<QByteArray>;

    QTest::newRow("a status cannot add an assignment")
        << none << none << 0LL << QStringList{"status"} << QStringLiteral("Bridge lost\nREADY=1")
        << Sent{"STATUS=Bridge lost\\nREADY=1"};
    QTest::newRow("a status cannot end early")
        << none << none << 0LL << QStringList{"status"} << QString::fromUtf8("MQTT: \0broker", 13)
        << Sent{"STATUS=MQTT: \\x00broker"};
    QTest::newRow("no watchdog, no ping")
        << none << ourPid << 0LL << QStringList{"ping"} << QString() << Sent{};
    QTest::newRow("watchdog without a pid")
        << tenSeconds << none << 10000LL << QStringList{"ping"} << QString() << Sent{"WATCHDOG=1"};
    QTest::newRow("watchdog of no number")
        << QByteArray("ten") << ourPid << 0LL << QStringList{"ping"} << QString() << Sent{};
    QTest::newRow("another process's watchdog")
        << tenSeconds << otherPid << 0LL << QStringList{"ping"} << QString() << Sent{};
    // Each call once, and a second ping within half the interval sends nothing.
    QTest::newRow("a life") << tenSeconds << ourPid << 10000LL
                            << QStringList{"status", "ready", "ping", "ping", "stopping"}
                            << QStringLiteral("Connecting")
                            << Sent{"STATUS=Connecting", "READY=1", "WATCHDOG=1", "STOPPING=1"};
    // A ping after half the interval is sent again, the next one within it is not.
    QTest::newRow("pings again after half the interval")
        << QByteArray("2000000") << none << 2000LL << QStringList{"ping", "wait", "ping", "ping"}
        << QString() << Sent{"WATCHDOG=1", "WATCHDOG=1"};
}

void TestDaemon::notifications()
{
    QFETCH(QByteArray, watchdogUsec);
    QFETCH(QByteArray, watchdogPid);
    QFETCH(qint64, intervalMs);
    QFETCH(QStringList, calls);
    QFETCH(QString, statusText);
    QFETCH(QList<QByteArray>, sent);

    setOrUnset("WATCHDOG_USEC", watchdogUsec);
    setOrUnset("WATCHDOG_PID", watchdogPid);
    QCOMPARE(DaemonNotifier::watchdogIntervalMs(), withSystemd ? intervalMs : qint64(0));
    DaemonNotifier notifier;
    for (const QString &call : calls) {
        if (call == QLatin1String("ready"))
            notifier.ready();
        else if (call == QLatin1String("status"))
            notifier.status(statusText);
        else if (call == QLatin1String("stopping"))
            notifier.stopping();
        else if (call == QLatin1String("ping"))
            notifier.watchdogPing();
        else if (call == QLatin1String("wait"))
            QTest::qWait(1020);
    }
    QCOMPARE(notifySocket->received(), withSystemd ? sent : QList<QByteArray>());
}

QTEST_GUILESS_MAIN(TestDaemon)
#include "tst_daemon.moc"
