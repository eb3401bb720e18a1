// The data log: which ticks become rows and the events they carry, the file as the writer thread
// leaves it (header once, appending, a full disk, a path renamed or removed under it), and the
// "Log to File..." action on the real window with its dialogs, its settings and its warning.
#include "brelkcontroltestaccess.h"
#include "csvformat.h"
#include "datalog.h"
#include "dialogdriver.h"
#include "fakecontroller.h"
#include "logschedule.h"
#include "logwriter.h"
#include "messagecapture.h"
#include "settingsfile.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

#include <memory>
#include <mutex>

using Access = BrelkControlTestAccess;
using Brelk::Reading;

namespace {

// The files handed to fsync, by the path their descriptor names; the log writer may sync from
// a thread of its own.
std::mutex syncedMutex;
QStringList syncedFiles;

int syncsOf(const QString &path)
{
    const std::lock_guard<std::mutex> lock(syncedMutex);
    return int(syncedFiles.count(QFileInfo(path).canonicalFilePath()));
}

// 2026-12-07 10:00:00.000 UTC: a whole minute, so offsets from it show the slot boundaries.
const qint64 Base = 1796637600000;

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

Reading readingAt(qint64 time, quint16 vmeasA, quint16 events = 0)
{
    Reading reading;
    reading.time = time;
    reading.serialNumber = 0x1234;
    reading.vset[0] = 1000;
    reading.vmeas[0] = vmeasA;
    reading.imeas[1] = 7;
    reading.events = events;
    return reading;
}

// Waits `ms` while the event loop runs, and tells whether a modal dialog came up meanwhile.
bool modalWithin(int ms)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < ms) {
        QTest::qWait(10);
        if (QApplication::activeModalWidget())
            return true;
    }
    return false;
}

QVariant setting(const char *key)
{
    return QSettings(settingsPath(), QSettings::IniFormat).value(QLatin1String(key));
}

} // namespace

// Records each sync to the disk where the program asks the system for it, and passes it on to
// the C library's fsync: this definition takes its place in the test program (the log writer is
// linked into it), so a sync the writer only counted, or one of another descriptor, is not taken
// for the log file's.
extern "C" int fsync(int fd)
{
    const QString file = QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(fd)).symLinkTarget();
    {
        const std::lock_guard<std::mutex> lock(syncedMutex);
        syncedFiles.append(file);
    }
    using Sync = int (*)(int);
    static const auto librarySync = reinterpret_cast<Sync>(dlsym(RTLD_NEXT, "fsync"));
    return librarySync ? librarySync(fd) : -1;
}

class TestDataLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void schedule_data();
    void schedule();
    void intervalSetting_data();
    void intervalSetting();

    void pathNoLongerNamesTheFile_data();
    void pathNoLongerNamesTheFile();
    void lastRowWhenTheLogStops_data();
    void lastRowWhenTheLogStops();
    void writerSyncsTheFile();

    void menuStartsAndStopsTheLog();
    void writeErrorWarnsOnceAndThePollGoesOn();
    void resumesAfterRestart_data();
    void resumesAfterRestart();
    void unopenableStoredFileWarnsAtStartUp();

private:
    // A window on an in-memory module whose ticks all complete.
    void openWindow();
    QAction *logAction() { return window->findChild<QAction *>("actionLogToFile"); }
    // Drives the file dialog to `path` (empty: Cancel), then the interval dialog to `interval`
    // (empty: Cancel), and triggers the action.
    void chooseLog(const QString &path, const QString &interval);

    QTemporaryDir dir;
    std::unique_ptr<BrelkControl> window;
    SeenDialog fileDialog;
    QFileDialog::Options fileDialogOptions;
    QString fileDialogName;
    SeenDialog intervalDialog;
};

void TestDataLog::initTestCase()
{
    qRegisterMetaType<Reading>();
    // A home of the test's own, with a documents folder for the suggested file name.
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("home/Documents")));
    qputenv("HOME", QFile::encodeName(dir.filePath(QStringLiteral("home"))));
}

void TestDataLog::init()
{
    QVERIFY(dir.isValid());
    QFile::remove(settingsPath());
}

void TestDataLog::cleanup()
{
    window.reset();
    QFile::remove(settingsPath());
}

// --- Row timing ---------------------------------------------------------------------------

void TestDataLog::schedule_data()
{
    QTest::addColumn<qint64>("interval");
    QTest::addColumn<QList<qint64>>("ticks");  // ms after Base
    QTest::addColumn<QList<int>>("offsets");   // the local clock's UTC offset per tick, s
    QTest::addColumn<QList<int>>("events");    // the module's event word per tick
    QTest::addColumn<QList<int>>("rows");      // ticks that get a row
    QTest::addColumn<QList<int>>("rowEvents"); // the events each row carries
    QTest::addColumn<int>("lastRowEvents");    // those of a last row when the log stops; 0: none

    const QList<int> zeros{0, 0, 0, 0, 0}; // the UTC offsets of ticks in UTC, or quiet events
    QTest::newRow("every tick, each its own events")
        << Brelk::EveryTick << QList<qint64>{0, 100, 170, 300, 400} << zeros
        << QList<int>{0x01, 0, 0x4000, 0x4000, 0} << QList<int>{0, 1, 2, 3, 4}
        << QList<int>{0x01, 0, 0x4000, 0x4000, 0} << 0;
    QTest::newRow("1 s: first tick, then the first at or after each second")
        << qint64(1000) << QList<qint64>{450, 950, 1049, 1999, 2000} << zeros << zeros
        << QList<int>{0, 2, 4} << QList<int>{0, 0, 0} << 0;
    QTest::newRow("60 s: an interval without a tick gets no row")
        << qint64(60000) << QList<qint64>{59900, 60100, 185000, 190000, 240000} << zeros << zeros
        << QList<int>{0, 1, 2, 4} << QList<int>{0, 0, 0, 0} << 0;
    // A local clock 19 min 32 s ahead of UTC puts the 10 s boundaries at UTC :08, :18, ...
    QTest::newRow("10 s on the local clock, not on UTC")
        << qint64(10000) << QList<qint64>{0, 7999, 8000, 10000, 18000}
        << QList<int>{1172, 1172, 1172, 1172, 1172} << zeros << QList<int>{0, 2, 4}
        << QList<int>{0, 0, 0} << 0;
    QTest::newRow("10 s, local clock behind UTC")
        << qint64(10000) << QList<qint64>{0, 1999, 2000, 10000, 12000}
        << QList<int>{-1172, -1172, -1172, -1172, -1172} << zeros << QList<int>{0, 2, 4}
        << QList<int>{0, 0, 0} << 0;
    QTest::newRow("60 s: end of daylight saving time does not halt the log for an hour")
        << qint64(60000) << QList<qint64>{0, 30000, 40000, 59999, 60000}
        << QList<int>{7200, 3600, 3600, 3600, 3600} << zeros << QList<int>{0, 1, 4}
        << QList<int>{0, 0, 0} << 0;
    QTest::newRow("1 s: events between rows are OR-ed into the next row")
        << qint64(1000) << QList<qint64>{0, 300, 600, 1000, 2000} << zeros
        << QList<int>{0x0080, 0x0040, 0x2002, 0x0001, 0} << QList<int>{0, 3, 4}
        << QList<int>{0x0080, 0x2043, 0} << 0;
    QTest::newRow("10 s: an event at the row's own tick belongs to that row")
        << qint64(10000) << QList<qint64>{0, 5000, 10000, 15000, 20000} << zeros
        << QList<int>{0x0020, 0, 0x1000, 0x0004, 0} << QList<int>{0, 2, 4}
        << QList<int>{0x0020, 0x1000, 0x0004} << 0;
    QTest::newRow("60 s: a TRP after the last row goes into a last row at the stop")
        << qint64(60000) << QList<qint64>{0, 10000, 30000, 40000, 50000} << zeros
        << QList<int>{0, 0, 0x0002, 0, 0x0080} << QList<int>{0} << QList<int>{0} << 0x0082;
}

void TestDataLog::schedule()
{
    QFETCH(qint64, interval);
    QFETCH(QList<qint64>, ticks);
    QFETCH(QList<int>, offsets);
    QFETCH(QList<int>, events);
    QFETCH(QList<int>, rows);
    QFETCH(QList<int>, rowEvents);
    QFETCH(int, lastRowEvents);

    Brelk::LogSchedule schedule(interval);
    QList<int> seenRows, seenEvents;
    for (int i = 0; i < ticks.size(); ++i) {
        quint16 carried = 0xFFFF;
        if (schedule.take(Base + ticks[i], offsets[i], quint16(events[i]), &carried)) {
            seenRows << i;
            seenEvents << carried;
        }
    }
    QCOMPARE(seenRows, rows);
    QCOMPARE(seenEvents, rowEvents);
    quint16 last = 0;
    QCOMPARE(schedule.finish(&last), lastRowEvents != 0);
    QCOMPARE(int(last), lastRowEvents);
    QVERIFY(!schedule.finish(&last));
}

void TestDataLog::intervalSetting_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<qint64>("interval");
    QTest::newRow("0.1") << "0.1" << Brelk::EveryTick;
    QTest::newRow("1") << "1" << qint64(1000);
    QTest::newRow("10") << "10" << qint64(10000);
    QTest::newRow("60") << "60" << qint64(60000);
    QTest::newRow("60.0") << "60.0" << qint64(60000);
    // Texts that name none of the intervals: a row every second.
    for (const char *text : {"", "5", "0,1", "tick"})
        QTest::newRow(*text ? text : "missing") << QString(text) << qint64(1000);
}

void TestDataLog::intervalSetting()
{
    QFETCH(QString, stored);
    QFETCH(qint64, interval);
    QCOMPARE(Brelk::logIntervalFromSetting(stored), interval);
    if (!stored.isEmpty() && interval != 1000)
        QCOMPARE(Brelk::logIntervalFromSetting(Brelk::logIntervalSetting(interval)), interval);
}

// --- The file -----------------------------------------------------------------------------

void TestDataLog::pathNoLongerNamesTheFile_data()
{
    QTest::addColumn<bool>("renamed"); // else removed, and another file put in its place
    QTest::newRow("renamed") << true;
    QTest::newRow("replaced") << false;
}

void TestDataLog::pathNoLongerNamesTheFile()
{
    QFETCH(bool, renamed);
    const QString path = dir.filePath(QStringLiteral("gone-%1.csv").arg(int(renamed)));
    const QString moved = dir.filePath(QStringLiteral("moved.csv"));
    DataLog log;
    QSignalSpy failed(&log, &DataLog::failed);
    log.start(path, Brelk::EveryTick);
    log.takeReading(readingAt(Base, 1));
    QTRY_COMPARE(fileLines(path).size(), 2);

    if (renamed) {
        QVERIFY(QFile::rename(path, moved));
    } else {
        QVERIFY(QFile::remove(path));
        QVERIFY(writeSettingsFile(path, "someone else's file\n"));
    }
    log.takeReading(readingAt(Base + 100, 2));
    log.takeReading(readingAt(Base + 200, 3));
    QTRY_COMPARE(failed.count(), 1);
    QCOMPARE(failed[0][0].toString(), path);
    QVERIFY(!log.isLogging());

    // The rows stay where they went; nothing is written to whatever the path names now.
    if (renamed)
        QCOMPARE(fileLines(moved).size(), 2);
    else
        QCOMPARE(fileLines(path), QStringList{"someone else's file"});
}

void TestDataLog::lastRowWhenTheLogStops_data()
{
    QTest::addColumn<QString>("stop");
    for (const char *stop : {"operator", "quit", "other file"})
        QTest::newRow(stop) << stop;
}

// A 60 s log stopped 40 s after its first row, which carries its own tick's QUA: a TRP in between
// reaches the file in one last row at the newest tick, whichever way the log stops.
void TestDataLog::lastRowWhenTheLogStops()
{
    QFETCH(QString, stop);
    const QString path = dir.filePath(QStringLiteral("last-%1.csv").arg(stop));
    const QString other = dir.filePath(QStringLiteral("next-%1.csv").arg(stop));
    const Reading first = readingAt(Base, 1000, 0x0080);
    const Reading tripped = readingAt(Base + 30000, 0, 0x0002);
    const Reading newest = readingAt(Base + 40000, 2);
    {
        DataLog log;
        log.start(path, 60000);
        for (const Reading &reading : {first, tripped, newest})
            log.takeReading(reading);
        if (stop == QLatin1String("operator"))
            log.stop();
        else if (stop == QLatin1String("other file"))
            log.start(other, 60000);
        QCOMPARE(log.isLogging(), stop != QLatin1String("operator"));
    }
    QCOMPARE(fileLines(path), (QStringList{Brelk::csvHeader(), Brelk::csvRow(first, 0x0080),
                                           Brelk::csvRow(newest, 0x0002)}));
    if (stop == QLatin1String("other file"))
        QCOMPARE(fileLines(other), QStringList{Brelk::csvHeader()});
}

// The file reaches the disk within the sync delay of a write, and once more when it is closed;
// a quiet file is not synced again and again.
void TestDataLog::writerSyncsTheFile()
{
    const QString path = dir.filePath(QStringLiteral("synced.csv"));
    LogWriter writer;
    writer.setSyncDelay(50);
    writer.open(1, path, QStringLiteral("header"));
    QCOMPARE(syncsOf(path), 0);
    QTRY_COMPARE(syncsOf(path), 1);
    writer.writeRow(1, QStringLiteral("row 1"));
    writer.writeRow(1, QStringLiteral("row 2"));
    QTRY_COMPARE(syncsOf(path), 2);
    QTest::qWait(200);
    QCOMPARE(syncsOf(path), 2);
    writer.writeRow(1, QStringLiteral("row 3"));
    writer.close(1);
    QCOMPARE(syncsOf(path), 3);
    QTest::qWait(200);
    QCOMPARE(syncsOf(path), 3);
    QCOMPARE(fileLines(path), (QStringList{"header", "row 1", "row 2", "row 3"}));
}

// --- The window ---------------------------------------------------------------------------

void TestDataLog::openWindow()
{
    window.reset(new BrelkControl);
    auto *bus = new FakeController;
    bus->recordCycles = false;
    bus->registers[0xDD3C] = 0x1234;
    Access::useController(*window, bus);
}

void TestDataLog::chooseLog(const QString &path, const QString &interval)
{
    fileDialog = SeenDialog();
    intervalDialog = SeenDialog();
    DialogDriver::onNextModal([this, path, interval](QWidget *widget) {
        auto *dialog = qobject_cast<QFileDialog *>(widget);
        if (!dialog) {
            widget->close();
            return;
        }
        fileDialog.shown = true;
        fileDialog.parent = dialog->parentWidget();
        fileDialogOptions = dialog->options();
        fileDialogName = dialog->directory().absoluteFilePath(
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text());
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        if (interval.isEmpty())
            DialogDriver::reject(&intervalDialog);
        else
            DialogDriver::acceptItem(interval, &intervalDialog);
        dialog->selectFile(path);
        // QFileDialog::accept() checks the name as the dialog's own button does.
        static_cast<QDialog *>(dialog)->accept();
    });
    logAction()->trigger();
}

void TestDataLog::menuStartsAndStopsTheLog()
{
    openWindow();
    QVERIFY(logAction());
    QVERIFY(logAction()->isCheckable());
    QCOMPARE(logAction()->text(), QStringLiteral("Log to File..."));
    QVERIFY(!logAction()->isChecked());

    // Cancel in either dialog starts nothing.
    const QString path = dir.filePath(QStringLiteral("menu.csv"));
    for (const bool inFileDialog : {true, false}) {
        chooseLog(inFileDialog ? QString() : path, QString());
        QVERIFY(fileDialog.shown);
        QCOMPARE(intervalDialog.shown, !inFileDialog);
        QVERIFY(!logAction()->isChecked());
        QVERIFY(!setting("LogFile").isValid());
        QVERIFY(!setting("LogInterval").isValid());
    }
    Access::tick(*window);
    QTest::qWait(50);
    QVERIFY(!QFile::exists(path));

    // An existing log is continued without asking about overwriting it.
    QSignalSpy readings(window.get(), &BrelkControl::readingTaken);
    QVERIFY(writeSettingsFile(path, Brelk::csvHeader().toUtf8() + "\nearlier row\n"));
    chooseLog(path, QStringLiteral("Every tick"));

    QVERIFY(fileDialog.shown);
    QCOMPARE(fileDialog.parent, window.get());
    QVERIFY(fileDialogOptions.testFlag(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(QFileInfo(fileDialogName).fileName(),
             QStringLiteral("brelk-%1.csv")
                 .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
    QCOMPARE(QFileInfo(fileDialogName).absolutePath(),
             QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    QVERIFY(intervalDialog.shown);
    QCOMPARE(intervalDialog.title, QStringLiteral("pavex BRELK Control"));
    QCOMPARE(intervalDialog.label, QStringLiteral("Log interval:"));
    QCOMPARE(intervalDialog.items, (QStringList{"Every tick", "1 s", "10 s", "60 s"}));
    QCOMPARE(intervalDialog.currentItem, QStringLiteral("1 s"));
    QVERIFY(!intervalDialog.editable);

    QVERIFY(logAction()->isChecked());
    QCOMPARE(setting("LogFile").toString(), QFileInfo(path).absoluteFilePath());
    QCOMPARE(setting("LogInterval").toString(), QStringLiteral("0.1"));

    QStringList expected{Brelk::csvHeader(), QStringLiteral("earlier row")};
    for (int i = 0; i < 3; ++i) {
        Access::tick(*window);
        const auto reading = readings.last().first().value<Reading>();
        expected << Brelk::csvRow(reading, reading.events);
    }
    QTRY_COMPARE(fileLines(path), expected);

    // Choosing the checked action again stops the log and forgets its file.
    logAction()->trigger();
    QVERIFY(!logAction()->isChecked());
    QVERIFY(!setting("LogFile").isValid());
    Access::tick(*window);
    QTest::qWait(100);
    QCOMPARE(fileLines(path).size(), 5);
}

void TestDataLog::writeErrorWarnsOnceAndThePollGoesOn()
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("needs a device that is always full");
    openWindow();
    QSignalSpy readings(window.get(), &BrelkControl::readingTaken);
    // The real poll timer runs: it must go on ticking while the warning is up.
    Access::timer(*window)->start();
    chooseLog(QStringLiteral("/dev/full"), QStringLiteral("Every tick"));

    SeenDialog warning;
    int readingsWhileWarning = -1;
    DialogDriver::onNextModal([&](QWidget *) {
        const int before = readings.count();
        QTest::qWait(350);
        readingsWhileWarning = readings.count() - before;
        DialogDriver::acceptMessageBox(&warning);
    });
    QTRY_VERIFY(warning.shown);
    QCOMPARE(warning.className, QStringLiteral("QMessageBox"));
    QCOMPARE(warning.title, QStringLiteral("pavex BRELK Control"));
    QVERIFY2(warning.text.contains(QStringLiteral("/dev/full")) &&
                 warning.text.contains(QStringLiteral("No space left on device")),
             qPrintable(warning.text));
    QVERIFY(readingsWhileWarning >= 2);
    QVERIFY(!logAction()->isChecked());

    // One warning only, and the poll keeps running.
    QVERIFY(!modalWithin(400));
    QVERIFY(Access::timer(*window)->isActive());
    const int count = readings.count();
    Access::tick(*window);
    QCOMPARE(readings.count(), count + 1);
}

void TestDataLog::resumesAfterRestart_data()
{
    QTest::addColumn<QString>("interval"); // as stored, and announced, in seconds
    QTest::addColumn<int>("rowsOfThreeTicks");
    QTest::newRow("every tick") << "0.1" << 3;
    QTest::newRow("1 s") << "1" << 1;
}

void TestDataLog::resumesAfterRestart()
{
    QFETCH(QString, interval);
    QFETCH(int, rowsOfThreeTicks);
    const QString path = dir.filePath(QStringLiteral("resumed-%1.csv").arg(interval));
    QVERIFY(writeSettingsFile(path, Brelk::csvHeader().toUtf8() + "\nbefore the restart\n"));
    QVERIFY(writeSettingsFile(settingsPath(), "[General]\nLogFile=" + path.toUtf8() +
                                                  "\nLogInterval=" + interval.toUtf8() + '\n'));
    {
        MessageCapture capture;
        openWindow();
        QCOMPARE(capture.linesStartingWith(QStringLiteral("Logging to")),
                 QStringList{QStringLiteral("Logging to %1 at an interval of %2 s")
                                 .arg(QDir::toNativeSeparators(path), interval)});
    }
    QVERIFY(logAction()->isChecked());
    // Three ticks inside one second (unless a second boundary falls between them).
    for (int i = 0; i < 3; ++i)
        Access::tick(*window);
    window.reset();
    const QStringList lines = fileLines(path);
    QCOMPARE(lines.count(Brelk::csvHeader()), 1);
    QCOMPARE(lines[1], QStringLiteral("before the restart"));
    QVERIFY2(lines.size() - 2 == rowsOfThreeTicks ||
                 (rowsOfThreeTicks == 1 && lines.size() - 2 == 2),
             qPrintable(lines.join('\n')));
    QCOMPARE(setting("LogFile").toString(), path);
}

void TestDataLog::unopenableStoredFileWarnsAtStartUp()
{
    const QString path = dir.filePath(QStringLiteral("unplugged/log.csv"));
    QVERIFY(writeSettingsFile(settingsPath(),
                              "[General]\nLogFile=" + path.toUtf8() + "\nLogInterval=10\n"));
    SeenDialog warning;
    DialogDriver::acceptMessageBox(&warning);
    openWindow();
    QSignalSpy readings(window.get(), &BrelkControl::readingTaken);
    QTRY_VERIFY(warning.shown);
    QVERIFY2(warning.text.contains(path), qPrintable(warning.text));
    QCOMPARE(warning.parent, window.get());
    QVERIFY(!logAction()->isChecked());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("unplugged"))));

    Access::tick(*window);
    QVERIFY(!modalWithin(300));
    QCOMPARE(readings.count(), 1);
}

QTEST_MAIN(TestDataLog)
#include "tst_datalog.moc"
