// What the panel survives away from the usual path: a settings file of any content, which it
// reads but never writes unless the operator accepts a settings dialog; and hundreds of
// reconnections alternating the two bridges on the module simulator, after which it holds no
// more memory, open files or loaded libraries than after the first few.
#include "brelkcontroltestaccess.h"
#include "dialogdriver.h"
#include "messagecapture.h"
#include "processfigures.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStatusBar>
#include <QtTest>

#include <memory>
#include <random>

using Access = BrelkControlTestAccess;

namespace {

QString settingsPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/brelkcontrol.ini");
}

// Each planted file gets a modification time no run of this test can produce, so that any
// rewrite shows. The times differ from file to file: the toolkit keeps a parsed settings file
// while its time and size stay the same, and two rows' files may have the same size.
QDateTime plantedTime;

void removeSettings()
{
    QFile::remove(settingsPath());
    QDir().rmdir(settingsPath());
}

bool plantSettings(const QByteArray &contents)
{
    QFile file(settingsPath());
    plantedTime = plantedTime.isValid() ? plantedTime.addSecs(1)
                                        : QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    // Flushed first: writing out the buffer at close would move the time again.
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() &&
           file.flush() && file.setFileTime(plantedTime, QFileDevice::FileModificationTime);
}

QByteArray settingsContents()
{
    QFile file(settingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool settingsUntouched(const QByteArray &contents)
{
    const QFileInfo info(settingsPath());
    return info.isFile() && info.lastModified() == plantedTime && settingsContents() == contents;
}

QByteArray binaryGarbage()
{
    std::mt19937 random(7u);
    QByteArray bytes(4096, '\0');
    for (char &byte : bytes)
        byte = char(random() % 256);
    bytes[100] = '\0';
    bytes[101] = '\n';
    return bytes;
}

int environmentCount(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

} // namespace

class TestReliability : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void badSettingsFile_data();
    void badSettingsFile();
    void settingsDialogs_data();
    void settingsDialogs();
    void reconnects();

private:
    std::unique_ptr<BrelkControl> window;
};

void TestReliability::initTestCase()
{
    // No loader is kept here: the reconnection test counts the libraries that stay loaded.
    QLibrary simulator("libxxusb");
    QVERIFY2(simulator.load(), "the module simulator is not on the library search path");
    simulator.unload();
}

void TestReliability::init()
{
    removeSettings();
}

void TestReliability::cleanup()
{
    window.reset();
    QLoggingCategory::setFilterRules(QString());
    removeSettings();
}

void TestReliability::badSettingsFile_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("directory"); // the settings path is a folder: nothing can be read
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("debugLine");

    const QString fallback = QStringLiteral("BaseAddress: 0xDD00");
    QTest::newRow("binary garbage") << binaryGarbage() << false << 0xDD00 << fallback;
    QTest::newRow("1 MB of digits") << "BaseAddress=" + QByteArray(1 << 20, '7') + '\n'
                                    << false << 0xDD00 << fallback;
    QTest::newRow("1 MB of leading zeros") << "BaseAddress=" + QByteArray(1 << 20, '0') + "100\n"
                                           << false << 0x40 << "BaseAddress: 0x40";
    // Numbers outside the A16 space would reach the bus as wider addresses.
    QTest::newRow("largest int") << QByteArray("BaseAddress=0x7FFFFFFF\n") << false << 0xDD00
                                 << fallback;
    QTest::newRow("0xFFFFFFFF") << QByteArray("BaseAddress=0xFFFFFFFF\n") << false << 0xDD00
                                << fallback;
    QTest::newRow("20 digits") << QByteArray("BaseAddress=99999999999999999999\n") << false
                               << 0xDD00 << fallback;
    // The toolkit's INI reading decides the rest: the last of two keys counts, [General] is the
    // top level, a key in another group or under an escaped name is not "BaseAddress".
    QTest::newRow("duplicate keys") << QByteArray("BaseAddress=0x1000\nBaseAddress=0x2000\n")
                                    << false << 0x2000 << "BaseAddress: 0x2000";
    QTest::newRow("[General] group") << QByteArray("[General]\nBaseAddress=0x1000\n") << false
                                     << 0x1000 << "BaseAddress: 0x1000";
    QTest::newRow("another group")
        << QByteArray("[Crate]\nBaseAddress=0x1000\n") << false << 0xDD00 << fallback;
    QTest::newRow("key with an invalid escape")
        << QByteArray("Base%GGAddress=0x1000\n") << false << 0xDD00 << fallback;
    QTest::newRow("value with an unknown escape")
        << QByteArray("BaseAddress=0x1\\q00\n") << false << 0x100 << "BaseAddress: 0x100";
    QTest::newRow("unterminated quote")
        << QByteArray("BaseAddress=\"0x1000\n") << false << 0x1000 << "BaseAddress: 0x1000";
    QTest::newRow("list value") << QByteArray("BaseAddress=0x1000, 0x2000\n") << false << 0xDD00
                                << fallback;
    // Not numbers under the prefix rule, though Qt 6's own parser would read them: it ends a
    // number at a NUL character and takes "0b" after a sign as binary.
    QTest::newRow("NUL inside the value")
        << QByteArray("BaseAddress=0x1000\0\x01\xff\n", 22) << false << 0xDD00 << fallback;
    QTest::newRow("signed binary")
        << QByteArray("BaseAddress=-0b101\n") << false << 0xDD00 << fallback;
    QTest::newRow("plus-signed binary")
        << QByteArray("BaseAddress=+0b100\n") << false << 0xDD00 << fallback;
    QTest::newRow("unreadable") << QByteArray() << true << 0xDD00 << fallback;
}

void TestReliability::badSettingsFile()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, directory);
    QFETCH(int, address);
    QFETCH(QString, debugLine);

    if (directory)
        QVERIFY(QDir().mkdir(settingsPath()));
    else
        QVERIFY(plantSettings(contents));

    QStringList lines;
    {
        MessageCapture capture;
        window.reset(new BrelkControl);
        lines = capture.linesStartingWith(QStringLiteral("BaseAddress:"));
    }
    QCOMPARE(Access::baseAddress(*window), address);
    QCOMPARE(lines, QStringList{debugLine});

    // Whatever the address, a tick on the simulated bridge goes through.
    Access::tick(*window);
    window.reset();

    if (directory) {
        QVERIFY(QFileInfo(settingsPath()).isDir());
        QVERIFY(QDir(settingsPath()).isEmpty());
    } else {
        QVERIFY2(settingsUntouched(contents), "the settings file was written");
    }
}

void TestReliability::settingsDialogs_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("item");

    // The accepted rows show that a write would be seen by the comparison.
    QTest::newRow("module address cancelled") << "actionModule_Address" << false << QString();
    QTest::newRow("controller cancelled") << "actionVME_Controller" << false << QString();
    QTest::newRow("module address accepted") << "actionModule_Address" << true << "0xDD00";
    QTest::newRow("controller accepted") << "actionVME_Controller" << true << "CAEN V1718";
}

// The file keeps its unusable address until the operator picks one; a negative address and one
// beyond the dialog's list must not upset the dialog either.
void TestReliability::settingsDialogs()
{
    QFETCH(QString, action);
    QFETCH(bool, accept);
    QFETCH(QString, item);

    for (const QByteArray &stored : {QByteArray("crate slot 3"), QByteArray("-256"),
                                     QByteArray("0x1DD00"), QByteArray("0xFF00")}) {
        const QByteArray contents = "BaseAddress=" + stored + "\nVmeController=VM-USB\n";
        QVERIFY(plantSettings(contents));
        window.reset(new BrelkControl);
        if (accept)
            DialogDriver::acceptItem(item);
        else
            DialogDriver::reject();
        window->findChild<QAction *>(action)->trigger();
        window.reset();
        QVERIFY2(settingsUntouched(contents) != accept,
                 qPrintable("BaseAddress=" + stored + ": " + settingsContents()));
    }
}

void TestReliability::reconnects()
{
    if (ProcessFigures::loadedObjectCount() < 0)
        QSKIP("process figures are known on Linux only");
    // Each connection prints its library's entry points; hundreds of them only hide the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));

    const int total = environmentCount("BRELK_RECONNECTS", 200);
    const int warmUp = 10;
    const QString items[2] = {QStringLiteral("CAEN V1718"), QStringLiteral("Wiener VM-USB")};
    window.reset(new BrelkControl);
    QCOMPARE(Access::controller(*window)->name(), items[1]);
    QAction *const action = window->findChild<QAction *>("actionVME_Controller");

    qint64 resident = 0;
    int files = 0, objects = 0, vendorLibraries = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    UnexpectedBoxes boxes;
    for (int n = 1; n <= total; ++n) {
        const QString &item = items[n % 2];
        DialogDriver::acceptItem(item);
        action->trigger();
        QVERIFY2(boxes.texts().isEmpty(), qPrintable(boxes.texts().join('\n')));
        QCOMPARE(Access::controller(*window)->name(), item);
        QVERIFY2(Access::timer(*window)->isActive(), qPrintable(QString::number(n)));
        Access::tick(*window);
        QCOMPARE(window->statusBar()->currentMessage(),
                 QStringLiteral("Module serial number 2101"));
        if (n == warmUp) {
            resident = ProcessFigures::residentKilobytes();
            files = ProcessFigures::openFileCount();
            objects = ProcessFigures::loadedObjectCount();
            vendorLibraries = ProcessFigures::loadedObjectCount("libxxusb") +
                              ProcessFigures::loadedObjectCount("CAENVMElib");
        }
    }
    const qint64 residentGrowth = ProcessFigures::residentKilobytes() - resident;
    const int fileGrowth = ProcessFigures::openFileCount() - files;
    const int objectGrowth = ProcessFigures::loadedObjectCount() - objects;
    const int vendorLibrariesAtEnd = ProcessFigures::loadedObjectCount("libxxusb") +
                                     ProcessFigures::loadedObjectCount("CAENVMElib");
    qInfo("reconnects: %d in %lld ms; from reconnect %d to the end: VmRSS %+lld kB (from %lld kB), "
          "open files %+d (from %d), loaded objects %+d (from %d), vendor libraries loaded %d "
          "(%d after reconnect %d)",
          total, elapsed.elapsed(), warmUp, residentGrowth, resident, fileGrowth, files,
          objectGrowth, objects, vendorLibrariesAtEnd, vendorLibraries, warmUp);

    QCOMPARE(fileGrowth, 0);
    QCOMPARE(objectGrowth, 0);
    // The backend that was replaced has unloaded its library.
    QCOMPARE(vendorLibrariesAtEnd, 1);
    if (ProcessFigures::sanitizerHoldsFreedMemory())
        QSKIP("the address sanitizer's quarantine makes resident memory grow by design");
    QVERIFY2(residentGrowth < 1024,
             qPrintable(QStringLiteral("grew by %1 kB").arg(residentGrowth)));
}

QTEST_MAIN(TestReliability)
#include "tst_reliability.moc"
