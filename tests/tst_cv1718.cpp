// The CAEN V1718 backend against the simulator's stand-in for CAEN's library, and against a
// library that is missing or incomplete. Which of these the program tests depends on the library
// search path it was started with, named in BRELK_LIBRARY_SETUP.
#include "backendcyclestatus.h"
#include "backendexpectations.h"
#include "backendwithoutlibrary.h"
#include "cv1718.h"
#include "messagecapture.h"
#include "simcontrol.h"

#include <QtTest>

namespace {

const quint32 base = 0xDD00;
const int am = 0x29;
const char libraryName[] = "CAENVMElib";

// The lines the backend prints while it loads `library`, the library it loads itself.
QStringList expectedLoadingLines(QLibrary &library)
{
    return loadingLines(library, {
                                     {"CAENVME_SWRelease", "softwareRelease = %p"},
                                     {"CAENVME_Init", "init = %p"},
                                     {"CAENVME_End", "end = %p"},
                                     {"CAENVME_BoardFWRelease", "boardFirmwareRelease = %p"},
                                     {"CAENVME_ReadCycle", "readCycle = %p"},
                                     {"CAENVME_WriteCycle", "writeCycle = %p"},
                                     {"CAENVME_SetTimeout", "setTimeout = %p"},
                                     {"CAENVME_SystemReset", "systemReset = %p"},
                                 });
}

} // namespace

// The stand-in is on the library search path.
class TestCV1718 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(sim.isLoaded()); }
    void init() { sim.reset(); }

    void constructionReportsEveryEntryPointAndTheVersion()
    {
        QLibrary probe(libraryName);
        QVERIFY(probe.load());
        MessageCapture debug;
        CV1718 controller;
        QCOMPARE(debug.lines(), expectedLoadingLines(probe)
                                    << QStringLiteral("softwareRelease returns: SIM-1.0"));
        QCOMPARE(controller.errorString(), QString());
    }

    void open_data()
    {
        QTest::addColumn<QString>("bridges");
        QTest::addColumn<bool>("noHandle");
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("opened");

        QTest::newRow("first bridge") << "1" << false << 0 << true;
        QTest::newRow("second bridge") << "2" << false << 1 << true;
        QTest::newRow("no bridge") << "0" << false << 0 << false;
        QTest::newRow("index past the bridges") << "1" << false << 1 << false;
        QTest::newRow("bridge refuses to open") << "1" << true << 0 << false;
    }

    void open()
    {
        QFETCH(QString, bridges);
        QFETCH(bool, noHandle);
        QFETCH(int, index);
        QFETCH(bool, opened);
        QVERIFY(sim.configure("BRELKSIM_BRIDGES", bridges));
        QVERIFY(sim.configure("BRELKSIM_OPEN_NO_HANDLE", noHandle ? "on" : "off"));

        CV1718 controller;
        QCOMPARE(controller.open(index), opened);
        // Only a library that fails to load leaves an error text.
        QCOMPARE(controller.errorString(), QString());
        // close reports whether the library ended a connection.
        QCOMPARE(controller.close(), opened);
    }

    // CAEN hands out handle 0 for the first bridge; a close that skipped it would leave the
    // bridge open, and the next open would fail. Cycles after the close still reach the library,
    // which refuses them.
    void cyclesInCallOrderUntilClosed()
    {
        CV1718 controller;
        QCOMPARE(controller.name(), QStringLiteral("CAEN V1718"));
        const QString info = QStringLiteral("CAEN VME library version SIM-1.0");
        QCOMPARE(controller.infoString(), info);
        QVERIFY(controller.open(0));
        QCOMPARE(controller.infoString(), info);
        int status = 12345;
        controller.systemReset(&status);
        QCOMPARE(status, 0);
        controller.systemReset();
        controller.write16(base + 0x34, am, 1500);
        QCOMPARE(controller.read16(base + 0x04, am), quint16(1500));
        QCOMPARE(controller.read16(base + 0x3C, am), quint16(0x2101));
        QVERIFY(controller.close());
        QVERIFY(!controller.close());

        controller.read16(base + 0x3C, am, &status);
        QCOMPARE(status, -4);
        controller.write16(base + 0x34, am, 100, &status);
        QCOMPARE(status, -4);
        controller.systemReset(&status);
        QCOMPARE(status, -4);
        const QVector<SimControl::Cycle> expected{
            writeCycle(base + 0x34, 1500, 0), readCycle(base + 0x04, 1500, 0),
            readCycle(base + 0x3C, 0x2101, 0), readCycle(base + 0x3C, 0xFFFF, -4),
            writeCycle(base + 0x34, 100, -4)};
        QCOMPARE(sim.cycles(), expected);
        QVERIFY(controller.open(0));
        QVERIFY(controller.close());
    }

    // CAEN delivers no word on a failed link; the backend's word is that of an unanswered read.
    void cycleStatus_data() { cycleStatusRows(0, -1, -2, 0xFFFF); }

    void cycleStatus()
    {
        CV1718 controller;
        checkCycleStatus(controller, sim);
    }

private:
    SimControl sim{libraryName};
};

// Only the file name CAEN's Linux installation uses is on the search path.
class TestCV1718LinuxFileName : public QObject
{
    Q_OBJECT

private slots:
    void loadsUnderTheLinuxName()
    {
        MessageCapture debug;
        CV1718 controller;
        QVERIFY(!debug.lines().isEmpty());
        QVERIFY2(debug.lines().first().endsWith(QLatin1String("libCAENVME.so\" loaded")),
                 qPrintable(debug.lines().first()));
        QCOMPARE(debug.lines().last(), QStringLiteral("softwareRelease returns: SIM-1.0"));
        QCOMPARE(controller.errorString(), QString());
        QVERIFY(controller.open(0));
        int status = 12345;
        QCOMPARE(controller.read16(base + 0x3C, am, &status), quint16(0x2101));
        QCOMPARE(status, 0);
        QVERIFY(controller.close());
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const BackendFacts facts{libraryName,
                             [] { return new CV1718; },
                             expectedLoadingLines,
                             QStringLiteral("CAEN V1718"),
                             QStringLiteral("Not connected to CAEN VME library!"),
                             false,
                             -3,
                             0xFFFF,
                             true};
    const QByteArray setup = qgetenv("BRELK_LIBRARY_SETUP");
    if (setup == "absent" || setup == "incomplete") {
        BackendWithoutLibrary test(facts, setup == "incomplete");
        return QTest::qExec(&test, argc, argv);
    }
    if (setup == "fallback") {
        TestCV1718LinuxFileName test;
        return QTest::qExec(&test, argc, argv);
    }
    TestCV1718 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cv1718.moc"
