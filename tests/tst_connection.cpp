// Choosing and connecting the VME bridge, choosing the module address and the About boxes, with
// the real backends on the module simulator and the real dialogs.
#include "brelkcontroltestaccess.h"
#include "dialogdriver.h"
#include "messagecapture.h"
#include "settingsfile.h"
#include "simcontrol.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QtTest>

#include <memory>

using Access = BrelkControlTestAccess;

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void dialogsPreselect_data();
    void dialogsPreselect();
    void chooseController();
    void cancelThenFailedConnection();
    void bridgeWithoutModule();
    void addressChange_data();
    void addressChange();
    void addressDialogPausesItsModuleOnly();
    void unwritableSettingsFileIsReported();
    void aboutBoxes();

private:
    void trigger(const char *action) { window->findChild<QAction *>(action)->trigger(); }
    void writeSettings(const QString &key, const QString &value);
    QString storedValue(const QString &key);
    QString message() { return window->statusBar()->currentMessage(); }
    // Whether the fields a complete tick writes are drawn as stale (all of them, or none).
    bool fieldsStale();

    QString iniPath;
    std::unique_ptr<SimControl> vmUsb;
    std::unique_ptr<SimControl> v1718;
    std::unique_ptr<BrelkControl> window;
};

void TestConnection::initTestCase()
{
    iniPath = settingsPath();
    vmUsb.reset(new SimControl("libxxusb"));
    v1718.reset(new SimControl("CAENVMElib"));
    QVERIFY2(vmUsb->isLoaded() && v1718->isLoaded(),
             "the module simulator is not on the library search path");
}

void TestConnection::init()
{
    QFile::remove(iniPath);
    QDir().rmdir(iniPath);
    vmUsb->reset();
    v1718->reset();
}

void TestConnection::cleanup()
{
    window.reset();
    QFile::remove(iniPath);
    QDir().rmdir(iniPath);
}

void TestConnection::writeSettings(const QString &key, const QString &value)
{
    QSettings settings(iniPath, QSettings::IniFormat);
    settings.setValue(key, value);
}

bool TestConnection::fieldsStale()
{
    int italic = 0;
    const QList<QLineEdit *> fields = window->findChildren<QLineEdit *>();
    for (QLineEdit *field : fields)
        italic += field->font().italic();
    if (italic != 0 && italic != fields.size())
        qWarning("only %d of %d fields are drawn as stale", italic, int(fields.size()));
    return italic == fields.size();
}

QString TestConnection::storedValue(const QString &key)
{
    QSettings settings(iniPath, QSettings::IniFormat);
    return settings.value(key).toString();
}

// The stored controller chooses the backend and the item its dialog preselects; the stored
// address the entry of the address dialog. Cancel in either leaves the file as it was, or absent.
void TestConnection::dialogsPreselect_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored"); // null: no such key
    QTest::addColumn<QString>("preselected");

    const QString vmUsb = QStringLiteral("Wiener VM-USB");
    const auto row = [](const char *name, const char *key, const QString &stored,
                        const QString &preselected) {
        QTest::newRow(name) << key << stored << preselected;
    };
    row("controller missing", "VmeController", QString(), vmUsb);
    row("V1718", "VmeController", "V1718", "CAEN V1718");
    row("lower case v1718", "VmeController", "v1718", vmUsb);
    row("V1718 with a blank", "VmeController", "V1718 ", vmUsb);
    row("something else", "VmeController", "VME-PCI", vmUsb);
    row("address missing", "BaseAddress", QString(), "0xDD00");
    row("0xDDFF", "BaseAddress", "0xDDFF", "0xDD00");
    row("decimal 256", "BaseAddress", "256", "0x0100");
    row("0", "BaseAddress", "0", "0x0000");
    row("0xFFFF", "BaseAddress", "0xFFFF", "0xFF00");
}

void TestConnection::dialogsPreselect()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(QString, preselected);

    if (!stored.isNull())
        writeSettings(key, stored);
    MessageCapture debug;
    window.reset(new BrelkControl);
    if (stored.isNull()) {
        // No file: the settings path first, the address before the connection reports; nothing
        // is written, and the first tick reads the VM-USB bridge's module only.
        const QStringList lines = debug.lines();
        QCOMPARE(lines.indexOf(QStringLiteral("Using INI file: \"%1\"").arg(iniPath)), 0);
        const int address = lines.indexOf("BaseAddress: 0xDD00");
        QVERIFY2(address > 0, qPrintable(lines.join('\n')));
        QVERIFY(lines.indexOf("Connected to VME controller \"Wiener VM-USB\"") > address);
        QCOMPARE(message(), QString("Connecting to HV device at VME address dd00..."));
        QVERIFY(Access::timer(*window)->isActive());
        QTRY_VERIFY(message().startsWith("Module serial number"));
        QVERIFY(!QFile::exists(iniPath));
        QVERIFY(!vmUsb->cycles().isEmpty());
        QVERIFY(v1718->cycles().isEmpty());
    }
    const bool bridge = key == QLatin1String("VmeController");
    if (bridge) {
        QCOMPARE(debug.linesStartingWith("Connected to VME controller"),
                 QStringList{QString("Connected to VME controller \"%1\"").arg(preselected)});
        QCOMPARE(Access::controller(*window)->name(), preselected);
    }

    const QByteArray fileBefore = readSettingsFile(iniPath);
    SeenDialog seen;
    DialogDriver::reject(&seen);
    trigger(bridge ? "actionVME_Controller" : "actionModule_Address");
    QCOMPARE(seen.title, QString("pavex BRELK Control"));
    QCOMPARE(seen.label, bridge ? QString("Please select the VME controller to connect to:")
                                : QString("Select module's VME Base Address:"));
    if (bridge) {
        QCOMPARE(seen.items, (QStringList{"Wiener VM-USB", "CAEN V1718"}));
    } else {
        QCOMPARE(seen.items.size(), 256);
        QCOMPARE(seen.items.first(), QString("0x0000"));
        QCOMPARE(seen.items.at(0xDD), QString("0xDD00"));
        QCOMPARE(seen.items.last(), QString("0xFF00"));
    }
    QCOMPARE(seen.currentItem, preselected);
    QVERIFY(!seen.editable);
    QCOMPARE(seen.parent, window.get());
    QCOMPARE(readSettingsFile(iniPath), fileBefore);
}

// Choosing a controller stops the poll and connects anew, naming the address with four digits; a
// switch forgets the other bridge's latch, and choosing the bridge in use again still loads its
// library anew.
void TestConnection::chooseController()
{
    writeSettings("BaseAddress", "0x100");
    QVERIFY(vmUsb->configure("BRELKSIM_BASE", "0x100") &&
            v1718->configure("BRELKSIM_BASE", "0x100"));
    window.reset(new BrelkControl);
    QCOMPARE(message(), QString("Connecting to HV device at VME address 0100..."));
    vmUsb->setRegister(0x30, 0x1234);
    Access::tick(*window);
    vmUsb->setRegister(0x30, 0);
    QCOMPARE(Access::session(*window)->eventLatch(), quint16(0x1234));

    QSignalSpy messages(window->statusBar(), &QStatusBar::messageChanged);
    DialogDriver::acceptItem("CAEN V1718");
    trigger("actionVME_Controller");
    QStringList shown;
    for (const QList<QVariant> &arguments : messages)
        shown << arguments.at(0).toString();
    QVERIFY(!shown.isEmpty());
    QVERIFY2(QRegularExpression("^Polling stopped at \\d\\d:\\d\\d:\\d\\d$")
                 .match(shown.takeFirst())
                 .hasMatch(),
             qPrintable(shown.join('\n')));
    QCOMPARE(shown, (QStringList{"Connecting to VME controller...",
                                 "Connected to VME controller CAEN V1718!",
                                 "Connecting to HV device at VME address 0100..."}));
    QVERIFY(Access::timer(*window)->isActive());
    QCOMPARE(storedValue("VmeController"), QString("V1718"));
    QCOMPARE(Access::session(*window)->eventLatch(), quint16(0));
    v1718->clearLog();
    QTRY_VERIFY(!v1718->cycles().isEmpty());

    for (int again = 0; again < 2; ++again) {
        MessageCapture debug;
        vmUsb->clearLog();
        DialogDriver::acceptItem("Wiener VM-USB");
        trigger("actionVME_Controller");
        QCOMPARE(storedValue("VmeController"), QString("VM-USB"));
        QCOMPARE(debug.linesStartingWith("\"").size(), 1); // the "... loaded" line
        QTRY_VERIFY(!vmUsb->cycles().isEmpty());
    }
}

// Cancel leaves the controller closed and the poll stopped; a failed connection then leaves the
// readings stale with its own message, and a test that meets its warning box unprepared fails at
// once instead of waiting for a click.
void TestConnection::cancelThenFailedConnection()
{
    window.reset(new BrelkControl);
    QTRY_VERIFY(message().startsWith("Module serial number"));
    QVERIFY(!fieldsStale());
    const QString fieldBefore = window->findChild<QLineEdit *>("txtVset_A")->text();

    // The readings are stale from the moment the dialog opens, and stay so after Cancel.
    const QString stoppedAt = QTime::currentTime().toString("hh:mm:ss");
    bool staleInDialog = false;
    DialogDriver::onNextModal([this, &staleInDialog](QWidget *dialog) {
        staleInDialog = fieldsStale();
        dialog->close();
    });
    trigger("actionVME_Controller");
    QVERIFY(staleInDialog);
    QVERIFY(!Access::timer(*window)->isActive());
    QVERIFY(!QFile::exists(iniPath));
    QVERIFY(fieldsStale());
    QCOMPARE(window->findChild<QLineEdit *>("txtVset_A")->text(), fieldBefore);
    const QString stoppedAfter = QTime::currentTime().toString("hh:mm:ss");
    QVERIFY2(message() == "Polling stopped at " + stoppedAt ||
                 message() == "Polling stopped at " + stoppedAfter,
             qPrintable(message()));

    // The controller is closed but kept: a VM-USB read now fails without a cycle.
    int status = 0;
    vmUsb->clearLog();
    Access::controller(*window)->read16(0xDD3C, 0x29, &status);
    QCOMPARE(status, -1);
    QVERIFY(vmUsb->cycles().isEmpty());

    QVERIFY(vmUsb->configure("BRELKSIM_BRIDGES", "0"));
    QElapsedTimer elapsed;
    elapsed.start();
    UnexpectedBoxes boxes;
    DialogDriver::acceptItem("Wiener VM-USB");
    trigger("actionVME_Controller");
    QVERIFY(elapsed.elapsed() < 2000);
    QCOMPARE(boxes.texts().size(), 1);
    QVERIFY(boxes.texts().first().startsWith("Could not init VME controller Wiener VM-USB!"));
    QCOMPARE(message(), QString("Not connected to VME controller Wiener VM-USB!"));
    QVERIFY(fieldsStale());
    QVERIFY(!Access::timer(*window)->isActive());
}

void TestConnection::bridgeWithoutModule()
{
    writeSettings("BaseAddress", "0x1200");
    const QString before = QTime::currentTime().toString("hh:mm:ss");
    window.reset(new BrelkControl);
    const QString after = QTime::currentTime().toString("hh:mm:ss");
    QCOMPARE(message(), QString("Connecting to HV device at VME address 1200..."));
    // Every tick stops after the serial number: nobody answers at 0x1200. The third missed tick
    // says so, with the time of the connection.
    QTRY_VERIFY(vmUsb->cycles().size() >= 3);
    for (const SimControl::Cycle &cycle : vmUsb->cycles())
        QCOMPARE(cycle.address, quint32(0x123C));
    const QString noAnswer = "No answer from the module at VME address 0x1200 since ";
    QVERIFY2(message() == noAnswer + before || message() == noAnswer + after,
             qPrintable(message()));
    QVERIFY(fieldsStale());
}

void TestConnection::addressChange_data()
{
    QTest::addColumn<QString>("chosen");

    QTest::newRow("another address") << "0xC000";
    QTest::newRow("the same address") << "0xDD00";
}

// The address chosen is stored and used at once; the dialog stops the poll, so the readings are
// stale from then until the first complete tick at that address, even when it is the one in use.
void TestConnection::addressChange()
{
    QFETCH(QString, chosen);

    window.reset(new BrelkControl);
    QTRY_VERIFY(message().startsWith("Module serial number"));
    const QString lastMessage = message();
    QSignalSpy staleSignals(window.get(), &BrelkControl::readingsStale);
    DialogDriver::acceptItem(chosen);
    trigger("actionModule_Address");
    QCOMPARE(message(), lastMessage); // the address dialog itself shows nothing
    QCOMPARE(storedValue("BaseAddress"), chosen);
    QCOMPARE(Access::baseAddress(*window), chosen.toInt(nullptr, 16));
    QVERIFY(Access::timer(*window)->isActive());
    QVERIFY(fieldsStale());
    QCOMPARE(staleSignals.size(), 1);

    Access::timer(*window)->stop();
    QVERIFY(vmUsb->configure("BRELKSIM_BASE", chosen));
    vmUsb->clearLog();
    Access::tick(*window);
    QCOMPARE(vmUsb->cycles().first().address, chosen.toUInt(nullptr, 16) + 0x3C);
    QVERIFY(!fieldsStale());

    // Accepting the entry in use stores it again, creating a file that was removed.
    QFile::remove(iniPath);
    DialogDriver::acceptItem(QString());
    trigger("actionModule_Address");
    QCOMPARE(storedValue("BaseAddress"), chosen);
}

// While one module's address dialog is open the other modules keep their ticks; a poll stopped
// for the controller dialog stays stopped.
void TestConnection::addressDialogPausesItsModuleOnly()
{
    QVERIFY(vmUsb->configure("BRELKSIM_MODULES", "0xDD00,0xDC00"));
    writeSettings("Module_DC00/Name", "Drift chamber");
    window.reset(new BrelkControl);
    Access::timer(*window)->stop();
    Access::tick(*window);
    QTRY_VERIFY(!Access::crate(*window)->isTicking());
    QSet<quint32> readDuringDialog;
    DialogDriver::onNextModal([&](QWidget *dialog) {
        vmUsb->clearLog();
        Access::tick(*window);
        QTest::qWait(20);
        for (const SimControl::Cycle &cycle : vmUsb->cycles())
            readDuringDialog.insert(cycle.address & 0xFF00);
        dialog->close();
    });
    trigger("actionModule_Address");
    QCOMPARE(readDuringDialog, QSet<quint32>{0xDC00});
    const Brelk::ModuleSession *driftChamber = Access::crate(*window)->module(0xDC00);
    QVERIFY(Access::session(*window)->isStale());
    QVERIFY(!driftChamber->isStale());
    Access::tick(*window);
    QVERIFY(!Access::session(*window)->isStale());

    DialogDriver::reject();
    trigger("actionVME_Controller");
    DialogDriver::reject();
    trigger("actionModule_Address");
    QVERIFY(!Access::timer(*window)->isActive());
}

void TestConnection::unwritableSettingsFileIsReported()
{
    window.reset(new BrelkControl);
    QVERIFY(QDir().mkdir(iniPath)); // a folder where the file should be: nothing can be written

    SeenDialog warning;
    DialogDriver::acceptItem("0xC000");
    // The warning comes up while the address dialog's handler is still running.
    QTimer::singleShot(0, [&warning] { DialogDriver::acceptMessageBox(&warning); });
    trigger("actionModule_Address");
    QVERIFY(warning.shown);
    QCOMPARE(warning.title, QString("pavex BRELK Control"));
    QVERIFY2(warning.text.contains(QDir::toNativeSeparators(iniPath)), qPrintable(warning.text));
    QCOMPARE(Access::baseAddress(*window), 0xC000); // still used for this run
    QVERIFY(Access::timer(*window)->isActive());
}

// About, with the poll going on behind it, then About Qt.
void TestConnection::aboutBoxes()
{
    window.reset(new BrelkControl);
    SeenDialog seen;
    bool pollRunning = false;
    DialogDriver::onNextModal([&](QWidget *) {
        pollRunning = Access::timer(*window)->isActive();
        DialogDriver::acceptMessageBox(&seen);
    });
    trigger("actionAbout");
    QVERIFY(pollRunning);
    QCOMPARE(seen.title, QString("About pavex BRELK Control"));
    QCOMPARE(seen.parent, window.get());
    const QString version = "pavex BRELK Control Version 1.0.0.0";
    QCOMPARE(seen.text,
             "<h2>" + version +
                 "</h2><p>BRELK high-voltage modules are made by pavex. Manuals and module "
                 "options are described on the <a href=\"https://www.pavex.example/brelk\">pavex "
                 "web site</a>.</p><p>Simple example for control of pavex BRELK two channel high "
                 "voltage modules.</p><p>Written by the pavex BRELK Control developers.</p><p>This "
                 "program requires a Wiener VM-USB or CAEN V1718 controller to connect to VME "
                 "bus.</p><p>Questions and reports: <a href=\"mailto:brelk-control@pavex.example"
                 "?subject=" +
                 version + "\">brelk-control@pavex.example</a></p>");

    SeenDialog qt;
    DialogDriver::acceptMessageBox(&qt);
    trigger("actionAbout_Qt");
    QVERIFY(qt.title.contains("Qt"));
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
