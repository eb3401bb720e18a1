// The service's executable as a crate PC runs it, against the module simulator: a bridge that is
// missing at start and one that is unplugged and plugged back in while running, what it tells
// systemd, the lines it writes once, the data log's last row at SIGINT, and a stop within 2 s with
// eight modules whose broker never answers.
#include "loopback.h"
#include "notifysocket.h"
#include "settingsfile.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <sys/types.h>

namespace {

QStringList linesOf(const QByteArray &output)
{
    return QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The lines that end with `text` after the time stamp.
int count(const QStringList &lines, const QString &text)
{
    int found = 0;
    for (const QString &line : lines)
        found += line.endsWith(QLatin1Char(' ') + text);
    return found;
}

} // namespace

class TestService : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void bridgeMissingThenUnpluggedAndReplugged();
    void stopsWithinTwoSecondsWhenTheBrokerNeverAnswers();

private:
    void start(const QByteArray &settings, const QProcessEnvironment &extra);
    // Until `text` has ended `times` lines of standard error so far.
    bool waitForLine(const QString &text, int timeoutMs, int times = 1);

    QTemporaryDir folder;
    QProcess service;
    QByteArray output;
};

void TestService::init()
{
    output.clear();
}

void TestService::cleanup()
{
    if (service.state() != QProcess::NotRunning) {
        service.kill();
        service.waitForFinished(5000);
    }
}

void TestService::start(const QByteArray &settings, const QProcessEnvironment &extra)
{
    const QString ini = folder.filePath(QStringLiteral("service.ini"));
    QVERIFY(writeSettingsFile(ini, settings));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(BRELK_SIM_DIR));
    for (const QString &key : extra.keys())
        environment.insert(key, extra.value(key));
    service.setProcessEnvironment(environment);
    service.start(QStringLiteral(BRELK_SERVICE_EXECUTABLE), {QStringLiteral("--settings"), ini});
    QVERIFY(service.waitForStarted(5000));
}

bool TestService::waitForLine(const QString &text, int timeoutMs, int times)
{
    return QTest::qWaitFor(
        [&] {
            output += service.readAllStandardError();
            return count(linesOf(output), text) >= times;
        },
        timeoutMs);
}

// A USB bridge that is not there at start is tried every 10 s; one unplugged while running is
// closed after 3 s of failed ticks and reopened every 10 s; in both cases the crate carries on as
// at start, and the data log goes on in the same file to its last row at SIGINT.
void TestService::bridgeMissingThenUnpluggedAndReplugged()
{
    const QString unplug = folder.filePath(QStringLiteral("unplugged"));
    const QString csv = folder.filePath(QStringLiteral("log.csv"));
    QFile cord(unplug);
    QVERIFY(cord.open(QIODevice::WriteOnly));
    cord.close();
    NotifySocket socket(folder.filePath(QStringLiteral("notify")));
    QVERIFY(socket.isBound());
    QStringList sent;
    // Every assignment the service sent so far, one per line of each datagram.
    const auto systemd = [&socket, &sent] {
        for (const QByteArray &datagram : socket.received())
            sent += QString::fromUtf8(datagram).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return sent;
    };
    QProcessEnvironment extra;
    extra.insert(QStringLiteral("BRELKSIM_UNPLUG_FILE"), unplug);
    extra.insert(QStringLiteral("NOTIFY_SOCKET"), folder.filePath(QStringLiteral("notify")));
    start("[General]\nVmeController=VM-USB\nLogFile=" + csv.toUtf8() + "\nLogInterval=1\n", extra);

    const QString refused =
        QStringLiteral("Could not init VME controller Wiener VM-USB! Trying again in 10 s.");
    QVERIFY2(waitForLine(refused, 5000), output.constData());
    QTRY_VERIFY_WITH_TIMEOUT(systemd().contains(QStringLiteral("READY=1")), 2000);
    QVERIFY(systemd().contains(QStringLiteral(
        "STATUS=Could not open VME controller Wiener VM-USB; trying again every 10 s")));
    QFile::remove(unplug);
    QVERIFY2(waitForLine(QStringLiteral("Module serial number 2101"), 12000), output.constData());
    QVERIFY(systemd().contains(QStringLiteral("STATUS=Polling 1 module via Wiener VM-USB")));

    // Ticks go on for a second; the serial number is said once, not at every tick.
    QTest::qWait(1000);
    QVERIFY(cord.open(QIODevice::WriteOnly));
    cord.close();
    QElapsedTimer lost;
    lost.start();
    QVERIFY2(waitForLine(QStringLiteral("Bridge lost; reopening every 10 s"), 6000),
             output.constData());
    QVERIFY2(lost.elapsed() >= 2500, qPrintable(QString::number(lost.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(systemd().contains(QStringLiteral("STATUS=Bridge lost; reopening")),
                             2000);
    QFile::remove(unplug);
    QVERIFY2(waitForLine(QStringLiteral("Connected to VME controller Wiener VM-USB!"), 12000, 2),
             output.constData());
    QVERIFY2(waitForLine(QStringLiteral("Module serial number 2101"), 2000, 2), output.constData());
    QTest::qWait(1500);

    const qint64 interrupted = QDateTime::currentMSecsSinceEpoch();
    QCOMPARE(::kill(pid_t(service.processId()), SIGINT), 0);
    QVERIFY(service.waitForFinished(5000));
    output += service.readAllStandardError();
    QCOMPARE(service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.exitCode(), 0);

    const QStringList lines = linesOf(output);
    QCOMPARE(count(lines, QStringLiteral("Module serial number 2101")), 2);
    QCOMPARE(count(lines, QStringLiteral("Bridge lost; reopening every 10 s")), 1);
    QCOMPARE(count(lines, QStringLiteral("Logging to %1 at an interval of 1 s").arg(csv)), 1);
    QCOMPARE(count(lines, QStringLiteral("Stopping on signal 2")), 1);

    QFile log(csv);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = log.readAll().trimmed().split('\n');
    QVERIFY2(rows.size() >= 5, qPrintable(QString::number(rows.size())));
    const QDateTime last =
        QDateTime::fromString(QString::fromUtf8(rows.last().split(',').first()), Qt::ISODateWithMs);
    QVERIFY(last.isValid());
    // The row of the stop itself, not the last whole second before it.
    QVERIFY2(interrupted - last.toMSecsSinceEpoch() < 500,
             qPrintable(QString::number(interrupted - last.toMSecsSinceEpoch())));
}

// Every module's publisher waits on a broker that never answers; they leave together, so eight
// modules stop as fast as one.
void TestService::stopsWithinTwoSecondsWhenTheBrokerNeverAnswers()
{
    // A broker that never answers.
    HungListener broker;
    QVERIFY(broker.filled);
    QByteArray settings = "[General]\nVmeController=VM-USB\nMqttHost=127.0.0.1\nMqttPort=" +
                          QByteArray::number(broker.port) + "\n";
    QStringList addresses{QStringLiteral("0xDD00")};
    for (int module = 1; module < 8; ++module) {
        const QByteArray address = QByteArray::number(0xD000 + module * 0x100, 16).toUpper();
        addresses << QStringLiteral("0x") + QString::fromLatin1(address);
        settings += "[Module_" + address + "]\n";
    }
    QProcessEnvironment extra;
    extra.insert(QStringLiteral("BRELKSIM_MODULES"), addresses.join(QLatin1Char(',')));
    start(settings, extra);
    QVERIFY2(waitForLine(QStringLiteral("0xD700: Module serial number 2108"), 5000),
             output.constData());
    QTest::qWait(500);

    QElapsedTimer stopping;
    stopping.start();
    service.terminate();
    QVERIFY(service.waitForFinished(10000));
    const qint64 stopMs = stopping.elapsed();
    output += service.readAllStandardError();
    QCOMPARE(service.exitCode(), 0);
    QVERIFY2(stopMs < 2000, qPrintable(QString::number(stopMs) + "\n" + output));
}

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
