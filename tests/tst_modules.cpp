// Several modules of the crate in the panel, on the in-memory bus: a window per further module as
// the settings file's groups name them, one tick reading every module in turn through the one
// controller, a trip on a module whose window is closed, a
// further module moved or closed, and the overview's way to a module's window.
#include "alertcapture.h"
#include "brelkcontroltestaccess.h"
#include "crate.h"
#include "dialogdriver.h"
#include "fakecontroller.h"
#include "messagecapture.h"
#include "modulewindow.h"
#include "overviewwindow.h"
#include "settingsfile.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTableWidget>
#include <QtTest>

#include <memory>

using Access = BrelkControlTestAccess;
using namespace Brelk;

namespace {

// One module's tick with the first resolution options: every register, serial number first.
QVector<BusCycle> tickOf(quint32 base, quint16 serial, bool fineVoltage = false)
{
    QVector<int> offsets{0x3C, 0x04, 0x08, 0x0C, 0x10};
    offsets += fineVoltage ? QVector<int>{0x16, 0x1A} : QVector<int>{0x14, 0x18};
    offsets += {0x1C, 0x20, 0x00, 0x30, 0x24, 0x28, 0x44, 0x48, 0x46, 0x4A};
    if (serial == 0xFFFF)
        offsets = {0x3C};
    QVector<BusCycle> cycles;
    for (int offset : offsets)
        cycles.push_back(
            {base + quint32(offset), 0x29, offset == 0x3C ? serial : quint16(0), false});
    return cycles;
}

} // namespace

class TestModules : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void windowsOfTheGroups();
    void tripOnAFurtherModule();
    void overviewOpensModuleWindows();
    void moveFurtherModule();
    void modulesDialogChangesTheCrate();
    void modulesTradeAddresses();

private:
    void open(const QByteArray &groups);
    ModuleWindow *moduleWindow(const char *name) { return window->findChild<ModuleWindow *>(name); }
    void tick();
    void setVoltage(quint32 base, quint16 volts) { bus->registers[base + 0x04] = volts; }
    void inhibit(quint32 base, int channel)
    {
        bus->registers[base + 0x30] |= quint16(EventINH << (8 * channel));
    }

    std::unique_ptr<BrelkControl> window;
    FakeController *bus = nullptr;
};

namespace {

// Every module the tests use, with its serial number; 0xDF00 is read only once one moves there.
const struct
{
    quint32 base;
    quint16 serial;
} CrateModules[] = {{0xDD00, 0x20DD}, {0xDC00, 0x20DC}, {0xDE00, 0x20DE}, {0xDF00, 0x2222}};

} // namespace

void TestModules::cleanup()
{
    window.reset();
    QFile::remove(settingsPath());
}

void TestModules::open(const QByteArray &groups)
{
    QVERIFY(writeSettingsFile(settingsPath(), "[General]\nBaseAddress=0xDD00\n" + groups));
    alertedWindows.clear();
    window.reset(new BrelkControl);
    bus = new FakeController;
    Access::useController(*window, bus);
    for (const auto &module : CrateModules)
        bus->registers[module.base + 0x3C] = module.serial;
}

void TestModules::tick()
{
    Access::tick(*window);
    QTRY_VERIFY(!Access::crate(*window)->isTicking());
}

void TestModules::windowsOfTheGroups()
{
    open("[Module_DE00]\nName=Drift chamber\n[Module_DC00]\nVoltageResolution=100mV\n"
         "VsetMaxA=1500\n");
    ModuleWindow *dc = moduleWindow("moduleWindow_DC00");
    ModuleWindow *de = moduleWindow("moduleWindow_DE00");
    QVERIFY(dc && de);
    QCOMPARE(dc->windowTitle(), QStringLiteral("0xDC00 - pavex BRELK Control"));
    QCOMPARE(de->windowTitle(), QStringLiteral("Drift chamber (0xDE00) - pavex BRELK Control"));
    QVERIFY(!dc->isVisible() && !de->isVisible());
    QVERIFY(dc->findChild<QRadioButton *>("chk_U_100mV")->isChecked());
    QVERIFY(de->findChild<QRadioButton *>("chk_U_1V")->isChecked());
    // Each module's ceiling is its own group's.
    QCOMPARE(dc->findChild<QPushButton *>("btnSetVset_A")->toolTip(),
             QStringLiteral("Highest set voltage: 1500 V (VsetMaxA)"));
    QCOMPARE(de->findChild<QPushButton *>("btnSetVset_A")->toolTip(), QString());
    QCOMPARE(window->findChild<QPushButton *>("btnSetVset_A")->toolTip(), QString());

    QStringList file, tools;
    for (QAction *action : dc->findChild<QMenu *>("menuFile")->actions()) {
        if (action->isVisible())
            file << action->objectName();
    }
    for (QAction *action : dc->findChild<QMenu *>("menuTools")->actions())
        tools << action->objectName();
    QCOMPARE(file, (QStringList{"actionModule_Address", "actionClose"}));
    QCOMPARE(tools, (QStringList{"actionHistory", "actionLogToFile", "actionSaveSetPoints",
                                 "actionRestoreSetPoints"}));

    // The first module, then the others in ascending address order, whatever the file's order;
    // the first module not answering ends its own part of the tick only.
    bus->registers[0xDD3C] = 0xFFFF;
    tick();
    QVector<BusCycle> expected = tickOf(0xDD00, 0xFFFF);
    expected += tickOf(0xDC00, 0x20DC, true);
    expected += tickOf(0xDE00, 0x20DE);
    QCOMPARE(bus->cycles, expected);

    // Closing a module's window only hides it: its ticks go on, and its form catches up with the
    // newest one when it is shown again.
    de->show();
    QVERIFY(QTest::qWaitForWindowExposed(de));
    de->findChild<QAction *>("actionClose")->trigger();
    QVERIFY(!de->isVisible());
    QCOMPARE(moduleWindow("moduleWindow_DE00"), de);
    QSignalSpy ticks(de->session(), &ModuleSession::readingTaken);
    auto *vset = de->findChild<QLineEdit *>("txtVset_A");
    const QString shown = vset->text();
    setVoltage(0xDE00, 1500);
    tick();
    QCOMPARE(ticks.count(), 1);
    QCOMPARE(vset->text(), shown);
    de->show();
    QCOMPARE(vset->text(), QStringLiteral("1500 V"));
}

// A module's window is seldom open: a trip on a further module flashes the main window's taskbar
// entry, and its own while it is shown; its alarm line names it.
void TestModules::tripOnAFurtherModule()
{
    open("[Module_DC00]\n[Module_DE00]\nName=Drift chamber\n");
    ModuleWindow *drift = moduleWindow("moduleWindow_DE00");
    tick();
    MessageCapture debug;
    inhibit(0xDE00, 0);
    tick();
    QCOMPARE(alertedWindows, QVector<QWidget *>{window.get()});
    QCOMPARE(debug.lines().filter("alarm"),
             QStringList{"0xDE00 (Drift chamber): Channel A alarm: INH"});
    tick();
    QCOMPARE(alertedWindows.size(), 1);

    drift->show();
    QVERIFY(QTest::qWaitForWindowExposed(drift));
    alertedWindows.clear();
    debug.clear();
    inhibit(0xDC00, 0);
    inhibit(0xDE00, 1);
    tick();
    QCOMPARE(alertedWindows, (QVector<QWidget *>{window.get(), drift, window.get()}));
    QCOMPARE(debug.lines().filter("alarm"),
             (QStringList{"0xDC00: Channel A alarm: INH",
                          "0xDE00 (Drift chamber): Channel B alarm: INH"}));
}

// The overview follows the ticks behind the window the operator works in, and a double-click on
// a module's row brings up that module's window.
void TestModules::overviewOpensModuleWindows()
{
    open("[Module_DC00]\n[Module_DE00]\n");
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->findChild<QAction *>("actionOverview")->trigger();
    auto *overview = window->findChild<OverviewWindow *>();
    QVERIFY(QTest::qWaitForWindowExposed(overview));
    window->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), window.get());

    setVoltage(0xDE00, 1500);
    tick();
    QTest::qWait(50);
    auto *table = overview->findChild<QTableWidget *>("overviewTable");
    QCOMPARE(table->item(4, OverviewWindow::VsetColumn)->text(), QStringLiteral("1500 V"));
    QCOMPARE(QApplication::activeWindow(), window.get());

    ModuleWindow *de = moduleWindow("moduleWindow_DE00");
    QVERIFY(!de->isVisible());
    const QRect cell = table->visualItemRect(table->item(4, OverviewWindow::ModuleColumn));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QVERIFY(de->isVisible());
    QVERIFY(!moduleWindow("moduleWindow_DC00")->isVisible());
}

// A further module moves with its whole group; an address another module has is refused.
void TestModules::moveFurtherModule()
{
    open("[Module_DC00]\nName=Drift chamber\nLogInterval=10\n[Module_DE00]\nName=Wire chamber\n");
    ModuleWindow *dc = moduleWindow("moduleWindow_DC00");

    SeenDialog refused;
    DialogDriver::acceptItem(QStringLiteral("0xDE00"));
    DialogDriver::onNextModal([&](QWidget *box) {
        refused.text = box->findChild<QLabel *>("qt_msgbox_label")->text();
        box->close();
    });
    dc->findChild<QAction *>("actionModule_Address")->trigger();
    QCOMPARE(
        refused.text,
        QStringLiteral("Another module (Wire chamber) is polled at VME address 0xDE00 already."));
    QCOMPARE(dc->objectName(), QStringLiteral("moduleWindow_DC00"));

    DialogDriver::acceptItem(QStringLiteral("0xDF00"));
    dc->findChild<QAction *>("actionModule_Address")->trigger();
    QCOMPARE(dc->objectName(), QStringLiteral("moduleWindow_DF00"));
    QCOMPARE(dc->windowTitle(), QStringLiteral("Drift chamber (0xDF00) - pavex BRELK Control"));
    const QSettings file(settingsPath(), QSettings::IniFormat);
    QCOMPARE(file.childGroups(), (QStringList{"Module_DE00", "Module_DF00"}));
    QCOMPARE(file.value("Module_DF00/LogInterval").toString(), QStringLiteral("10"));
    QCOMPARE(file.value("Module_DF00/Name").toString(), QStringLiteral("Drift chamber"));

    bus->cycles.clear();
    tick();
    QCOMPARE(bus->cycles.mid(tickOf(0xDD00, 0x20DD).size(), 1),
             (QVector<BusCycle>{{0xDE3C, 0x29, 0x20DE, false}}));
    QCOMPARE(bus->cycles.last().address, 0xDF4Au);
}

// An edited address keeps the module's window and every key of its group, the edited name and
// resolution replacing theirs; a removed module goes with its group, a new one gets both, and the
// next tick reads the new set.
void TestModules::modulesDialogChangesTheCrate()
{
    open("[Module_DC00]\nName=Drift chamber\nLogInterval=10\nMqttTopic=lab/drift\n"
         "[Module_DE00]\nName=Wire chamber\n");
    ModuleWindow *drift = moduleWindow("moduleWindow_DC00");
    const auto ok = [](QWidget *dialog) {
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    };
    DialogDriver::onModal(QStringLiteral("modulesDialog"), [&](QWidget *dialog) {
        auto *table = dialog->findChild<QTableWidget *>("modulesTable");
        table->selectRow(0);
        DialogDriver::onModal(QStringLiteral("moduleEntryDialog"), [&](QWidget *entry) {
            entry->findChild<QComboBox *>("cmbAddress")->setCurrentText("0xDB00");
            entry->findChild<QLineEdit *>("txtName")->setText("Drift chamber 2");
            entry->findChild<QComboBox *>("cmbCurrentResolution")->setCurrentText("100nA");
            ok(entry);
        });
        dialog->findChild<QPushButton *>("btnEditModule")->click();
        table->selectRow(1);
        dialog->findChild<QPushButton *>("btnRemoveModule")->click();
        DialogDriver::onModal(QStringLiteral("moduleEntryDialog"), [&](QWidget *entry) {
            entry->findChild<QComboBox *>("cmbAddress")->setCurrentText("0xE000");
            ok(entry);
        });
        dialog->findChild<QPushButton *>("btnAddModule")->click();
        ok(dialog);
    });
    window->findChild<QAction *>("actionModules")->trigger();

    QCOMPARE(moduleWindow("moduleWindow_DB00"), drift);
    QVERIFY(drift->findChild<QRadioButton *>("chk_I_100nA")->isChecked());
    QVERIFY(!moduleWindow("moduleWindow_DE00"));
    QVERIFY(moduleWindow("moduleWindow_E000"));
    QSettings file(settingsPath(), QSettings::IniFormat);
    QCOMPARE(file.childGroups(), (QStringList{"Module_DB00", "Module_E000"}));
    file.beginGroup("Module_DB00");
    QCOMPARE(file.value("Name").toString(), QStringLiteral("Drift chamber 2"));
    QCOMPARE(file.value("LogInterval").toString(), QStringLiteral("10"));
    QCOMPARE(file.value("MqttTopic").toString(), QStringLiteral("lab/drift"));
    QCOMPARE(file.value("CurrentResolution").toString(), QStringLiteral("100nA"));

    bus->cycles.clear();
    tick();
    QStringList serialReads;
    for (const BusCycle &cycle : bus->cycles) {
        if ((cycle.address & 0xFF) == 0x3C)
            serialReads << QString::number(cycle.address, 16);
    }
    QCOMPARE(serialReads, (QStringList{"dd3c", "db3c", "e03c"}));
}

// Two modules that trade addresses in one visit to the dialog: the crate refuses the first move,
// since the other module is still there, and that module starts afresh at its new address.
void TestModules::modulesTradeAddresses()
{
    open("[Module_DC00]\nName=Drift chamber\n[Module_DE00]\nName=Wire chamber\nVsetMaxB=900\n");
    ModuleWindow *drift = moduleWindow("moduleWindow_DC00");
    DialogDriver::onModal(QStringLiteral("modulesDialog"), [&](QWidget *dialog) {
        auto *table = dialog->findChild<QTableWidget *>("modulesTable");
        // Listed by address: 0xDC00 to 0xDF00, 0xDE00 to 0xDC00, 0xDF00 to 0xDE00.
        const struct
        {
            int row;
            const char *address;
        } edits[] = {{0, "0xDF00"}, {0, "0xDC00"}, {1, "0xDE00"}};
        for (const auto &edit : edits) {
            table->selectRow(edit.row);
            DialogDriver::onModal(QStringLiteral("moduleEntryDialog"), [&](QWidget *entry) {
                entry->findChild<QComboBox *>("cmbAddress")->setCurrentText(edit.address);
                entry->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
            });
            dialog->findChild<QPushButton *>("btnEditModule")->click();
        }
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    window->findChild<QAction *>("actionModules")->trigger();

    // The wire chamber could not move first and was made anew; the drift chamber moved after it.
    QVERIFY(moduleWindow("moduleWindow_DE00") == drift);
    QCOMPARE(drift->session()->name(), QStringLiteral("Drift chamber"));
    ModuleWindow *wire = moduleWindow("moduleWindow_DC00");
    QVERIFY(wire && wire != drift);
    QCOMPARE(wire->session()->name(), QStringLiteral("Wire chamber"));
    // A module made anew keeps the ceilings of its group, which moved with it.
    VoltageCeilings ceilings;
    ceilings.volts[1] = 900;
    QCOMPARE(wire->session()->voltageCeilings(), ceilings);
    QCOMPARE(drift->session()->voltageCeilings(), VoltageCeilings());
    QCOMPARE(Access::crate(*window)->modules().size(), 3);
}

QTEST_MAIN(TestModules)
#include "tst_modules.moc"
