// The operator's set-point and current-limit commands, driven through the real dialogs and the
// real VM-USB backend on the module simulator: what the dialogs show and the exact writes the
// module receives.
#include "brelkcontroltestaccess.h"
#include "dialogdriver.h"
#include "messagecapture.h"
#include "settingsfile.h"
#include "simcontrol.h"

#include <QAction>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>

using Access = BrelkControlTestAccess;

using Write = SimControl::Write;

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void dialogWrites_data();
    void dialogWrites();
    void commandNotices();
    void cancelWritesNothing();
    void secondRangeButtonsFollowSelection();

private:
    void click(const char *name) { window->findChild<QAbstractButton *>(name)->click(); }

    std::unique_ptr<SimControl> sim;
    std::unique_ptr<BrelkControl> window;
};

void TestCommands::initTestCase()
{
    QFile::remove(settingsPath());
    sim.reset(new SimControl("libxxusb"));
    QVERIFY2(sim->isLoaded(), "the module simulator is not on the library search path");
}

void TestCommands::init()
{
    window.reset(); // the bridge opens once: a window from before lets it go first
    sim->reset();
    sim->setManualClock(true);
    window.reset(new BrelkControl);
    QVERIFY(Access::timer(*window)->isActive());
    Access::timer(*window)->stop();
    sim->clearLog();
}

void TestCommands::cleanup()
{
    window.reset();
    QFile::remove(settingsPath());
}

// Each command's dialog as the operator meets it, and the exact writes of the value entered. The
// set voltage's maximum is the channel's ceiling (VsetMaxA, VsetMaxB) where it has one below the
// module's 6000 V, and the button's tooltip names it; the current limits' range and decimals
// follow the resolution; a ramp speed re-sends the set voltage read back from the module at the
// command, not one taken from a tick. Each dialog starts at the value polled last, as far as its
// decimals show it.
void TestCommands::dialogWrites_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("radio"); // a resolution to select first
    QTest::addColumn<int>("polled");    // a word, at `at` of the module, then a tick; -1: no tick
    QTest::addColumn<int>("at");
    QTest::addColumn<double>("offered");
    QTest::addColumn<QString>("button");
    QTest::addColumn<double>("entered");
    QTest::addColumn<QString>("label");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QVector<Write>>("expected");
    QTest::addColumn<QStringList>("debugLines");

    const QString vset = "Input a Set Voltage (0...%1 V) for Channel %2";
    const QString ramp = "Input a Voltage Ramp Speed (2...255 V/s) for Channel %1";
    const QString limit = "Input a Software current limit (0...%1) for Channel %2";
    const QString limit2 =
        "Input a Software current limit second range (0...%1 uA) for Channel %2:";
    const QByteArray none;
    QTest::newRow("Vset A 1234.5 before the first tick")
        << none << QString() << -1 << 0 << 0.0 << "btnSetVset_A" << 1234.5 << vset.arg("6000", "A")
        << 0.0 << 6000.0 << 1 << QString() << QVector<Write>{{0xDD34, 1234}} << QStringList();
    const QByteArray ceilingA("VsetMaxA=1500\n");
    QTest::newRow("Vset A under VsetMaxA: 1600 is held at the ceiling")
        << ceilingA << QString() << -1 << 0 << 0.0 << "btnSetVset_A" << 1600.0
        << vset.arg("1500", "A") << 0.0 << 1500.0 << 1 << "Highest set voltage: 1500 V (VsetMaxA)"
        << QVector<Write>{{0xDD34, 1500}} << QStringList();
    QTest::newRow("Vset B beside VsetMaxA: 6000, at the polled 1500")
        << ceilingA << QString() << 1500 << 0x08 << 1500.0 << "btnSetVset_B" << 6000.0
        << vset.arg("6000", "B") << 0.0 << 6000.0 << 1 << QString()
        << QVector<Write>{{0xDD38, 6000}} << QStringList();
    QTest::newRow("Vset B under a ceiling of a fraction, to the dialog's step below")
        << QByteArray("VsetMaxB=800.55\n") << QString() << -1 << 0 << 0.0 << "btnSetVset_B" << 900.0
        << vset.arg("800.5", "B") << 0.0 << 800.5 << 1 << "Highest set voltage: 800.55 V (VsetMaxB)"
        << QVector<Write>{{0xDD38, 800}} << QStringList();
    QTest::newRow("Vset A under a ceiling above the module's 6000 V")
        << QByteArray("VsetMaxA=8000\n") << QString() << -1 << 0 << 0.0 << "btnSetVset_A" << 6000.0
        << vset.arg("6000", "A") << 0.0 << 6000.0 << 1 << QString()
        << QVector<Write>{{0xDD34, 6000}} << QStringList();
    QTest::newRow("Ramp B 50 at 800 V")
        << none << QString() << 800 << 0x08 << -1.0 << "btnSetRamp_B" << 50.0 << ramp.arg("B")
        << 2.0 << 255.0 << 1 << QString() << QVector<Write>{{0xDD10, 50}, {0xDD38, 800}}
        << QStringList();
    QTest::newRow("Ramp A before the first tick")
        << none << QString() << -1 << 0 << -1.0 << "btnSetRamp_A" << 7.5 << ramp.arg("A") << 2.0
        << 255.0 << 1 << QString() << QVector<Write>{{0xDD0C, 7}, {0xDD34, 1000}} << QStringList();
    QTest::newRow("Limit I 1 uA, A 1.5 mA at the polled 2.5")
        << none << "chk_I_1uA" << 2500 << 0x44 << 2.5 << "btnSetSoftLimitI_A" << 1.5
        << limit.arg("6 mA", "A") << 0.0 << 6.0 << 1 << QString() << QVector<Write>{{0xDD44, 1500}}
        << QStringList{"Current Limit channel 0 = 1500"};
    QTest::newRow("Limit I 1 uA, the polled 1.234 mA offered and confirmed as 1.2")
        << none << "chk_I_1uA" << 1234 << 0x44 << 1.2 << "btnSetSoftLimitI_A" << 1.2
        << limit.arg("6 mA", "A") << 0.0 << 6.0 << 1 << QString() << QVector<Write>{{0xDD44, 1200}}
        << QStringList{"Current Limit channel 0 = 1200"};
    QTest::newRow("Limit I 100 nA, B 250 uA")
        << none << "chk_I_100nA" << -1 << 0 << 0.0 << "btnSetSoftLimitI_B" << 250.0
        << limit.arg("6000 uA", "B") << 0.0 << 6000.0 << 1 << QString()
        << QVector<Write>{{0xDD48, 2500}} << QStringList{"Current Limit channel 1 = 2500"};
    QTest::newRow("Limit I 1 nA, entry above the register is held at its end")
        << none << "chk_I_1nA" << -1 << 0 << 0.0 << "btnSetSoftLimitI_A" << 6000.0
        << limit.arg("65.5 uA", "A") << 0.0 << 65.5 << 1 << QString()
        << QVector<Write>{{0xDD44, 65500}} << QStringList{"Current Limit channel 0 = 65500"};
    QTest::newRow("Limit I2 1 nA, A 12.3")
        << none << "chk_I2_1nA" << -1 << 0 << 0.0 << "btnSetSoftLimitI2_A" << 12.3
        << limit2.arg("65.5", "A") << 0.0 << 65.5 << 1 << QString()
        << QVector<Write>{{0xDD46, 12300}} << QStringList{"Limit I2 A =  12300"};
    QTest::newRow("Limit I2 100 pA, B 3.2")
        << none << "chk_I2_100pA" << -1 << 0 << 0.0 << "btnSetSoftLimitI2_B" << 3.2
        << limit2.arg("6.55", "B") << 0.0 << 6.55 << 2 << QString()
        << QVector<Write>{{0xDD4A, 32000}} << QStringList();
}

void TestCommands::dialogWrites()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, radio);
    QFETCH(int, polled);
    QFETCH(int, at);
    QFETCH(double, offered);
    QFETCH(QString, button);
    QFETCH(double, entered);
    QFETCH(QVector<Write>, expected);

    // The panel again, over the settings file the row gives.
    if (!settings.isEmpty()) {
        QVERIFY(writeSettingsFile(settingsPath(), settings));
        init();
    }
    if (!radio.isEmpty())
        click(radio.toLatin1());
    if (polled >= 0) {
        sim->setRegister(quint32(at), quint16(polled));
        Access::tick(*window);
    }
    sim->clearLog();
    QTEST(window->findChild<QPushButton *>(button)->toolTip(), "toolTip");
    MessageCapture debug;
    SeenDialog seen;
    DialogDriver::acceptDouble(entered, &seen);
    click(button.toLatin1());
    QVERIFY(seen.shown);
    QCOMPARE(seen.title, QString("pavex BRELK Control"));
    QTEST(seen.label, "label");
    QTEST(seen.minimum, "minimum");
    QTEST(seen.maximum, "maximum");
    QTEST(seen.decimals, "decimals");
    if (offered >= 0)
        QCOMPARE(seen.value, offered);
    QCOMPARE(seen.parent, window.get());
    QCOMPARE(sim->writes(), expected);
    QTEST(debug.lines(), "debugLines");
    if (button.startsWith(QLatin1String("btnSetVset")))
        QCOMPARE(sim->cycles().size(), expected.size()); // nothing is read back by the command
}

// A ramp speed on a tripped channel is stored without the set voltage, and the notice under the
// form says so until the next command's; a write the module does not acknowledge ends the
// command, on the bus and in that notice.
void TestCommands::commandNotices()
{
    sim->setRegister(0x30, 0x0002); // TRP of channel A
    Access::tick(*window);
    sim->clearLog();
    DialogDriver::acceptDouble(50);
    click("btnSetRamp_A");
    QCOMPARE(sim->writes(), (QVector<Write>{{0xDD0C, 50}}));
    const auto *notice = window->findChild<QLabel *>(QStringLiteral("lblCommand"));
    QVERIFY(notice);
    const QString stored = "Ramp speed stored; channel A stays off until a new set voltage";
    QCOMPARE(notice->text(), stored);
    // The next tick's serial number leaves the notice where it is.
    Access::tick(*window);
    QCOMPARE(notice->text(), stored);

    sim->clearLog();
    DialogDriver::acceptDouble(50);
    click("btnSetRamp_B");
    QCOMPARE(sim->writes(), (QVector<Write>{{0xDD10, 50}, {0xDD38, 500}}));

    QVERIFY(sim->configure("BRELKSIM_WRITES_FAIL", "on"));
    sim->clearLog();
    DialogDriver::acceptDouble(100);
    click("btnSetRamp_B");
    const QVector<SimControl::Cycle> cycles = sim->cycles();
    QCOMPARE(cycles.size(), 4); // status, status 2, set voltage, then the failed ramp speed
    QVERIFY(cycles.last().write);
    QCOMPARE(cycles.last().address, 0xDD10u);
    QVERIFY(cycles.last().status < 0);
    QCOMPARE(notice->text(), QStringLiteral("Write to the module at 0xDD00 failed (register "
                                            "0x10): Input/output error (error -5)"));
}

// Cancel in any command's dialog writes nothing and leaves no debug line; the poll goes on while
// the dialog is open.
void TestCommands::cancelWritesNothing()
{
    click("chk_I2_1nA");
    Access::timer(*window)->start();
    MessageCapture debug;
    for (const char *button :
         {"btnSetVset_A", "btnSetVset_B", "btnSetRamp_A", "btnSetRamp_B", "btnSetSoftLimitI_A",
          "btnSetSoftLimitI_B", "btnSetSoftLimitI2_A", "btnSetSoftLimitI2_B"}) {
        int readsWhileOpen = 0;
        DialogDriver::onNextModal([this, &readsWhileOpen](QWidget *dialog) {
            const int before = sim->cycles().size();
            QTimer::singleShot(450, dialog, [this, dialog, before, &readsWhileOpen] {
                readsWhileOpen = sim->cycles().size() - before;
                qobject_cast<QDialog *>(dialog)->reject();
            });
        });
        click(button);
        QVERIFY2(readsWhileOpen >= 2 * 17, button);
    }
    QCOMPARE(sim->writes().size(), 0);
    QCOMPARE(debug.lines(), QStringList());
}

void TestCommands::secondRangeButtonsFollowSelection()
{
    auto *limitA = window->findChild<QPushButton *>("btnSetSoftLimitI2_A");
    auto *limitB = window->findChild<QPushButton *>("btnSetSoftLimitI2_B");
    const struct
    {
        const char *radio;
        bool enabled;
    } steps[] = {{"chk_I2_1nA", true},   {"chk_I2_None", false}, {"chk_I2_None", false},
                 {"chk_I2_100pA", true}, {"chk_I_10nA", true},   {"chk_U_100mV", true},
                 {"chk_I2_None", false}, {"chk_I_1nA", false}};
    for (const auto &step : steps) {
        click(step.radio);
        QCOMPARE(limitA->isEnabled(), step.enabled);
        QCOMPARE(limitB->isEnabled(), step.enabled);
    }

    // Clicking the button that is already selected repeats its effect.
    click("chk_I2_1nA");
    limitA->setEnabled(false);
    click("chk_I2_1nA");
    QVERIFY(limitA->isEnabled() && limitB->isEnabled());

    QVERIFY(window->findChild<QPushButton *>("btnSetSoftLimitI_A")->isEnabled());
    QVERIFY(window->findChild<QPushButton *>("btnSetSoftLimitI_B")->isEnabled());
    QCOMPARE(sim->cycles().size(), 0); // selecting a resolution writes nothing
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
