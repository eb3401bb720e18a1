// The operator's set-point and current-limit commands, driven through the real dialogs and the
// real VM-USB backend on the module simulator: what the dialogs show and the exact writes the
// module receives.
#include "brelkcontroltestaccess.h"
#include "dialogdriver.h"
#include "messagecapture.h"
#include "settingsfile.h"
#include "simcontrol.h"

#include <QAction>
#include <QFile>
#include <QInputDialog>
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

    void setVoltage_data();
    void setVoltage();
    void setVoltageStartsAtPolledValue();
    void rampSpeed_data();
    void rampSpeed();
    void rampSpeedFollowsTheHeldSetVoltage_data();
    void rampSpeedFollowsTheHeldSetVoltage();
    void rampSpeedOnATrippedChannel();
    void failedWriteIsShown();
    void cancelWritesNothing_data();
    void cancelWritesNothing();
    void softLimitI_data();
    void softLimitI();
    void softLimitIStartsAtPolledValue();
    void softLimitI2_data();
    void softLimitI2();
    void secondRangeButtonsFollowSelection();
    void pollRunsWhileDialogIsOpen();
    void voltageRoundTrip();

private:
    void click(const char *name) { window->findChild<QAbstractButton *>(name)->click(); }
    QString field(const char *name) { return window->findChild<QLineEdit *>(name)->text(); }
    QVector<Write> writes();

    std::unique_ptr<SimControl> sim;
    std::unique_ptr<BrelkControl> window;
};

void TestCommands::initTestCase()
{
    QFile::remove(QCoreApplication::applicationDirPath() + "/brelkcontrol.ini");
    sim.reset(new SimControl("libxxusb"));
    QVERIFY2(sim->isLoaded(), "the module simulator is not on the library search path");
}

void TestCommands::init()
{
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

QVector<Write> TestCommands::writes()
{
    return sim->writes();
}

// The dialog's maximum is the channel's ceiling (VsetMaxA, VsetMaxB) where it has one below the
// module's 6000 V, and the button's tooltip names it.
void TestCommands::setVoltage_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("button");
    QTest::addColumn<double>("entered");
    QTest::addColumn<QString>("label");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QVector<Write>>("expected");

    const QString labelA = "Input a Set Voltage (0...6000 V) for Channel A";
    const QString labelB = "Input a Set Voltage (0...6000 V) for Channel B";
    QTest::newRow("A 1234.5") << QByteArray() << "btnSetVset_A" << 1234.5 << labelA << 6000.0
                              << QString() << QVector<Write>{{0xDD34, 1234}};
    QTest::newRow("B 6000") << QByteArray() << "btnSetVset_B" << 6000.0 << labelB << 6000.0
                            << QString() << QVector<Write>{{0xDD38, 6000}};
    const QByteArray ceilingA("VsetMaxA=1500\n");
    QTest::newRow("A under VsetMaxA: 1600 is held at the ceiling")
        << ceilingA << "btnSetVset_A" << 1600.0 << "Input a Set Voltage (0...1500 V) for Channel A"
        << 1500.0 << "Highest set voltage: 1500 V (VsetMaxA)" << QVector<Write>{{0xDD34, 1500}};
    QTest::newRow("B beside VsetMaxA: 6000")
        << ceilingA << "btnSetVset_B" << 6000.0 << labelB << 6000.0 << QString()
        << QVector<Write>{{0xDD38, 6000}};
    QTest::newRow("B under a ceiling of a fraction, to the dialog's step below")
        << QByteArray("VsetMaxB=800.55\n") << "btnSetVset_B" << 900.0
        << "Input a Set Voltage (0...800.5 V) for Channel B" << 800.5
        << "Highest set voltage: 800.55 V (VsetMaxB)" << QVector<Write>{{0xDD38, 800}};
    QTest::newRow("A under a ceiling above the module's 6000 V")
        << QByteArray("VsetMaxA=8000\n") << "btnSetVset_A" << 6000.0 << labelA << 6000.0
        << QString() << QVector<Write>{{0xDD34, 6000}};
}

void TestCommands::setVoltage()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, button);
    QFETCH(double, entered);
    QFETCH(QString, label);
    QFETCH(double, maximum);
    QFETCH(QString, toolTip);
    QFETCH(QVector<Write>, expected);

    if (!settings.isEmpty()) {
        QVERIFY(writeSettingsFile(settingsPath(), settings));
        // The bridge opens once: the window of init() lets it go first.
        window.reset();
        window.reset(new BrelkControl);
        Access::timer(*window)->stop();
        sim->clearLog();
    }
    QCOMPARE(window->findChild<QPushButton *>(button)->toolTip(), toolTip);
    SeenDialog seen;
    DialogDriver::acceptDouble(entered, &seen);
    click(button.toLatin1());
    QVERIFY(seen.shown);
    QCOMPARE(seen.title, QString("pavex BRELK Control"));
    QCOMPARE(seen.label, label);
    QCOMPARE(seen.minimum, 0.0);
    QCOMPARE(seen.maximum, maximum);
    QCOMPARE(seen.decimals, 1);
    QCOMPARE(seen.parent, window.get());
    QCOMPARE(writes(), expected);
    QCOMPARE(sim->cycles().size(), expected.size()); // nothing is read back by the command
}

void TestCommands::setVoltageStartsAtPolledValue()
{
    SeenDialog seen;
    DialogDriver::reject(&seen);
    click("btnSetVset_B");
    QCOMPARE(seen.value, 0.0); // nothing polled yet

    sim->setRegister(0x08, 1500);
    Access::tick(*window);
    DialogDriver::reject(&seen);
    click("btnSetVset_B");
    QCOMPARE(seen.value, 1500.0);
}

void TestCommands::rampSpeed_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("polledVset");
    QTest::addColumn<double>("entered");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QVector<Write>>("expected");

    const QString labelA = "Input a Voltage Ramp Speed (2...255 V/s) for Channel A";
    const QString labelB = "Input a Voltage Ramp Speed (2...255 V/s) for Channel B";
    QTest::newRow("B 50 at 800 V")
        << "btnSetRamp_B" << 800 << 50.0 << labelB << QVector<Write>{{0xDD10, 50}, {0xDD38, 800}};
    // The set voltage is read back from the module at the command, not taken from a tick.
    QTest::newRow("A before the first tick")
        << "btnSetRamp_A" << -1 << 7.5 << labelA << QVector<Write>{{0xDD0C, 7}, {0xDD34, 1000}};
}

void TestCommands::rampSpeed()
{
    QFETCH(QString, button);
    QFETCH(int, polledVset);
    QFETCH(double, entered);
    QFETCH(QString, label);
    QFETCH(QVector<Write>, expected);

    if (polledVset >= 0) {
        sim->setRegister(button.endsWith('A') ? 0x04 : 0x08, quint16(polledVset));
        Access::tick(*window);
        sim->clearLog();
    }
    SeenDialog seen;
    DialogDriver::acceptDouble(entered, &seen);
    click(button.toLatin1());
    QCOMPARE(seen.label, label);
    QCOMPARE(seen.title, QString("pavex BRELK Control"));
    QCOMPARE(seen.minimum, 2.0);
    QCOMPARE(seen.maximum, 255.0);
    QCOMPARE(seen.decimals, 1);
    QCOMPARE(writes(), expected);
}

// The set voltage a ramp speed re-sends is the one the module holds when it is written: a set
// voltage written since the last tick, or while the poll is stopped, is not undone.
void TestCommands::rampSpeedFollowsTheHeldSetVoltage_data()
{
    QTest::addColumn<bool>("rampFirst");
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<QVector<Write>>("expected");

    const QVector<Write> setThenRamp{{0xDD34, 0}, {0xDD0C, 100}, {0xDD34, 0}};
    const QVector<Write> rampThenSet{{0xDD0C, 100}, {0xDD34, 1000}, {0xDD34, 0}};
    QTest::newRow("set voltage, then ramp in one tick") << false << 0 << setThenRamp;
    QTest::newRow("ramp, then set voltage in one tick") << true << 0 << rampThenSet;
    QTest::newRow("set voltage, then ramp 2 s later, poll stopped") << false << 2000 << setThenRamp;
    QTest::newRow("ramp, then set voltage 2 s later, poll stopped") << true << 2000 << rampThenSet;
}

void TestCommands::rampSpeedFollowsTheHeldSetVoltage()
{
    QFETCH(bool, rampFirst);
    QFETCH(int, gapMs);
    QFETCH(QVector<Write>, expected);

    Access::tick(*window);
    sim->clearLog();
    const char *const buttons[] = {"btnSetVset_A", "btnSetRamp_A"};
    const double values[] = {0, 100};
    for (int i = 0; i < 2; ++i) {
        const int command = rampFirst ? 1 - i : i;
        DialogDriver::acceptDouble(values[command]);
        click(buttons[command]);
        if (i == 0)
            QTest::qWait(gapMs);
    }
    QCOMPARE(writes(), expected);
}

void TestCommands::rampSpeedOnATrippedChannel()
{
    sim->setRegister(0x30, 0x0002); // TRP of channel A
    Access::tick(*window);
    sim->clearLog();
    DialogDriver::acceptDouble(50);
    click("btnSetRamp_A");
    QCOMPARE(writes(), (QVector<Write>{{0xDD0C, 50}}));
    const auto *notice = window->findChild<QLabel *>(QStringLiteral("lblCommand"));
    QVERIFY(notice);
    QCOMPARE(notice->text(),
             QStringLiteral("Ramp speed stored; channel A stays off until a new set voltage"));
    // The next tick's serial number leaves the notice where it is.
    Access::tick(*window);
    QCOMPARE(notice->text(),
             QStringLiteral("Ramp speed stored; channel A stays off until a new set voltage"));

    sim->clearLog();
    DialogDriver::acceptDouble(50);
    click("btnSetRamp_B");
    QCOMPARE(writes(), (QVector<Write>{{0xDD10, 50}, {0xDD38, 500}}));
}

// A write the module does not acknowledge ends the command, on the bus and in the status bar.
void TestCommands::failedWriteIsShown()
{
    Access::tick(*window);
    QVERIFY(sim->configure("BRELKSIM_WRITES_FAIL", "on"));
    sim->clearLog();
    DialogDriver::acceptDouble(100);
    click("btnSetRamp_A");
    const QVector<SimControl::Cycle> cycles = sim->cycles();
    QCOMPARE(cycles.size(), 4); // status, status 2, set voltage, then the failed ramp speed
    QVERIFY(cycles.last().write);
    QCOMPARE(cycles.last().address, 0xDD0Cu);
    QVERIFY(cycles.last().status < 0);
    const auto *notice = window->findChild<QLabel *>(QStringLiteral("lblCommand"));
    QVERIFY(notice);
    QCOMPARE(notice->text(), QStringLiteral("Write to the module at 0xDD00 failed (register "
                                            "0x0C): Input/output error (error -5)"));
}

void TestCommands::cancelWritesNothing_data()
{
    QTest::addColumn<QString>("button");
    for (const char *button :
         {"btnSetVset_A", "btnSetVset_B", "btnSetRamp_A", "btnSetRamp_B", "btnSetSoftLimitI_A",
          "btnSetSoftLimitI_B", "btnSetSoftLimitI2_A", "btnSetSoftLimitI2_B"})
        QTest::newRow(button) << button;
}

void TestCommands::cancelWritesNothing()
{
    QFETCH(QString, button);
    click("chk_I2_1nA");
    Access::tick(*window);
    sim->clearLog();

    MessageCapture debug;
    SeenDialog seen;
    DialogDriver::reject(&seen);
    click(button.toLatin1());
    QVERIFY(seen.shown);
    QCOMPARE(sim->cycles().size(), 0);
    QCOMPARE(debug.lines(), QStringList());
}

void TestCommands::softLimitI_data()
{
    QTest::addColumn<QString>("resolution");
    QTest::addColumn<QString>("button");
    QTest::addColumn<double>("entered");
    QTest::addColumn<QString>("label");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<QVector<Write>>("expected");
    QTest::addColumn<QString>("debugLine");

    QTest::newRow("1 uA, A 1.5 mA")
        << "chk_I_1uA"
        << "btnSetSoftLimitI_A" << 1.5 << "Input a Software current limit (0...6 mA) for Channel A"
        << 6.0 << QVector<Write>{{0xDD44, 1500}} << "Current Limit channel 0 = 1500";
    QTest::newRow("100 nA, B 250 uA")
        << "chk_I_100nA"
        << "btnSetSoftLimitI_B" << 250.0
        << "Input a Software current limit (0...6000 uA) for Channel B" << 6000.0
        << QVector<Write>{{0xDD48, 2500}} << "Current Limit channel 1 = 2500";
    QTest::newRow("10 nA, A 0.3 uA")
        << "chk_I_10nA"
        << "btnSetSoftLimitI_A" << 0.3
        << "Input a Software current limit (0...655.3 uA) for Channel A" << 655.3
        << QVector<Write>{{0xDD44, 30}} << "Current Limit channel 0 = 30";
    QTest::newRow("1 nA, B 0.5 uA")
        << "chk_I_1nA"
        << "btnSetSoftLimitI_B" << 0.5
        << "Input a Software current limit (0...65.5 uA) for Channel B" << 65.5
        << QVector<Write>{{0xDD48, 500}} << "Current Limit channel 1 = 500";
    QTest::newRow("1 nA, entry above the register is held at its end")
        << "chk_I_1nA"
        << "btnSetSoftLimitI_A" << 6000.0
        << "Input a Software current limit (0...65.5 uA) for Channel A" << 65.5
        << QVector<Write>{{0xDD44, 65500}} << "Current Limit channel 0 = 65500";
}

void TestCommands::softLimitI()
{
    QFETCH(QString, resolution);
    QFETCH(QString, button);
    QFETCH(double, entered);
    QFETCH(QString, label);
    QFETCH(double, maximum);
    QFETCH(QVector<Write>, expected);
    QFETCH(QString, debugLine);

    click(resolution.toLatin1());
    MessageCapture debug;
    SeenDialog seen;
    DialogDriver::acceptDouble(entered, &seen);
    click(button.toLatin1());
    QCOMPARE(seen.title, QString("pavex BRELK Control"));
    QCOMPARE(seen.label, label);
    QCOMPARE(seen.minimum, 0.0);
    QCOMPARE(seen.maximum, maximum);
    QCOMPARE(seen.decimals, 1);
    QCOMPARE(writes(), expected);
    QCOMPARE(debug.lines(), QStringList{debugLine});
}

void TestCommands::softLimitIStartsAtPolledValue()
{
    sim->setRegister(0x44, 2500);
    Access::tick(*window);
    SeenDialog seen;
    DialogDriver::reject(&seen);
    click("btnSetSoftLimitI_A");
    QCOMPARE(seen.value, 2.5);

    // The dialog keeps one decimal: 1.234 mA is offered as 1.2 and confirmed as 1200 counts.
    sim->setRegister(0x44, 1234);
    Access::tick(*window);
    sim->clearLog();
    DialogDriver::onNextModal([](QWidget *dialog) {
        auto *input = qobject_cast<QInputDialog *>(dialog);
        QCOMPARE(input->doubleValue(), 1.2);
        input->accept();
    });
    click("btnSetSoftLimitI_A");
    QCOMPARE(writes(), (QVector<Write>{{0xDD44, 1200}}));
}

void TestCommands::softLimitI2_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<QString>("button");
    QTest::addColumn<double>("entered");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QVector<Write>>("expected");
    QTest::addColumn<QStringList>("debugLines");

    const QString labelA = "Input a Software current limit second range (0...%1 uA) for Channel A:";
    const QString labelB = "Input a Software current limit second range (0...%1 uA) for Channel B:";
    QTest::newRow("1 nA, A 12.3") << "chk_I2_1nA"
                                  << "btnSetSoftLimitI2_A" << 12.3 << labelA.arg("65.5") << 1
                                  << QVector<Write>{{0xDD46, 12300}}
                                  << QStringList{"Limit I2 A =  12300"};
    QTest::newRow("100 pA, B 3.2") << "chk_I2_100pA"
                                   << "btnSetSoftLimitI2_B" << 3.2 << labelB.arg("6.55") << 2
                                   << QVector<Write>{{0xDD4A, 32000}} << QStringList{};
    QTest::newRow("100 pA, A 0.3")
        << "chk_I2_100pA"
        << "btnSetSoftLimitI2_A" << 0.3 << labelA.arg("6.55") << 2 << QVector<Write>{{0xDD46, 3000}}
        << QStringList{"Limit I2 A =  3000"};
}

void TestCommands::softLimitI2()
{
    QFETCH(QString, range);
    QFETCH(QString, button);
    QFETCH(double, entered);
    QFETCH(QString, label);
    QFETCH(int, decimals);
    QFETCH(QVector<Write>, expected);
    QFETCH(QStringList, debugLines);

    click(range.toLatin1());
    MessageCapture debug;
    SeenDialog seen;
    DialogDriver::acceptDouble(entered, &seen);
    click(button.toLatin1());
    QCOMPARE(seen.title, QString("pavex BRELK Control"));
    QCOMPARE(seen.label, label);
    QCOMPARE(seen.decimals, decimals);
    QCOMPARE(writes(), expected);
    QCOMPARE(debug.lines(), debugLines);
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

void TestCommands::pollRunsWhileDialogIsOpen()
{
    Access::timer(*window)->start();
    int readsWhileOpen = 0;
    DialogDriver::onNextModal([this, &readsWhileOpen](QWidget *dialog) {
        const int before = sim->cycles().size();
        QTimer::singleShot(450, dialog, [this, dialog, before, &readsWhileOpen] {
            readsWhileOpen = sim->cycles().size() - before;
            qobject_cast<QDialog *>(dialog)->reject();
        });
    });
    click("btnSetVset_A");
    QVERIFY2(readsWhileOpen >= 2 * 17, qPrintable(QString::number(readsWhileOpen)));
    QCOMPARE(writes().size(), 0);
}

void TestCommands::voltageRoundTrip()
{
    Access::tick(*window);
    DialogDriver::acceptDouble(1500);
    click("btnSetVset_A");
    sim->advance(100);
    Access::tick(*window);
    QCOMPARE(field("txtVset_A"), QString("1500 V"));
    QCOMPARE(field("txtStatus_A"), QString("Ramp up"));

    sim->advance(120000);
    Access::tick(*window);
    QCOMPARE(field("txtStatus_A"), QString("Stable"));
    QCOMPARE(field("txtVmeas_A"), QString("1500 V"));
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
