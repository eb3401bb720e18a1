// The main window's life: what it reads from the settings file next to the executable, the debug
// lines it leaves, its title, the poll timer it sets up, a language change and File > Quit.
#include "brelkcontroltestaccess.h"
#include "fakecontroller.h"
#include "settingsfile.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>
#include <utility>

using Access = BrelkControlTestAccess;

namespace {

void writeSettings(const QByteArray &contents)
{
    QVERIFY(writeSettingsFile(settingsPath(), contents));
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void resolutionOptionsCheckTheButtons_data();
    void resolutionOptionsCheckTheButtons();
    void pollTimer();
    void quitClosesTheWindow();

private:
    void construct() { window.reset(new BrelkControl); }

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

void TestWindow::resolutionOptionsCheckTheButtons_data()
{
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<QStringList>("checked");

    QTest::newRow("absent") << QByteArray() << QStringList{"chk_U_1V", "chk_I_1uA", "chk_I2_None"};
    QTest::newRow("every option")
        << QByteArray("VoltageResolution=100mV\nCurrentResolution=1nA\nSecondRange=100pA\n")
        << QStringList{"chk_U_100mV", "chk_I_1nA", "chk_I2_100pA"};
}

// The options of the settings file check the radio buttons before the first tick, which reads
// under them; the window never writes them back, and a language change leaves the buttons as the
// operator set them.
void TestWindow::resolutionOptionsCheckTheButtons()
{
    QFETCH(QByteArray, options);
    QFETCH(QStringList, checked);

    writeSettings("[General]\nBaseAddress=0xDD00\n" + options);
    const QByteArray before = readSettingsFile();
    construct();
    for (const QString &name : checked)
        QVERIFY2(window->findChild<QRadioButton *>(name)->isChecked(), qPrintable(name));
    const bool secondRange = !checked.contains(QStringLiteral("chk_I2_None"));
    QCOMPARE(window->findChild<QPushButton *>("btnSetSoftLimitI2_A")->isEnabled(), secondRange);
    QCOMPARE(window->findChild<QPushButton *>("btnSetSoftLimitI2_B")->isEnabled(), secondRange);
    const Brelk::ResolutionSelection selection = Access::session(*window)->selection();
    QCOMPARE(selection.fineVoltage, checked.contains(QStringLiteral("chk_U_100mV")));

    window->findChild<QRadioButton *>("chk_U_1V")->click();
    QVERIFY(!Access::session(*window)->selection().fineVoltage);

    // A language change keeps the operator's selection and the texts of the fields.
    window->findChild<QRadioButton *>("chk_I_100nA")->click();
    window->findChild<QLineEdit *>("txtVset_A")->setText(QStringLiteral("1500 V"));
    QEvent languageChange(QEvent::LanguageChange);
    QCoreApplication::sendEvent(window.get(), &languageChange);
    QVERIFY(window->findChild<QRadioButton *>("chk_U_1V")->isChecked());
    QVERIFY(window->findChild<QRadioButton *>("chk_I_100nA")->isChecked());
    QCOMPARE(window->findChild<QPushButton *>("btnSetSoftLimitI2_A")->isEnabled(), secondRange);
    QCOMPARE(window->findChild<QLineEdit *>("txtVset_A")->text(), QStringLiteral("1500 V"));
    window.reset();
    QCOMPARE(readSettingsFile(), before);
}

void TestWindow::pollTimer()
{
    construct();
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

// File > Quit closes the only window, and that ends the event loop normally.
void TestWindow::quitClosesTheWindow()
{
    construct();
    Access::timer(*window)->stop();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    QAction *quit = window->findChild<QAction *>("actionQuit");
    QTimer::singleShot(0, quit, &QAction::trigger);
    QTimer safety;
    safety.setSingleShot(true);
    connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    safety.start(5000);
    const int exitCode = QCoreApplication::exec();
    safety.stop();

    QCOMPARE(exitCode, 0);
    QVERIFY(!window->isVisible());
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
