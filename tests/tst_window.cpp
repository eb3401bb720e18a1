// The main window's life: the resolution options it reads from the settings file next to the
// executable, a language change, and the poll timer it sets up.
#include "brelkcontroltestaccess.h"
#include "fakecontroller.h"
#include "settingsfile.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>
#include <utility>

using Access = BrelkControlTestAccess;

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void resolutionOptionsCheckTheButtons();
    void pollTimer();

private:
    std::unique_ptr<BrelkControl> window;
};

void TestWindow::initTestCase()
{
    // The window connects at construction; the simulated bridge keeps that quiet.
    QLibrary simulator("libxxusb");
    QVERIFY2(simulator.load(), "the module simulator is not on the library search path");
    QFile::remove(settingsPath());
}

void TestWindow::cleanup()
{
    window.reset();
    QFile::remove(settingsPath());
}

// The options of the settings file check the radio buttons before the first tick, which reads
// under them; the window never writes them back, and a language change leaves the buttons as the
// operator set them. (Without options the form's defaults stand: the form's test.)
void TestWindow::resolutionOptionsCheckTheButtons()
{
    QVERIFY(writeSettingsFile(settingsPath(),
                              "[General]\nBaseAddress=0xDD00\nVoltageResolution=100mV\n"
                              "CurrentResolution=1nA\nSecondRange=100pA\n"));
    const QByteArray before = readSettingsFile();
    window.reset(new BrelkControl);
    for (const char *name : {"chk_U_100mV", "chk_I_1nA", "chk_I2_100pA"})
        QVERIFY2(window->findChild<QRadioButton *>(name)->isChecked(), name);
    QVERIFY(window->findChild<QPushButton *>("btnSetSoftLimitI2_A")->isEnabled());
    QVERIFY(window->findChild<QPushButton *>("btnSetSoftLimitI2_B")->isEnabled());
    QVERIFY(Access::session(*window)->selection().fineVoltage);

    window->findChild<QRadioButton *>("chk_U_1V")->click();
    QVERIFY(!Access::session(*window)->selection().fineVoltage);

    // A language change keeps the operator's selection and the texts of the fields.
    window->findChild<QRadioButton *>("chk_I_100nA")->click();
    window->findChild<QLineEdit *>("txtVset_A")->setText(QStringLiteral("1500 V"));
    QEvent languageChange(QEvent::LanguageChange);
    QCoreApplication::sendEvent(window.get(), &languageChange);
    QVERIFY(window->findChild<QRadioButton *>("chk_U_1V")->isChecked());
    QVERIFY(window->findChild<QRadioButton *>("chk_I_100nA")->isChecked());
    QVERIFY(window->findChild<QPushButton *>("btnSetSoftLimitI2_A")->isEnabled());
    QCOMPARE(window->findChild<QLineEdit *>("txtVset_A")->text(), QStringLiteral("1500 V"));
    window.reset();
    QCOMPARE(readSettingsFile(), before);
}

void TestWindow::pollTimer()
{
    window.reset(new BrelkControl);
    QTimer *timer = Access::timer(*window);
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 100);
    QVERIFY(!timer->isSingleShot());
    QVERIFY(timer->isActive());

    // Each timeout runs exactly one poll: the serial number opens every tick.
    auto *bus = new FakeController;
    Access::useController(*window, bus);
    QVERIFY(QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection));
    int serialReads = 0;
    for (const BusCycle &cycle : std::as_const(bus->cycles))
        serialReads += cycle.address == 0xDD00 + 0x3C && !cycle.write;
    QCOMPARE(serialReads, 1);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
