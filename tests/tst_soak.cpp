// Long runs of the 100 ms poll against an in-memory controller: a seeded soak of random register
// words and resolution selections, and every 16-bit word in every register a tick reads. After
// each tick every field must hold a well-formed text for the selected resolutions, and over the
// soak the process must not grow beyond what the trend's store takes for the ticks it holds.
#include "brelkcontroltestaccess.h"
#include "fakecontroller.h"
#include "processfigures.h"
#include "readinghistory.h"
#include "settingsfile.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QtTest>

#include <memory>
#include <random>

using Access = BrelkControlTestAccess;

// One radio button of each group, as indices into the button lists below.
struct Selection
{
    int voltage = 0;
    int current = 0;
    int secondRange = 0;
};
Q_DECLARE_METATYPE(Selection)
Q_DECLARE_METATYPE(QVector<Selection>)

namespace {

const char *const VoltageButtons[] = {"chk_U_1V", "chk_U_100mV"};
const char *const CurrentButtons[] = {"chk_I_1uA", "chk_I_100nA", "chk_I_10nA", "chk_I_1nA"};
const char *const SecondRangeButtons[] = {"chk_I2_None", "chk_I2_1nA", "chk_I2_100pA"};

// Whole numbers without leading zeros; the general format also drops trailing zeros after the
// point and never switches to exponent notation for these magnitudes.
const QString Whole = QStringLiteral("(0|[1-9]\\d*)");
const QString General = Whole + QStringLiteral("(\\.\\d*[1-9])?");
QString fixed(int decimals)
{
    return decimals == 0 ? Whole : Whole + QStringLiteral("\\.\\d{%1}").arg(decimals);
}

// Field name without its channel, and the pattern its whole text must match with this selection.
QList<QPair<QString, QString>> fieldPatterns(const Selection &selection)
{
    const int currentDecimals[] = {3, 2, 3, 4};
    const QString currentUnit =
        selection.current == 0 ? QStringLiteral(" mA") : QStringLiteral(" uA");
    const bool secondRange = selection.secondRange != 0;
    const QString none = QStringLiteral("----");
    return {{"txtVset", Whole + " V"},
            {"txtRamp", Whole + " V/s"},
            {"txtVmeas", fixed(selection.voltage == 0 ? 0 : 1) + " V"},
            {"txtImeas", fixed(currentDecimals[selection.current]) + currentUnit},
            {"txtImeas2", secondRange ? fixed(selection.secondRange == 1 ? 3 : 4) + " uA" : none},
            {"txtStatus", "Error|Manual|Ramp up|Ramp down|Stable"},
            {"txtPolarity", "Positive|Negative"},
            {"txtKill", "Kill Enable|Kill Disable"},
            {"txtHVON", "HV Off|HV On"},
            // Both limits come in steps of 10 %; the current limit has four bits.
            {"txtLimitV", "V: (0|[1-9]\\d*0) %"},
            {"txtLimitI", "I: (0|[1-9]0|1[0-5]0) %"},
            {"txtSoftLimitI", General + currentUnit},
            {"txtSoftLimitI2", secondRange ? General + " uA" : none}};
}

// Event names in their fixed order, each at most once, joined by single "+". Matched against the
// text with a "+" put in front, so that every name carries its own separator and an empty field
// is the lone "+".
const QRegularExpression
    EventPattern(QStringLiteral("^\\+$|^(\\+QUA)?(\\+VLIM)?(\\+ILIM)?(\\+TRP)?(\\+INH)?$"));
const QRegularExpression
    SerialPattern(QStringLiteral("^Module serial number (0|[1-9a-f][0-9a-f]{0,3})$"));

int environmentCount(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void soak();
    void everyWordInEveryRegister_data();
    void everyWordInEveryRegister();

private:
    void select(const Selection &selection);
    // Empty when every field is well-formed, else the first malformed field and its text.
    QString malformedField() const;
    quint32 at(quint32 offset) const { return 0xDD00 + offset; }

    std::unique_ptr<BrelkControl> window;
    FakeController *bus = nullptr;
    QVector<QPair<QLineEdit *, QRegularExpression>> rules;
    QLineEdit *events[2] = {nullptr, nullptr};
};

void TestSoak::initTestCase()
{
    // The window connects at construction; the simulated bridge keeps that quiet.
    QLibrary simulator("libxxusb");
    QVERIFY2(simulator.load(), "the module simulator is not on the library search path");
    QFile::remove(settingsPath());
}

void TestSoak::init()
{
    window.reset(new BrelkControl);
    bus = new FakeController;
    bus->recordCycles = false;
    Access::useController(*window, bus);
    // Every register the module has, so that the runs only overwrite words and never grow the map.
    for (quint32 offset = 0; offset <= 0x4A; offset += 2)
        bus->registers[at(offset)] = 0x5A5A;
    bus->registers[at(0x3C)] = 0x00A3;
    events[0] = window->findChild<QLineEdit *>("txtStatus2_A");
    events[1] = window->findChild<QLineEdit *>("txtStatus2_B");
    select(Selection());
}

void TestSoak::cleanup()
{
    window.reset();
}

void TestSoak::select(const Selection &selection)
{
    window->findChild<QRadioButton *>(VoltageButtons[selection.voltage])->click();
    window->findChild<QRadioButton *>(CurrentButtons[selection.current])->click();
    window->findChild<QRadioButton *>(SecondRangeButtons[selection.secondRange])->click();
    rules.clear();
    for (const char *channel : {"_A", "_B"}) {
        for (const auto &pattern : fieldPatterns(selection)) {
            rules.append(qMakePair(window->findChild<QLineEdit *>(pattern.first + channel),
                                   QRegularExpression('^' + pattern.second + '$')));
            rules.last().second.optimize();
        }
    }
}

QString TestSoak::malformedField() const
{
    for (const auto &rule : rules) {
        if (!rule.second.match(rule.first->text()).hasMatch())
            return rule.first->objectName() + " reads \"" + rule.first->text() + '"';
    }
    for (QLineEdit *field : events) {
        if (!EventPattern.match('+' + field->text()).hasMatch())
            return field->objectName() + " reads \"" + field->text() + '"';
    }
    const QString message = window->statusBar()->currentMessage();
    if (!SerialPattern.match(message).hasMatch())
        return "the status bar reads \"" + message + '"';
    return QString();
}

// Ticks with random words in every register and now and then another resolution selection or a
// press of a Clear button; the words never say "no module", so every tick is complete.
void TestSoak::soak()
{
    const int ticks = environmentCount("BRELK_SOAK_TICKS", 100000);
    const int warmUp = qMin(10000, ticks / 2);
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<int> word(0, 0xFFFF);
    std::uniform_int_distribution<int> serial(0, 0xFFFE);
    std::uniform_int_distribution<int> selectionPeriod(1000, 5000);
    std::uniform_int_distribution<int> oneIn16(0, 15);

    QPushButton *const clear[2] = {window->findChild<QPushButton *>("btnClearStatus2_A"),
                                   window->findChild<QPushButton *>("btnClearStatus2_B")};
    qint64 residentAfterWarmUp = 0;
    // The store grows with the ticks it holds, by design: that growth is not a leak.
    const Brelk::ReadingHistory *readings =
        Access::runtime(*window)->history(Access::session(*window));
    QVERIFY(readings);
    const auto storeKilobytes = [readings] { return readings->samples().memoryBytes() / 1024; };
    qint64 storeAfterWarmUp = 0;
    int nextSelection = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    for (int n = 1; n <= ticks; ++n) {
        if (n >= nextSelection) {
            select({int(random() % 2), int(random() % 4), int(random() % 3)});
            nextSelection = n + selectionPeriod(random);
        }
        for (auto it = bus->registers.begin(); it != bus->registers.end(); ++it)
            it.value() = quint16(word(random));
        bus->registers[at(0x3C)] = quint16(serial(random));
        // Without a Clear now and then the latch would show every event after a few ticks.
        for (QPushButton *button : clear) {
            if (oneIn16(random) == 0)
                button->click();
        }

        Access::tick(*window);
        const QString problem = malformedField();
        QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("tick %1: %2").arg(n).arg(problem)));
        if (n == warmUp) {
            residentAfterWarmUp = ProcessFigures::residentKilobytes();
            storeAfterWarmUp = storeKilobytes();
        }
    }
    const qint64 residentAtEnd = ProcessFigures::residentKilobytes();
    const qint64 storeGrowth = storeKilobytes() - storeAfterWarmUp;
    const qint64 growth = residentAtEnd - residentAfterWarmUp - storeGrowth;
    qInfo("soak: %d ticks in %lld ms; VmRSS %lld kB after %d ticks, %lld kB at the end: "
          "growth %lld kB besides the %lld kB the trend's store took",
          ticks, elapsed.elapsed(), residentAfterWarmUp, warmUp, residentAtEnd, growth,
          storeGrowth);
    if (residentAfterWarmUp < 0)
        QSKIP("resident memory is not known on this system");
    if (ProcessFigures::sanitizerHoldsFreedMemory())
        QSKIP("the address sanitizer's quarantine makes resident memory grow by design");
    QVERIFY2(growth < 2048, qPrintable(QStringLiteral("grew by %1 kB").arg(growth)));
}

void TestSoak::everyWordInEveryRegister_data()
{
    // Each register is swept under selections that make a tick read it; the words are dealt to
    // the selections in turn, so that each selection sees words from the whole range.
    QTest::addColumn<int>("offset");
    QTest::addColumn<QVector<Selection>>("selections");

    const QVector<Selection> any{{0, 0, 1}};
    const QVector<Selection> everyCurrentResolution{{0, 0, 0}, {1, 1, 1}, {0, 2, 2}, {1, 3, 0}};
    QTest::newRow("serial number") << 0x3C << any;
    QTest::newRow("status") << 0x00 << any;
    QTest::newRow("status 2") << 0x30 << any;
    // Each register of channel A, and channel B's 4 bytes above it.
    const auto both = [](const char *name, int offset, const QVector<Selection> &selections) {
        QTest::addRow("%s A", name) << offset << selections;
        QTest::addRow("%s B", name) << offset + 4 << selections;
    };
    both("Vset", 0x04, any);
    both("ramp", 0x0C, any);
    both("Vmeas", 0x14, {{0, 1, 0}});
    both("Vmeas fine", 0x16, {{1, 2, 0}});
    both("Imeas", 0x1C, everyCurrentResolution);
    both("Imeas2 1 nA", 0x1E, {{1, 3, 1}});
    both("Imeas2 100 pA", 0x26, {{0, 0, 2}});
    both("limits", 0x24, any);
    both("software limit", 0x44, everyCurrentResolution);
    both("software limit 2", 0x46, {{0, 0, 0}, {1, 1, 1}, {0, 2, 2}});
}

void TestSoak::everyWordInEveryRegister()
{
    QFETCH(int, offset);
    QFETCH(QVector<Selection>, selections);

    // A first complete tick, so that a word that ends a tick early finds every field filled.
    Access::tick(*window);
    const int stride = environmentCount("BRELK_SWEEP_STRIDE", 1);
    const int count = selections.size();
    for (int first = 0; first < count; ++first) {
        select(selections.at(first));
        for (int word = first * stride; word <= 0xFFFF; word += count * stride) {
            bus->registers[at(quint32(offset))] = quint16(word);
            // The latch would otherwise hide all but the first words of the event register.
            Access::clearStatus2Latch(*window);
            Access::tick(*window);
            const QString problem = malformedField();
            QVERIFY2(problem.isEmpty(),
                     qPrintable(QStringLiteral("word 0x%1: %2").arg(word, 4, 16).arg(problem)));
        }
    }
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
