// The 100 ms poll as the module sees it (the ordered reads of one tick) and as the operator sees
// it (the texts of every field), against an in-memory controller.
#include "alertcapture.h"
#include "brelkcontroltestaccess.h"
#include "fakecontroller.h"
#include "messagecapture.h"
#include "settingsfile.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTranslator>
#include <QtTest>

#include <iterator>
#include <memory>

using Access = BrelkControlTestAccess;
using namespace Brelk;

namespace {

const char *const AllFields[] = {
    "txtVset_A",       "txtVset_B",        "txtRamp_A",        "txtRamp_B",     "txtVmeas_A",
    "txtVmeas_B",      "txtImeas_A",       "txtImeas_B",       "txtImeas2_A",   "txtImeas2_B",
    "txtStatus_A",     "txtStatus_B",      "txtPolarity_A",    "txtPolarity_B", "txtKill_A",
    "txtKill_B",       "txtHVON_A",        "txtHVON_B",        "txtStatus2_A",  "txtStatus2_B",
    "txtLimitV_A",     "txtLimitV_B",      "txtLimitI_A",      "txtLimitI_B",   "txtSoftLimitI_A",
    "txtSoftLimitI_B", "txtSoftLimitI2_A", "txtSoftLimitI2_B",
};

} // namespace

class TestPoll : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fieldTexts_data();
    void fieldTexts();
    void secondRangeNoneKeepsLastReading();
    void silentTickChangesNothing_data();
    void silentTickChangesNothing();
    void operatorTextIsOverwrittenSelectionKept();
    void newLanguageShowsAtTheNextSteadyTick();
    void alarmsColourTheirFields();

private:
    QString field(const char *name) { return window->findChild<QLineEdit *>(name)->text(); }
    void check(const char *radio) { window->findChild<QRadioButton *>(radio)->click(); }
    QStringList allFieldTexts();
    // The fields drawn as stale: every field a complete tick writes, or none.
    QStringList staleFields();
    quint32 at(quint32 offset) const { return 0xDD00 + offset; }

    std::unique_ptr<BrelkControl> window;
    FakeController *bus = nullptr;
};

void TestPoll::initTestCase()
{
    // The window connects at construction; the simulated bridge keeps that quiet.
    QLibrary simulator("libxxusb");
    QVERIFY2(simulator.load(), "the module simulator is not on the library search path");
    QFile::remove(settingsPath());
}

void TestPoll::init()
{
    window.reset(new BrelkControl);
    bus = new FakeController;
    Access::useController(*window, bus);
    bus->registers[at(0x3C)] = 0x1234;
}

void TestPoll::cleanup()
{
    QLocale::setDefault(QLocale::c());
    window.reset();
    QFile::remove(settingsPath());
}

QStringList TestPoll::allFieldTexts()
{
    QStringList texts;
    for (const char *name : AllFields)
        texts << field(name);
    texts << window->statusBar()->currentMessage();
    return texts;
}

QStringList TestPoll::staleFields()
{
    QStringList stale;
    for (const char *name : AllFields) {
        auto *edit = window->findChild<QLineEdit *>(name);
        if (edit->font().italic()) {
            stale << name;
            if (edit->palette().color(QPalette::Text) !=
                window->palette().color(QPalette::Disabled, QPalette::Text))
                stale << QStringLiteral("(not in the disabled text colour)");
        }
    }
    return stale;
}

void TestPoll::fieldTexts_data()
{
    QTest::addColumn<QString>("selection"); // radio buttons to click, comma separated
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("fieldName");
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("text");

    // Measured current: unit follows the resolution, decimals from the resolution too.
    QTest::newRow("Imeas 10 nA") << "chk_I_10nA" << 0x1C << "txtImeas_A" << 1234 << "12.340 uA";
    QTest::newRow("Imeas 1 nA") << "chk_I_1nA" << 0x1C << "txtImeas_A" << 1234 << "1.2340 uA";
    QTest::newRow("Imeas B 1 uA") << "chk_I_1uA" << 0x20 << "txtImeas_B" << 1 << "0.001 mA";
    // Software limits in the general format.
    QTest::newRow("limit 1 uA") << "chk_I_1uA" << 0x44 << "txtSoftLimitI_A" << 500 << "0.5 mA";
    QTest::newRow("limit B 10 nA")
        << "chk_I_10nA" << 0x48 << "txtSoftLimitI_B" << 65535 << "655.35 uA";
    // Voltages.
    QTest::newRow("Vmeas standard") << "chk_U_1V" << 0x14 << "txtVmeas_A" << 1234 << "1234 V";
    QTest::newRow("Vmeas 100 mV") << "chk_U_100mV" << 0x16 << "txtVmeas_A" << 12345 << "1234.5 V";
    QTest::newRow("Vset B") << "" << 0x08 << "txtVset_B" << 1500 << "1500 V";
    QTest::newRow("Ramp") << "" << 0x0C << "txtRamp_A" << 255 << "255 V/s";
    QTest::newRow("Ramp B") << "" << 0x10 << "txtRamp_B" << 2 << "2 V/s";
    // Second range.
    QTest::newRow("Imeas2 1 nA") << "chk_I2_1nA" << 0x1E << "txtImeas2_A" << 12345 << "12.345 uA";
    QTest::newRow("Imeas2 100 pA")
        << "chk_I2_100pA" << 0x26 << "txtImeas2_A" << 12345 << "1.2345 uA";
    QTest::newRow("Imeas2 B 1 nA") << "chk_I2_1nA" << 0x22 << "txtImeas2_B" << 65535 << "65.535 uA";
    QTest::newRow("limit2 100 pA")
        << "chk_I2_100pA" << 0x46 << "txtSoftLimitI2_A" << 500 << "0.05 uA";
    QTest::newRow("limit2 B 1 nA")
        << "chk_I2_1nA" << 0x4A << "txtSoftLimitI2_B" << 12300 << "12.3 uA";
    // Limits word: bits above 7 are not masked.
    QTest::newRow("limit V 0x00A5") << "" << 0x24 << "txtLimitV_A" << 0x00A5 << "V: 100 %";
    QTest::newRow("limit I 0x00A5") << "" << 0x24 << "txtLimitI_A" << 0x00A5 << "I: 50 %";
    // Status word: channel A low byte, channel B high byte.
    QTest::newRow("ramp up") << "" << 0x00 << "txtStatus_A" << 0x0060 << "Ramp up";
    QTest::newRow("B ramp up") << "" << 0x00 << "txtStatus_B" << 0x6000 << "Ramp up";
    QTest::newRow("B not from A") << "" << 0x00 << "txtStatus_B" << 0x00FF << "Stable";
    QTest::newRow("positive B") << "" << 0x00 << "txtPolarity_B" << 0x0400 << "Positive";
    QTest::newRow("kill enable B") << "" << 0x00 << "txtKill_B" << 0x1000 << "Kill Enable";
    QTest::newRow("HV off B") << "" << 0x00 << "txtHVON_B" << 0x0800 << "HV Off";
    // Event flags.
    QTest::newRow("events 0x92") << "" << 0x30 << "txtStatus2_A" << 0x0092 << "QUA+VLIM+TRP";
    QTest::newRow("events all B") << "" << 0x30 << "txtStatus2_B" << 0xFF00
                                  << "QUA+VLIM+ILIM+TRP+INH";
    QTest::newRow("events A only") << "" << 0x30 << "txtStatus2_B" << 0x00FF << "";
    // Serial number in the status bar, lower-case hex without leading zeros.
    QTest::newRow("serial fffe") << "" << 0x3C << "statusBar" << 0xFFFE
                                 << "Module serial number fffe";
}

void TestPoll::fieldTexts()
{
    QFETCH(QString, selection);
    QFETCH(int, offset);
    QFETCH(QString, fieldName);
    QFETCH(int, word);

    // Numbers ignore the operator's locale, which would write a decimal comma here.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    for (const QString &radio : selection.split(',', Qt::SkipEmptyParts))
        check(radio.toLatin1());
    bus->registers[at(offset)] = quint16(word);
    Access::tick(*window);
    QTEST(fieldName == "statusBar" ? window->statusBar()->currentMessage()
                                   : field(fieldName.toLatin1()),
          "text");
}

void TestPoll::secondRangeNoneKeepsLastReading()
{
    check("chk_I2_1nA");
    bus->registers[at(0x1E)] = 1000;
    bus->registers[at(0x46)] = 2000;
    Access::tick(*window);
    QCOMPARE(Access::shown(*window).imeas2[0], 1000 * 1e-9);
    QCOMPARE(Access::shown(*window).softLimitI2[0], 2000 * 1e-9);

    check("chk_I2_None");
    bus->registers[at(0x1E)] = 3000;
    Access::tick(*window);
    QCOMPARE(Access::shown(*window).imeas2[0], 1000 * 1e-9);
    QCOMPARE(Access::shown(*window).softLimitI2[0], 0.0);
    QCOMPARE(field("txtImeas2_A"), QString("----"));
    QCOMPARE(field("txtSoftLimitI2_B"), QString("----"));
}

void TestPoll::silentTickChangesNothing_data()
{
    QTest::addColumn<int>("serial");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("serialStored");

    QTest::newRow("no module answers") << 0xFFFF << 0 << true;
    QTest::newRow("bus error, CAEN status") << 0x1234 << -1 << false;
    QTest::newRow("CAEN without library") << 0x1234 << -3 << false;
}

// A tick that does not complete changes nothing; three in a row mark every reading stale, keeping
// its text, and say since when the module has not answered; the next complete tick recovers.
void TestPoll::silentTickChangesNothing()
{
    QFETCH(int, serial);
    QFETCH(int, status);
    QFETCH(bool, serialStored);

    QSignalSpy staleSignals(window.get(), &BrelkControl::readingsStale);
    check("chk_I2_100pA");
    for (quint32 offset = 0; offset <= 0x4A; offset += 2)
        bus->registers[at(offset)] = quint16(0x0101 * (offset + 1));
    bus->registers[at(0x3C)] = 0x00A3;
    const QString heardBefore = QTime::currentTime().toString("hh:mm:ss");
    Access::tick(*window);
    const QString heardAfter = QTime::currentTime().toString("hh:mm:ss");
    const QStringList textsBefore = allFieldTexts();
    QVector<double> stateBefore = Access::state(*window);

    for (quint32 offset = 0; offset <= 0x4A; offset += 2)
        bus->registers[at(offset)] = quint16(0x0202 * (offset + 3));
    bus->registers[at(0x3C)] = quint16(serial);
    bus->status = status;
    Access::tick(*window);
    QCOMPARE(allFieldTexts(), textsBefore);
    if (serialStored)
        stateBefore.last() = quint16(serial);
    QCOMPARE(Access::state(*window), stateBefore);

    Access::tick(*window);
    QCOMPARE(staleFields(), QStringList());
    QCOMPARE(allFieldTexts(), textsBefore);

    Access::tick(*window);
    QCOMPARE(staleFields().size(), int(std::size(AllFields)));
    const QString noAnswer =
        QStringLiteral("No answer from the module at VME address 0xDD00 since ");
    const QString message = window->statusBar()->currentMessage();
    QVERIFY2(message == noAnswer + heardBefore || message == noAnswer + heardAfter,
             qPrintable(message));
    QCOMPARE(allFieldTexts().mid(0, int(std::size(AllFields))),
             textsBefore.mid(0, int(std::size(AllFields))));
    Access::tick(*window);
    QCOMPARE(staleSignals.size(), 1);

    // The next good tick recovers by itself.
    bus->registers[at(0x3C)] = 0x00A4;
    bus->status = 0;
    Access::tick(*window);
    QCOMPARE(window->statusBar()->currentMessage(), QString("Module serial number a4"));
    QVERIFY(allFieldTexts() != textsBefore);
    QCOMPARE(staleFields(), QStringList());
}

// The next tick writes over an operator's text in a field, though the reading is the same; a
// field whose text is the reading's is not written again, so a selection made to copy it stays.
void TestPoll::operatorTextIsOverwrittenSelectionKept()
{
    bus->registers[at(0x04)] = 1500;
    bus->registers[at(0x14)] = 1234;
    Access::tick(*window);
    auto *vsetField = window->findChild<QLineEdit *>("txtVset_A");
    auto *vmeasField = window->findChild<QLineEdit *>("txtVmeas_A");
    vsetField->setText("9999");
    vmeasField->selectAll();
    Access::tick(*window);
    QCOMPARE(vsetField->text(), QString("1500 V"));
    QVERIFY2(vmeasField->hasSelectedText(), "a tick rewrote an unchanged reading");
}

// A tick that reads what the form shows writes nothing, except after a change of language.
void TestPoll::newLanguageShowsAtTheNextSteadyTick()
{
    struct German : QTranslator
    {
        bool isEmpty() const override { return false; }
        QString translate(const char *, const char *sourceText, const char *, int) const override
        {
            if (qstrcmp(sourceText, "Module serial number %1") == 0)
                return QStringLiteral("Modul-Seriennummer %1");
            return qstrcmp(sourceText, "Stable") == 0 ? QStringLiteral("Stabil") : QString();
        }
    } german;
    Access::tick(*window);
    QCOMPARE(field("txtStatus_A"), QString("Stable"));
    QCOMPARE(window->statusBar()->currentMessage(), QString("Module serial number 1234"));
    QVERIFY(QCoreApplication::installTranslator(&german));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    Access::tick(*window);
    const QString shown = field("txtStatus_A");
    const QString message = window->statusBar()->currentMessage();
    QCoreApplication::removeTranslator(&german);
    QCOMPARE(shown, QString("Stabil"));
    QCOMPARE(message, QString("Modul-Seriennummer 1234"));
}

// Red: white text on red; amber: black on amber, here beyond the tolerance of the measured
// voltage the settings file gives; the normal look again when the alarm is over. A channel that
// newly turns red is named once in a debug line and flashes the taskbar entry once; amber and a
// red that goes on do not. Reading the settings file never writes it.
void TestPoll::alarmsColourTheirFields()
{
    const QByteArray contents = "VoltageDeviationAlarm=150\n";
    QVERIFY(writeSettingsFile(settingsPath(), contents));
    init();
    auto *events = window->findChild<QLineEdit *>("txtStatus2_A");
    auto *state = window->findChild<QLineEdit *>("txtStatus_B");
    auto *vmeasA = window->findChild<QLineEdit *>("txtVmeas_A");
    const QPalette normal = window->findChild<QLineEdit *>("txtKill_A")->palette();
    bus->registers[at(0x04)] = 1000;
    bus->registers[at(0x14)] = 1000;
    bus->registers[at(0x30)] = EventILIM | EventTRP;

    MessageCapture debug;
    alertedWindows.clear();
    Access::tick(*window);
    QCOMPARE(debug.linesStartingWith("Channel"), QStringList{"Channel A alarm: ILIM+TRP"});
    QCOMPARE(alertedWindows, QVector<QWidget *>{window.get()});
    Access::tick(*window);
    QCOMPARE(alertedWindows.size(), 1);
    QVERIFY(events->palette().color(QPalette::Base) != normal.color(QPalette::Base));
    QCOMPARE(events->palette().color(QPalette::Text), QColor(Qt::white));
    const QColor red = events->palette().color(QPalette::Base);

    // Still red, but not new; channel B's error is.
    bus->registers[at(0x30)] = 0;
    bus->registers[at(0x00)] = quint16(StatusError) << 8;
    debug.clear();
    Access::tick(*window);
    QCOMPARE(debug.linesStartingWith("Channel"), QStringList{"Channel B alarm: Error"});
    QCOMPARE(alertedWindows, (QVector<QWidget *>{window.get(), window.get()}));
    QCOMPARE(state->palette().color(QPalette::Base), red);
    QCOMPARE(state->palette().color(QPalette::Text), QColor(Qt::white));

    // Cleared and over: normal again, 100 V below the set voltage within the tolerance.
    window->findChild<QPushButton *>("btnClearStatus2_A")->click();
    bus->registers[at(0x00)] = 0;
    bus->registers[at(0x14)] = 900;
    Access::tick(*window);
    QCOMPARE(events->palette(), normal);
    QCOMPARE(state->palette(), normal);
    QCOMPARE(vmeasA->palette(), normal);
    bus->registers[at(0x14)] = 849;
    Access::tick(*window);
    QVERIFY(vmeasA->palette().color(QPalette::Base) != normal.color(QPalette::Base));
    QVERIFY(vmeasA->palette().color(QPalette::Base) != red);
    QCOMPARE(vmeasA->palette().color(QPalette::Text), QColor(Qt::black));
    QCOMPARE(alertedWindows.size(), 2);
    window.reset();
    QCOMPARE(readSettingsFile(), contents);
}

QTEST_MAIN(TestPoll)
#include "tst_poll.moc"
