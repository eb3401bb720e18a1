// Several modules of the crate in the panel: a window per further module as the settings file's
// groups name them, one tick reading every module in turn through the one controller, a silent
// module going stale alone, a further module moved or closed, and each module's own data log.
#include "brelkcontroltestaccess.h"
#include "crate.h"
#include "csvformat.h"
#include "dialogdriver.h"
#include "fakecontroller.h"
#include "modulewindow.h"
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
#include <QTemporaryDir>
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
    void init();
    void cleanup();

    void windowsOfTheGroups();
    void tickReadsEveryModuleInTurn_data();
    void tickReadsEveryModuleInTurn();
    void silentModuleGoesStaleAlone();
    void moveFurtherModule();
    void closeOnlyHides();
    void eachModuleLogsToItsOwnFile();
    void modulesDialogChangesTheCrate();

private:
    void open(const QByteArray &groups);
    ModuleWindow *moduleWindow(const char *name) { return window->findChild<ModuleWindow *>(name); }
    void tick();

    QTemporaryDir dir;
    std::unique_ptr<BrelkControl> window;
    FakeController *bus = nullptr;
};

void TestModules::init()
{
    QVERIFY(dir.isValid());
}

void TestModules::cleanup()
{
    window.reset();
    QFile::remove(settingsPath());
}

void TestModules::open(const QByteArray &groups)
{
    QVERIFY(writeSettingsFile(settingsPath(), "[General]\nBaseAddress=0xDD00\n" + groups));
    window.reset(new BrelkControl);
    bus = new FakeController;
    Access::useController(*window, bus);
    for (quint32 base : {0xDD00u, 0xDC00u, 0xDE00u})
        bus->registers[base + 0x3C] = quint16(0x2000 + (base >> 8));
}

void TestModules::tick()
{
    Access::tick(*window);
    QTRY_VERIFY(!Access::crate(*window)->isTicking());
}

void TestModules::windowsOfTheGroups()
{
    open("[Module_DE00]\nName=Drift chamber\n[Module_DC00]\nVoltageResolution=100mV\n");
    ModuleWindow *dc = moduleWindow("moduleWindow_DC00");
    ModuleWindow *de = moduleWindow("moduleWindow_DE00");
    QVERIFY(dc && de);
    QCOMPARE(dc->windowTitle(), QStringLiteral("0xDC00 - pavex BRELK Control"));
    QCOMPARE(de->windowTitle(), QStringLiteral("Drift chamber (0xDE00) - pavex BRELK Control"));
    QVERIFY(!dc->isVisible() && !de->isVisible());
    QVERIFY(dc->findChild<QRadioButton *>("chk_U_100mV")->isChecked());
    QVERIFY(de->findChild<QRadioButton *>("chk_U_1V")->isChecked());

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
}

void TestModules::tickReadsEveryModuleInTurn_data()
{
    QTest::addColumn<quint32>("silent"); // the module whose serial number reads 0xFFFF, or 0

    QTest::newRow("all answer") << 0u;
    QTest::newRow("first module silent") << 0xDD00u;
    QTest::newRow("middle module silent") << 0xDC00u;
    QTest::newRow("last module silent") << 0xDE00u;
}

// The first module, then the others in ascending address order, whatever the file's order; a
// module that does not answer ends its own part of the tick only.
void TestModules::tickReadsEveryModuleInTurn()
{
    QFETCH(quint32, silent);
    open("[Module_DE00]\n[Module_DC00]\nVoltageResolution=100mV\n");
    if (silent)
        bus->registers[silent + 0x3C] = 0xFFFF;
    tick();
    QVector<BusCycle> expected;
    for (quint32 base : {0xDD00u, 0xDC00u, 0xDE00u})
        expected += tickOf(base, bus->registers[base + 0x3C], base == 0xDC00);
    QCOMPARE(bus->cycles, expected);
}

void TestModules::silentModuleGoesStaleAlone()
{
    open("[Module_DC00]\n");
    tick();
    bus->registers[0xDC3C] = 0xFFFF;
    for (int i = 0; i < 3; ++i)
        tick();
    QVERIFY(
        moduleWindow("moduleWindow_DC00")->findChild<QLineEdit *>("txtVset_A")->font().italic());
    QVERIFY(!window->findChild<QLineEdit *>("txtVset_A")->font().italic());
    QVERIFY(Access::crate(*window)->module(0xDC00)->isStale());
    QVERIFY(!Access::session(*window)->isStale());
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
    bus->registers[0xDF3C] = 0x2222;
    tick();
    QCOMPARE(bus->cycles.mid(tickOf(0xDD00, 0x20DD).size(), 1),
             (QVector<BusCycle>{{0xDE3C, 0x29, 0x20DE, false}}));
    QCOMPARE(bus->cycles.last().address, 0xDF4Au);
}

void TestModules::closeOnlyHides()
{
    open("[Module_DC00]\n");
    ModuleWindow *dc = moduleWindow("moduleWindow_DC00");
    dc->show();
    QVERIFY(QTest::qWaitForWindowExposed(dc));
    dc->findChild<QAction *>("actionClose")->trigger();
    QVERIFY(!dc->isVisible());
    QCOMPARE(moduleWindow("moduleWindow_DC00"), dc);
    QSignalSpy ticks(dc->session(), &ModuleSession::readingTaken);
    bus->registers[0xDC04] = 1500;
    tick();
    QCOMPARE(ticks.count(), 1);
    // The hidden window's form catches up with the newest tick when it is shown again.
    auto *vset = dc->findChild<QLineEdit *>("txtVset_A");
    QCOMPARE(vset->text(), QString());
    dc->show();
    QCOMPARE(vset->text(), QStringLiteral("1500 V"));
}

void TestModules::eachModuleLogsToItsOwnFile()
{
    const QString first = dir.filePath("dd00.csv"), further = dir.filePath("dc00.csv");
    open("LogFile=" + first.toUtf8() +
         "\nLogInterval=0.1\n[Module_DC00]\nLogFile=" + further.toUtf8() + "\nLogInterval=0.1\n");
    bus->registers[0xDD04] = 1234;
    bus->registers[0xDC04] = 2345;
    for (int i = 0; i < 2; ++i)
        tick();
    window.reset();
    for (const auto &log : {qMakePair(first, QStringLiteral(",1234,")),
                            qMakePair(further, QStringLiteral(",2345,"))}) {
        QFile file(log.first);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], Brelk::csvHeader());
        QVERIFY2(lines[1].contains(log.second), qPrintable(lines[1]));
    }
}

// An edited address keeps the module's window and every key of its group; a removed module goes
// with its group, a new one gets both, and the next tick reads the new set.
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
    QCOMPARE(file.value("Name").toString(), QStringLiteral("Drift chamber"));
    QCOMPARE(file.value("LogInterval").toString(), QStringLiteral("10"));
    QCOMPARE(file.value("MqttTopic").toString(), QStringLiteral("lab/drift"));
    QCOMPARE(file.value("CurrentResolution").toString(), QStringLiteral("100nA"));

    bus->cycles.clear();
    tick();
    QStringList serialReads;
    for (const BusCycle &cycle : qAsConst(bus->cycles)) {
        if ((cycle.address & 0xFF) == 0x3C)
            serialReads << QString::number(cycle.address, 16);
    }
    QCOMPARE(serialReads, (QStringList{"dd3c", "db3c", "e03c"}));
}

QTEST_MAIN(TestModules)
#include "tst_modules.moc"
