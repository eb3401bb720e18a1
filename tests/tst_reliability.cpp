// What the panel survives away from the usual path: a settings file with an address it cannot
// use, which it never writes unless the operator accepts a settings dialog; and hundreds of
// reconnections alternating the two bridges on the module simulator, after which it holds no
// more memory, open files or loaded libraries than after the first few.
#include "brelkcontroltestaccess.h"
#include "dialogdriver.h"
#include "messagecapture.h"
#include "processfigures.h"
#include "settingsfile.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStatusBar>
#include <QtTest>

#include <memory>

using Access = BrelkControlTestAccess;

class TestReliability : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

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
    QFile::remove(settingsPath());
}

void TestReliability::cleanup()
{
    window.reset();
    QLoggingCategory::setFilterRules(QString());
    QFile::remove(settingsPath());
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
        QVERIFY(writeSettingsFile(settingsPath(), contents));
        const QDateTime planted = QFileInfo(settingsPath()).lastModified();
        window.reset(new BrelkControl);
        if (accept)
            DialogDriver::acceptItem(item);
        else
            DialogDriver::reject();
        window->findChild<QAction *>(action)->trigger();
        window.reset();
        // Written neither in its contents nor in its time.
        const bool untouched =
            QFileInfo(settingsPath()).lastModified() == planted && readSettingsFile() == contents;
        QVERIFY2(untouched != accept,
                 qPrintable("BaseAddress=" + stored + ": " + readSettingsFile()));
    }
}

void TestReliability::reconnects()
{
    if (ProcessFigures::loadedObjectCount() < 0)
        QSKIP("process figures are known on Linux only");
    // Each connection prints its library's entry points; hundreds of them only hide the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));

    const int asked = qEnvironmentVariableIntValue("BRELK_RECONNECTS");
    const int total = asked > 0 ? asked : 200;
    const int warmUp = 10;
    const QString items[2] = {QStringLiteral("CAEN V1718"), QStringLiteral("Wiener VM-USB")};
    window.reset(new BrelkControl);
    QCOMPARE(Access::controller(*window)->name(), items[1]);
    QAction *const action = window->findChild<QAction *>("actionVME_Controller");

    qint64 resident = 0;
    int files = 0, objects = 0;
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
        }
    }
    const qint64 residentGrowth = ProcessFigures::residentKilobytes() - resident;
    const int fileGrowth = ProcessFigures::openFileCount() - files;
    const int objectGrowth = ProcessFigures::loadedObjectCount() - objects;
    const int vendorLibrariesAtEnd = ProcessFigures::loadedObjectCount("libxxusb") +
                                     ProcessFigures::loadedObjectCount("CAENVMElib");
    qInfo("reconnects: %d in %lld ms; from reconnect %d to the end: VmRSS %+lld kB (from %lld kB), "
          "open files %+d (from %d), loaded objects %+d (from %d)",
          total, elapsed.elapsed(), warmUp, residentGrowth, resident, fileGrowth, files,
          objectGrowth, objects);

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
