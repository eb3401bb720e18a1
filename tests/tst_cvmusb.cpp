// The Wiener VM-USB backend against the simulator's stand-in for the xxusb library, and against
// a library that is missing or incomplete. Which of these the program tests depends on the
// library search path it was started with, named in BRELK_LIBRARY_SETUP.
#include "backendcyclestatus.h"
#include "backendexpectations.h"
#include "backendwithoutlibrary.h"
#include "cv1718.h"
#include "cvmusb.h"
#include "messagecapture.h"
#include "processfigures.h"
#include "simcontrol.h"

#include <QtTest>

namespace {

const quint32 base = 0xDD00;
const int am = 0x29;
const char libraryName[] = "libxxusb";
// Bytes moved by a D16 cycle: the stand-in's status for success, as the genuine library's.
const int done = 2;

// The lines the backend prints while it loads `library`, the library it loads itself.
QStringList expectedLoadingLines(QLibrary &library)
{
    return loadingLines(library, {
                                     {"xxusb_devices_find", "xxusbDevicesFind = %p"},
                                     {"xxusb_device_open", "xxusbDeviceOpen = %p"},
                                     {"xxusb_device_close", "xxusbDeviceClose = %p"},
                                     {"xxusb_register_read", "xxusbRegisterRead = %p"},
                                     {"VME_read_16", "vmeRead16 = %p"},
                                     {"VME_write_16", "vmeWrite16 = %p"},
                                 });
}

} // namespace

// The stand-in is on the library search path.
class TestCVmUsb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(sim.isLoaded()); }
    void init() { sim.reset(); }

    void constructionReportsEveryEntryPoint()
    {
        QLibrary probe(libraryName);
        QVERIFY(probe.load());
        MessageCapture debug;
        CVmUsb controller;
        QCOMPARE(debug.lines(), expectedLoadingLines(probe));
        QCOMPARE(controller.errorString(), QString());
    }

    void open_data()
    {
        QTest::addColumn<QString>("bridges");
        QTest::addColumn<bool>("noHandle");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("said"); // the debug line of the opened bridge, or the error

        // The firmware register of the stand-in reads "SIM" and revision 1.
        QTest::newRow("first bridge") << "1" << false << 0 << "VM-USB sn. \"SIM001\" FW 1397312769";
        QTest::newRow("second bridge")
            << "2" << false << 1 << "VM-USB sn. \"SIM002\" FW 1397312769";
        QTest::newRow("no bridge") << "0" << false << 0 << "No VM-USB controller # 0 found!";
        QTest::newRow("index past the bridges")
            << "1" << false << 1 << "No VM-USB controller # 1 found!";
        QTest::newRow("negative index") << "1" << false << -1 << "No VM-USB controller # -1 found!";
        QTest::newRow("bridge gives no handle")
            << "1" << true << 0 << "VM-USB controller # 0 (sn. SIM001) could not be opened!";
    }

    void open()
    {
        QFETCH(QString, bridges);
        QFETCH(bool, noHandle);
        QFETCH(int, index);
        QFETCH(QString, said);
        QVERIFY(sim.configure("BRELKSIM_BRIDGES", bridges));
        QVERIFY(sim.configure("BRELKSIM_OPEN_NO_HANDLE", noHandle ? "on" : "off"));

        CVmUsb controller;
        MessageCapture debug;
        const bool opened = said.startsWith(QLatin1String("VM-USB sn."));
        QCOMPARE(controller.open(index), opened);
        QCOMPARE(debug.lines(), opened ? QStringList{said} : QStringList());
        QCOMPARE(controller.errorString(), opened ? QString() : said);
        if (!opened)
            refusedWithoutDevice(controller);
        QVERIFY(controller.close());
    }

    // The library takes the address modifier before the address; a swap shows in the log. A
    // closed bridge keeps its serial in the info text, ends every cycle, and opens again.
    void cyclesInCallOrderUntilClosed()
    {
        CVmUsb controller;
        QCOMPARE(controller.name(), QStringLiteral("Wiener VM-USB"));
        QCOMPARE(controller.infoString(), QStringLiteral("Connected to VME controller "));
        QVERIFY(controller.open(0));
        const QString info = QStringLiteral("Connected to VME controller SIM001");
        QCOMPARE(controller.infoString(), info);
        int status = 12345;
        controller.systemReset(&status);
        QCOMPARE(status, 12345);
        controller.systemReset();
        controller.write16(base + 0x34, am, 1500);
        QCOMPARE(controller.read16(base + 0x04, am), quint16(1500));
        QCOMPARE(controller.read16(base + 0x3C, am), quint16(0x2101));
        const QVector<SimControl::Cycle> expected{writeCycle(base + 0x34, 1500, done),
                                                  readCycle(base + 0x04, 1500, done),
                                                  readCycle(base + 0x3C, 0x2101, done)};
        QCOMPARE(sim.cycles(), expected);
        QVERIFY(controller.close());
        QVERIFY(controller.close());
        QCOMPARE(controller.infoString(), info);
        sim.clearLog();
        refusedWithoutDevice(controller);
        QVERIFY(controller.open(0));
        QVERIFY(controller.close());
    }

    // VM-USB delivers nothing on a failed link, so the word is the 0 its backend started with.
    void cycleStatus_data() { cycleStatusRows(done, -5, -110, 0); }

    void cycleStatus()
    {
        CVmUsb controller;
        checkCycleStatus(controller, sim);
    }

private:
    // Without a device nothing reaches the library.
    void refusedWithoutDevice(CVmUsb &controller)
    {
        int status = 0;
        QCOMPARE(controller.read16(base + 0x3C, am, &status), quint16(0));
        QCOMPARE(status, -1);
        controller.write16(base + 0x34, am, 100, &status);
        QCOMPARE(status, -1);
        QVERIFY(sim.cycles().isEmpty());
    }

    SimControl sim{libraryName};
};

// Runs before anything in this process holds a stand-in: both backends must give up a library
// that lacks an entry point at once, not keep it mapped until they are destroyed.
class TestIncompleteLibraryGivenUp : public QObject
{
    Q_OBJECT

private slots:
    void notLeftLoaded()
    {
        if (ProcessFigures::loadedObjectCount() < 0)
            QSKIP("loaded libraries are counted on Linux only");
        QCOMPARE(ProcessFigures::loadedObjectCount("libxxusb"), 0);
        QCOMPARE(ProcessFigures::loadedObjectCount("CAENVME"), 0);
        CVmUsb vmUsb;
        QCOMPARE(ProcessFigures::loadedObjectCount("libxxusb"), 0);
        CV1718 v1718;
        QCOMPARE(ProcessFigures::loadedObjectCount("CAENVME"), 0);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const BackendFacts facts{libraryName,
                             [] { return new CVmUsb; },
                             expectedLoadingLines,
                             QStringLiteral("Wiener VM-USB"),
                             QStringLiteral("Not connected to Wiener XXUSB library!"),
                             true,
                             -1,
                             0,
                             false};
    const QByteArray setup = qgetenv("BRELK_LIBRARY_SETUP");
    if (setup == "incomplete") {
        TestIncompleteLibraryGivenUp givenUp;
        if (const int failures = QTest::qExec(&givenUp, argc, argv))
            return failures;
    }
    if (setup == "absent" || setup == "incomplete") {
        BackendWithoutLibrary test(facts, setup == "incomplete");
        return QTest::qExec(&test, argc, argv);
    }
    TestCVmUsb test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cvmusb.moc"
