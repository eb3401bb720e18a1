// The module session without a window: the reads of one tick in the module's order, the stale
// rules, every command's register writes as the module sees them, the bridge that always closes
// what it opened, the resolution options of the settings file, and the command line.
#include "bridge.h"
#include "commandline.h"
#include "crate.h"
#include "crateruntime.h"
#include "fakecontroller.h"
#include "messagecapture.h"
#include "modulesession.h"
#include "settings.h"
#include "settingsfile.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

using namespace Brelk;

namespace {

// Counts how its owner lets go of it.
struct CountingController : FakeController
{
    explicit CountingController(QStringList *events) : events(events) {}
    ~CountingController() override { *events << QStringLiteral("deleted"); }
    bool close() override
    {
        *events << QStringLiteral("closed");
        return true;
    }
    QStringList *events;
};

// "1500/-": channel A's ceiling, then B's; "-" for none.
QString ceilingsText(const VoltageCeilings &ceilings)
{
    QStringList parts;
    for (const std::optional<double> &volts : ceilings.volts)
        parts << (volts ? QString::number(*volts) : QStringLiteral("-"));
    return parts.join(QLatin1Char('/'));
}

} // namespace

Q_DECLARE_METATYPE(Brelk::ResolutionSelection)
Q_DECLARE_METATYPE(Brelk::VoltageCeilings)
Q_DECLARE_METATYPE(Brelk::WriteList)
using CrateCall = void (Brelk::Crate::*)();
Q_DECLARE_METATYPE(CrateCall)

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readsOfOneTick_data();
    void readsOfOneTick();
    void silentModuleGoesStaleAtTheThirdTick_data();
    void silentModuleGoesStaleAtTheThirdTick();
    void commandWrites_data();
    void commandWrites();
    void failedReadBackWritesNothing();
    void bridgeClosesBeforeDeleting();
    void baseAddressSetting_data();
    void baseAddressSetting();
    void moduleOptions_data();
    void moduleOptions();
    void commandLine_data();
    void commandLine();
    void furtherModules_data();
    void furtherModules();
    void crateTickOrder_data();
    void crateTickOrder();
    void tickAskedWhileTicking();
    void crateTellsEveryModule_data();
    void crateTellsEveryModule();
    void crateRefusesModules_data();
    void crateRefusesModules();

private:
    quint32 at(quint32 offset) const { return session->baseAddress() + offset; }
    // Reads of the words the bus holds at these offsets from `base`, in order.
    QVector<BusCycle> reads(quint32 base, const QList<int> &offsets) const
    {
        QVector<BusCycle> cycles;
        for (int offset : offsets)
            cycles.append(
                {base + quint32(offset), 0x29, bus->registers.value(base + offset), false});
        return cycles;
    }

    // The offsets of a tick's reads with the default resolution options, in the module's order.
    const QList<int> tickOffsets{0x3C, 0x04, 0x08, 0x0C, 0x10, 0x14, 0x18, 0x1C, 0x20,
                                 0x00, 0x30, 0x24, 0x28, 0x44, 0x48, 0x46, 0x4A};
    Bridge *bridge = nullptr;
    FakeController *bus = nullptr;
    ModuleSession *session = nullptr;
};

void TestSession::init()
{
    bridge = new Bridge;
    bus = new FakeController;
    bridge->adopt(bus, true);
    session = new ModuleSession(bridge, 0xDD00);
    session->connected();
}

void TestSession::cleanup()
{
    delete session;
    delete bridge;
}

void TestSession::readsOfOneTick_data()
{
    QTest::addColumn<ResolutionSelection>("options");
    QTest::addColumn<int>("base");
    QTest::addColumn<QList<int>>("offsets");

    const QList<int> head{0x3C, 0x04, 0x08, 0x0C, 0x10};
    const QList<int> tail{0x00, 0x30, 0x24, 0x28, 0x44, 0x48, 0x46, 0x4A};
    const QList<int> standard{0x14, 0x18}, fine{0x16, 0x1A}, currents{0x1C, 0x20};
    const QList<int> nA1{0x1E, 0x22}, pA100{0x26, 0x2A};
    const auto uA1 = CurrentResolution::uA1;

    QTest::newRow("100 mV, 1 nA") << ResolutionSelection{true, uA1, SecondRange::nA1} << 0xDD00
                                  << head + fine + currents + nA1 + tail;
    QTest::newRow("1 V, 100 pA at an address wider than 16 bits")
        << ResolutionSelection{false, CurrentResolution::nA1, SecondRange::pA100} << 0x1DD00
        << head + standard + currents + pA100 + tail;
}

void TestSession::readsOfOneTick()
{
    QFETCH(ResolutionSelection, options);
    QFETCH(int, base);
    QFETCH(QList<int>, offsets);

    session->setSelection(options);
    session->setBaseAddress(quint32(base));
    bus->registers[quint32(base) + 0x3C] = 0x0042;
    QSignalSpy readings(session, &ModuleSession::readingTaken);
    QVERIFY(session->poll());

    QCOMPARE(bus->cycles, reads(quint32(base), offsets));
    QCOMPARE(readings.size(), 1);
    const auto reading = readings.at(0).at(0).value<Reading>();
    QCOMPARE(selectionOf(reading), options);
    QCOMPARE(reading.serialNumber, quint16(0x0042));
}

void TestSession::silentModuleGoesStaleAtTheThirdTick_data()
{
    QTest::addColumn<int>("serial");
    QTest::addColumn<int>("status");
    QTest::newRow("nothing at the address") << 0xFFFF << 0;
    QTest::newRow("failed cycle") << 0x2101 << -1;
}

void TestSession::silentModuleGoesStaleAtTheThirdTick()
{
    QFETCH(int, serial);
    QFETCH(int, status);

    bus->registers[at(0x3C)] = 0x2101;
    QVERIFY(session->poll());
    const qint64 heardOf = session->silentSince();
    QSignalSpy stale(session, &ModuleSession::staleChanged);
    QSignalSpy noAnswer(session, &ModuleSession::noAnswer);
    QSignalSpy readings(session, &ModuleSession::readingTaken);

    bus->registers[at(0x3C)] = quint16(serial);
    bus->status = status;
    for (int tick = 1; tick <= 5; ++tick) {
        bus->cycles.clear();
        QVERIFY(!session->poll());
        // A silent tick ends at the serial number: nothing else is read.
        QCOMPARE(bus->cycles.size(), 1);
        QCOMPARE(stale.size(), tick < 3 ? 0 : 1);
        QCOMPARE(noAnswer.size(), tick < 3 ? 0 : 1);
    }
    QCOMPARE(stale.at(0).at(0).toBool(), true);
    QCOMPARE(noAnswer.at(0).at(0).toLongLong(), heardOf);
    QCOMPARE(readings.size(), 0);
    QVERIFY(session->lastReading());

    bus->registers[at(0x3C)] = 0x2101;
    bus->status = 0;
    QVERIFY(session->poll());
    QCOMPARE(stale.size(), 2);
    QCOMPARE(stale.at(1).at(0).toBool(), false);
}

// Every command as the module sees it, reads and writes in order. A ramp speed re-sends the set
// voltage the module holds at that moment, read back before anything is written, and none on a
// tripped channel; the first failed cycle ends the command. A list that would set a channel above
// its ceiling is refused whole: not one cycle, not even the writes before the set voltage, and
// not counted as a failure on the bus.
void TestSession::commandWrites_data()
{
    QTest::addColumn<WriteList>("writes");
    QTest::addColumn<VoltageCeilings>("ceilings");
    QTest::addColumn<int>("failing"); // status of every write; 0 when they succeed
    // 'R' or 'W', offset, word, ...; the words read are what the module holds. None: refused.
    QTest::addColumn<QList<int>>("expected");
    QTest::addColumn<QString>("report"); // the failure, the refusal or the note

    // The read-back of a ramp speed: status, events, then the channel's set voltage.
    const auto readBack = [](int status, int events, int vsetOffset, int vset) {
        return QList<int>{'R', 0x00, status, 'R', 0x30, events, 'R', vsetOffset, vset};
    };
    const VoltageCeilings free;
    QTest::newRow("ramp A, the held set voltage follows")
        << rampSpeedWrites(0, 20) << free << 0
        << readBack(0, 0, 0x04, 1000) + QList<int>{'W', 0x0C, 20, 'W', 0x34, 1000} << QString();
    QTest::newRow("ramp B, the held set voltage follows")
        << rampSpeedWrites(1, 255) << free << 0
        << readBack(0, 0, 0x08, 2000) + QList<int>{'W', 0x10, 255, 'W', 0x38, 2000} << QString();
    QTest::newRow("set voltage, then ramp: the new set voltage follows")
        << (setVoltageWrites(0, 0) + rampSpeedWrites(0, 100)) << free << 0
        << readBack(0, 0, 0x04, 1000) + QList<int>{'W', 0x34, 0, 'W', 0x0C, 100, 'W', 0x34, 0}
        << QString();
    const QString stored = QStringLiteral("Ramp speed stored; channel A stays off until a new set "
                                          "voltage");
    // A ramp speed of channel A read back in this state and these events: stored alone.
    const auto storedOnly = [free, readBack, stored](const char *name, int status, int events) {
        QTest::newRow(name) << rampSpeedWrites(0, 50) << free << 0
                            << readBack(status, events, 0x04, 1000) + QList<int>{'W', 0x0C, 50}
                            << stored;
    };
    storedOnly("ramp A, TRP reported now", 0, EventTRP);
    storedOnly("ramp A, INH reported now", 0, EventINH);
    storedOnly("ramp A, state Error", StatusError, 0);
    QTest::newRow("ramp A while channel B is tripped")
        << rampSpeedWrites(0, 50) << free << 0
        << readBack(StatusError << 8, 0x2200, 0x04, 1000) +
               QList<int>{'W', 0x0C, 50, 'W', 0x34, 1000}
        << QString();
    QTest::newRow("ramp on a tripped channel, then an explicit set voltage")
        << (rampSpeedWrites(0, 50) + setVoltageWrites(0, 1500)) << free << 0
        << readBack(0, EventTRP, 0x04, 1000) + QList<int>{'W', 0x0C, 50, 'W', 0x34, 1500} << stored;
    QTest::newRow("a failed write ends the command")
        << (softLimitIWrites(0, 1) + setVoltageWrites(0, 2)) << free << -1
        << QList<int>{'W', 0x44, 1}
        << QStringLiteral("Write to the module at 0x1200 failed (register 0x44): status -1");

    const VoltageCeilings a1500{{1500}};
    const auto above = [](const char *channel, const char *volts, const char *ceiling) {
        return QStringLiteral("Channel %1 Vset %2 V is above the ceiling of %3 V (VsetMax%1); "
                              "nothing was written")
            .arg(QLatin1String(channel), QLatin1String(volts), QLatin1String(ceiling));
    };
    QTest::newRow("A above its ceiling")
        << setVoltageWrites(0, 1600) << a1500 << 0 << QList<int>() << above("A", "1600", "1500");
    QTest::newRow("A's ceiling leaves B alone")
        << setVoltageWrites(1, 6000) << a1500 << 0 << QList<int>{'W', 0x38, 6000} << QString();
    QTest::newRow("B above its own ceiling")
        << setVoltageWrites(1, 801) << VoltageCeilings{{{}, 800}} << 0 << QList<int>()
        << above("B", "801", "800");
    QTest::newRow("a limit before a set voltage above: nothing at all")
        << (softLimitIWrites(0, 500) + setVoltageWrites(0, 1600)) << a1500 << 0 << QList<int>()
        << above("A", "1600", "1500");
    QTest::newRow("a ramp speed re-sends what the module holds, even above")
        << rampSpeedWrites(0, 20) << VoltageCeilings{{900}} << 0
        << readBack(0, 0, 0x04, 1000) + QList<int>{'W', 0x0C, 20, 'W', 0x34, 1000} << QString();
    QTest::newRow("a ceiling of 0 takes 0 only")
        << (setVoltageWrites(0, 0) + setVoltageWrites(1, 1)) << VoltageCeilings{{0, 0}} << 0
        << QList<int>() << above("B", "1", "0");
    QTest::newRow("a fraction of a volt: 1500.5 takes 1500, not 1501")
        << setVoltageWrites(0, 1501) << VoltageCeilings{{1500.5}} << 0 << QList<int>()
        << above("A", "1501", "1500.5");
}

void TestSession::commandWrites()
{
    QFETCH(WriteList, writes);
    QFETCH(VoltageCeilings, ceilings);
    QFETCH(int, failing);
    QFETCH(QList<int>, expected);
    QFETCH(QString, report);

    session->setBaseAddress(0x1200);
    session->setVoltageCeilings(ceilings);
    QVector<BusCycle> cycles;
    for (int i = 0; i < expected.size(); i += 3) {
        cycles.append(
            {at(quint32(expected[i + 1])), 0x29, quint16(expected[i + 2]), expected[i] == 'W'});
        if (expected[i] == 'R')
            bus->registers[cycles.last().address] = cycles.last().data;
    }
    bus->writeStatus = failing;
    QSignalSpy failed(session, &ModuleSession::commandFailed);
    QSignalSpy noted(session, &ModuleSession::commandNote);
    const CommandOutcome outcome = session->execute(writes);
    QCOMPARE(bus->cycles, cycles);
    const bool refused = expected.isEmpty();
    QCOMPARE(outcome.refused, refused);
    QCOMPARE(outcome.done, failing == 0 && !refused);
    QCOMPARE(outcome.done ? outcome.notes.join(QLatin1Char(';')) : outcome.failure, report);
    QCOMPARE(failed.count(), outcome.done ? 0 : 1);
    if (!outcome.done)
        QCOMPARE(failed.first().first().toString(), report);
    QCOMPARE(noted.count(), report.isEmpty() || !outcome.done ? 0 : 1);
    // A refusal is no failure on the bus.
    QCOMPARE(session->failedCommands(), failing == 0 ? 0 : 1);
    if (outcome.done)
        QCOMPARE(outcome.written.size(), expected.count('W'));
}

// A set voltage that cannot be read back leaves the module untouched.
void TestSession::failedReadBackWritesNothing()
{
    bus->status = -2;
    const CommandOutcome outcome = session->execute(rampSpeedWrites(1, 20));
    QVERIFY(!outcome.done);
    QVERIFY(outcome.failedRead);
    QCOMPARE(bus->cycles, (QVector<BusCycle>{{at(0x00), 0x29, 0, false}}));
    QVERIFY(outcome.failure.endsWith(QLatin1String("nothing was written")));
}

void TestSession::bridgeClosesBeforeDeleting()
{
    QStringList events;
    {
        Bridge owner;
        owner.adopt(new CountingController(&events), true);
        owner.adopt(new CountingController(&events), false);
        QCOMPARE(events, (QStringList{"closed", "deleted"}));
    }
    // Never opened: nothing to close.
    QCOMPARE(events, (QStringList{"closed", "deleted", "deleted"}));
    events.clear();
    {
        Bridge owner;
        owner.adopt(new CountingController(&events), true);
        owner.close();
        owner.close();
        QCOMPARE(events, QStringList{"closed"});
    }
    QCOMPARE(events, (QStringList{"closed", "deleted"}));
}

// The options of the module's keys: the resolution options and the ceilings.
void TestSession::baseAddressSetting_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("folder"); // the settings path is a folder: nothing can be read
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("note"); // a further debug line, if any

    const QString outOfRange =
        QStringLiteral("The stored BaseAddress \"%1\" is out of range (0x0000 to 0xFFFF); using "
                       "0xDD00");
    const auto row = [](const char *name, const QByteArray &stored, int address,
                        const QString &note = QString()) {
        QTest::newRow(name) << "BaseAddress=" + stored + "\n" << false << address << note;
    };
    // Parsed by its prefix; what does not parse is the default.
    row("decimal", "56576", 0xDD00);
    row("octal", "0156400", 0xDD00);
    row("lower-case hexadecimal", "0xc000", 0xC000);
    row("upper-case prefix", "0XC000", 0xC000);
    row("no leading zeros in the line", "0x100", 0x100);
    row("zero", "0", 0);
    row("hex digits without prefix", "C000", 0xDD00);
    row("not an octal digit", "09", 0xDD00);
    row("empty", "", 0xDD00);
    row("garbage", "crate slot 3", 0xDD00);
    row("1 MB of digits", QByteArray(1 << 20, '7'), 0xDD00);
    row("1 MB of leading zeros", QByteArray(1 << 20, '0') + "100", 0x40);
    // Numbers outside the A16 space would reach the bus as wider addresses.
    row("highest A16 address", "0xFFFF", 0xFFFF);
    row("just above A16", "0x10000", 0xDD00, outOfRange.arg("0x10000"));
    row("negative", "-256", 0xDD00, outOfRange.arg("-256"));
    row("largest int", "0x7FFFFFFF", 0xDD00, outOfRange.arg("0x7FFFFFFF"));
    row("wider than an int", "0x100000000", 0xDD00);
    row("0xFFFFFFFF", "0xFFFFFFFF", 0xDD00);
    // Not numbers under the prefix rule, though Qt 6's own parser would read them: it ends a
    // number at a NUL character and takes "0b" after a sign as binary.
    row("NUL inside the value", QByteArray("0x1000\0\x01\xff", 9), 0xDD00);
    row("signed binary", "-0b101", 0xDD00);
    row("plus-signed binary", "+0b100", 0xDD00);
    std::mt19937 random(7u);
    QByteArray garbage(4096, '\0');
    for (char &byte : garbage)
        byte = char(random() % 256);
    garbage[100] = '\0';
    garbage[101] = '\n';
    QTest::newRow("binary garbage") << garbage << false << 0xDD00 << QString();
    QTest::newRow("unreadable") << QByteArray() << true << 0xDD00 << QString();
}

// The crate's first module as the settings file places it: one line names the address, the
// first tick reads there, and reading the file never writes it.
void TestSession::baseAddressSetting()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, folder);
    QFETCH(int, address);
    QFETCH(QString, note);

    QTemporaryDir dir;
    const QString path = dir.filePath("brelkcontrol.ini");
    QVERIFY(folder ? QDir().mkdir(path) : writeSettingsFile(path, contents));
    const QDateTime written = QFileInfo(path).lastModified();
    {
        MessageCapture debug;
        CrateRuntime runtime(path, CrateRuntime::Options());
        QCOMPARE(debug.linesStartingWith("BaseAddress:"),
                 QStringList{QString::asprintf("BaseAddress: 0x%X", unsigned(address))});
        QStringList notes = debug.linesStartingWith("The stored BaseAddress");
        notes.removeDuplicates();
        QCOMPARE(notes, note.isEmpty() ? QStringList() : QStringList{note});
        auto *fake = new FakeController;
        runtime.bridge()->adopt(fake, true);
        runtime.crate()->pollAll();
        QVERIFY(!fake->cycles.isEmpty());
        QCOMPARE(fake->cycles.first().address, quint32(address) + 0x3C);
    }
    QCOMPARE(QFileInfo(path).lastModified(), written);
    QCOMPARE(readSettingsFile(path), contents);
    QVERIFY(!folder || QDir(path).isEmpty());
}

void TestSession::moduleOptions_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<ResolutionSelection>("options");
    QTest::addColumn<QString>("ceilings");    // A/B, "-" for none
    QTest::addColumn<QStringList>("ignored"); // keys named in a debug line, in order

    const auto defaults = ResolutionSelection{false, CurrentResolution::uA1, SecondRange::None};
    QTest::newRow("all set") << QByteArray("VoltageResolution=100mV\nCurrentResolution=10nA\n"
                                           "SecondRange=100pA\nVsetMaxA=1500\nVsetMaxB=800.5\n")
                             << ResolutionSelection{true, CurrentResolution::nA10,
                                                    SecondRange::pA100}
                             << "1500/800.5" << QStringList();
    QTest::newRow("second range 1nA, 1nA first range")
        << QByteArray("CurrentResolution=1nA\nSecondRange=1nA\n")
        << ResolutionSelection{false, CurrentResolution::nA1, SecondRange::nA1} << "-/-"
        << QStringList();
    QTest::newRow("unknown values fall back one by one")
        << QByteArray("VoltageResolution=10mV\nCurrentResolution=100nA\nSecondRange=1uA\n")
        << ResolutionSelection{false, CurrentResolution::nA100, SecondRange::None} << "-/-"
        << QStringList{"VoltageResolution", "SecondRange"};
    QTest::newRow("case matters, empty is not absent")
        << QByteArray("VoltageResolution=1v\nCurrentResolution=\n") << defaults << "-/-"
        << QStringList{"VoltageResolution", "CurrentResolution"};
    QTest::newRow("a ceiling that is no number or negative is none, and named")
        << QByteArray("VsetMaxA=15OO\nVsetMaxB=-5\n") << defaults << "-/-"
        << QStringList{"VsetMaxA = 15OO (not a number of volts", "VsetMaxB = -5 (not a number"};
    QTest::newRow("a ceiling of 0; a thousands separator is no number")
        << QByteArray("VsetMaxA=0\nVsetMaxB=1,500\n") << defaults << "0/-"
        << QStringList{"VsetMaxB = 1,500 (not a number"};
    QTest::newRow("infinite or not a number at all")
        << QByteArray("VsetMaxA=inf\nVsetMaxB=nan\n") << defaults << "-/-"
        << QStringList{"VsetMaxA = inf", "VsetMaxB = nan"};
}

void TestSession::moduleOptions()
{
    QFETCH(QByteArray, contents);
    QFETCH(QStringList, ignored);

    QTemporaryDir folder;
    const QString path = folder.filePath("brelkcontrol.ini");
    QVERIFY(writeSettingsFile(path, "[General]\n" + contents));
    MessageCapture debug;
    QTEST(Settings(path).resolutionOptions(), "options");
    QTEST(ceilingsText(Settings(path).voltageCeilings()), "ceilings");
    const QStringList lines = debug.linesStartingWith("Ignoring the setting");
    QCOMPARE(lines.size(), ignored.size());
    for (int i = 0; i < ignored.size(); ++i)
        QVERIFY2(lines.at(i).contains(ignored.at(i)), qPrintable(lines.at(i)));
}

void TestSession::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("headless");
    QTest::addColumn<QString>("settingsFile");

    const auto row = [](const char *name, const QStringList &arguments, int action,
                        bool headless = false, const QString &settingsFile = QString()) {
        QTest::newRow(name) << arguments << action << headless << settingsFile;
    };
    row("none", {}, CommandLine::Run);
    row("service", {"--headless", "--settings", "/etc/b.ini"}, CommandLine::Run, true,
        "/etc/b.ini");
    row("settings=", {"--settings=my.ini"}, CommandLine::Run, false, "my.ini");
    row("version", {"--headless", "--version"}, CommandLine::ShowVersion);
    row("settings without a file", {"--settings"}, CommandLine::UsageError);
    row("stray argument", {"brelkcontrol.ini"}, CommandLine::UsageError);
}

void TestSession::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);

    const CommandLine line = parseCommandLine(QStringList{"/usr/bin/brelkcontrol"} + arguments);
    QCOMPARE(int(line.action), action);
    QTEST(line.headless, "headless");
    QTEST(line.settingsFile, "settingsFile");
    if (action == CommandLine::UsageError || action == CommandLine::ShowHelp)
        QVERIFY2(line.text.contains("--settings <FILE>") && line.text.contains("--headless"),
                 qPrintable(line.text));
}

void TestSession::furtherModules_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QStringList>("modules"); // address|name|options, as read
    QTest::addColumn<QStringList>("ignored"); // groups named in a debug line, sorted
    QTest::addColumn<QStringList>("reasons"); // each in one of the debug lines

    QTest::newRow("by address, name trimmed, options of the group")
        << QByteArray("[Module_DC00]\nName=  Drift chamber \nVoltageResolution=100mV\n"
                      "CurrentResolution=1nA\nSecondRange=100pA\n"
                      "[Module_0100]\nLogFile=/tmp/a.csv\n")
        << QStringList{"0x0100||1V / 1uA / none", "0xDC00|Drift chamber|100mV / 1nA / 100pA"}
        << QStringList() << QStringList();
    const QString badName = QStringLiteral(" since group names are Module_ and four upper-case hex "
                                           "digits");
    QTest::newRow("addresses the panel cannot use, names in the wrong case")
        << QByteArray("[Module_DD00]\nName=first\n[Module_DC10]\nName=odd\n"
                      "[Module_dc00]\nName=lower\n[Module_DC000]\nName=long\n"
                      "[Module_+D00]\nName=sign\n[Module_0X00]\nName=prefix\n"
                      "[Module_ZZ00]\nName=letters\n[Module_1000]\nName=kept\n"
                      "[module_DC00]\nName=a\n[MODULE_DC00]\nName=b\n[Other]\nName=no module\n")
        << QStringList{"0x1000|kept|1V / 1uA / none"}
        << QStringList{"MODULE_DC00", "Module_+D00", "Module_0X00", "Module_DC000", "Module_DC10",
                       "Module_DD00", "Module_ZZ00", "Module_dc00", "module_DC00"}
        << QStringList{"Module_DC10 since its address is not a multiple of 0x100",
                       "Module_dc00" + badName, "module_DC00" + badName, "MODULE_DC00" + badName};
    QTest::newRow("a header that stands twice")
        << QByteArray("[Module_DC00]\nName=a\n[Module_1000]\n[Module_DC00]\nLogFile=/tmp/b.csv\n")
        << QStringList{"0x1000||1V / 1uA / none"} << QStringList{"Module_DC00"}
        << QStringList{"Module_DC00 since its header stands 2 times in the file"};
    QTest::newRow("ceilings of each group, a bad option names its group")
        << QByteArray("[General]\nVsetMaxA=100\n[Module_DC00]\nVsetMaxB=900\n"
                      "CurrentResolution=10mA\n[Module_1000]\nVsetMaxA=abc\n")
        << QStringList{"0x1000||1V / 1uA / none", "0xDC00||1V / 1uA / none|-/900"} << QStringList()
        << QStringList{"Ignoring the setting Module_1000/VsetMaxA = abc",
                       "Ignoring the setting Module_DC00/CurrentResolution = 10mA"};
    QTest::newRow("the first module moved")
        << QByteArray("[General]\nBaseAddress=0x1000\n[Module_1000]\nName=a\n"
                      "[Module_DD00]\nName=b\n")
        << QStringList{"0xDD00|b|1V / 1uA / none"} << QStringList{"Module_1000"}
        << QStringList{"it is the first module's address"};
    QTest::newRow("an out-of-range BaseAddress is said once")
        << QByteArray("[General]\nBaseAddress=0x10000\n[Module_1000]\n")
        << QStringList{"0x1000||1V / 1uA / none"} << QStringList()
        << QStringList{"is out of range"};
    // Seventeen further groups, highest first: with the first module sixteen are polled, and the
    // highest addresses are left out, whatever the order of the groups in the file.
    QByteArray seventeen;
    QStringList fifteen;
    for (int i = 0; i < 17; ++i) {
        const QString digits = QString::asprintf("%04X", i * 0x100);
        seventeen.prepend(QStringLiteral("[Module_%1]\nName=m%2\n").arg(digits).arg(i).toLatin1());
        if (i < 15)
            fifteen << QStringLiteral("0x%1|m%2|1V / 1uA / none").arg(digits).arg(i);
    }
    QTest::newRow("seventeen, highest first")
        << seventeen << fifteen << QStringList{"Module_0F00", "Module_1000"}
        << QStringList{"at most 16 modules, and the highest addresses are left out"};
}

void TestSession::furtherModules()
{
    QFETCH(QByteArray, contents);
    QFETCH(QStringList, modules);
    QFETCH(QStringList, ignored);
    QFETCH(QStringList, reasons);

    QTemporaryDir folder;
    const QString path = folder.filePath("brelkcontrol.ini");
    QVERIFY(writeSettingsFile(path, contents));
    MessageCapture debug;
    QStringList read;
    // As the panel starts: the first module's address, then the further modules.
    Crate crate(nullptr, Settings(path).baseAddress());
    for (const ModuleConfig &module : Settings(path).furtherModules()) {
        read << QStringLiteral("%1|%2|%3")
                    .arg(QString::asprintf("0x%04X", module.address), module.name,
                         selectionText(module.selection));
        if (module.ceilings != VoltageCeilings())
            read.last() += QLatin1Char('|') + ceilingsText(module.ceilings);
        // The module's session refuses what its group's ceilings refuse.
        const ModuleSession *added = crate.addModule(module);
        QVERIFY(added);
        QCOMPARE(added->voltageCeilings(), module.ceilings);
    }
    QVERIFY2(read == modules, qPrintable(read.join(QLatin1String(", "))));
    QStringList named;
    for (const QString &line : debug.linesStartingWith("Ignoring the settings group"))
        named << line.section(QLatin1Char(' '), 4, 4);
    named.sort();
    QCOMPARE(named, ignored);
    const QString lines = debug.lines().join(QLatin1Char('\n'));
    for (const QString &reason : reasons)
        QVERIFY2(lines.contains(reason), qPrintable(lines));
    QVERIFY2(lines.count(QLatin1String("The stored BaseAddress")) <= 1, qPrintable(lines));
}

void TestSession::crateTickOrder_data()
{
    QTest::addColumn<bool>("atOnce");
    QTest::newRow("pollAll") << true;
    QTest::newRow("tick, a module a turn") << false;
}

// The first module, then the others by address; the absent one ends after its serial number.
void TestSession::crateTickOrder()
{
    QFETCH(bool, atOnce);

    Crate crate(bridge, 0xDD00);
    crate.connected();
    ModuleSession *absent = crate.addModule({0x1000, QString(), ResolutionSelection()});
    ModuleSession *last = crate.addModule({0xC000, "Drift chamber", ResolutionSelection()});
    QVERIFY(absent && last);
    bus->registers[0xDD3C] = 0x0101;
    bus->registers[0x103C] = NoModule;
    bus->registers[0xC03C] = 0x0103;
    bus->registers[0xDD30] = EventTRP;
    bus->registers[0xC030] = EventILIM | EventTRP;
    MessageCapture debug;
    QSignalSpy first(crate.first(), &ModuleSession::readingTaken);
    QSignalSpy none(absent, &ModuleSession::readingTaken);
    QSignalSpy third(last, &ModuleSession::readingTaken);
    QSignalSpy ended(&crate, &Crate::tickEnded);

    if (atOnce) {
        crate.pollAll();
    } else {
        crate.tick();
        // The other modules wait for a later turn of the event loop.
        QCOMPARE(bus->cycles.size(), 17);
        QVERIFY(crate.isTicking());
        QVERIFY(ended.wait(1000));
    }
    QCOMPARE(ended.size(), 1);

    QCOMPARE(bus->cycles,
             reads(0xDD00, tickOffsets) + reads(0x1000, {0x3C}) + reads(0xC000, tickOffsets));
    QCOMPARE(first.size(), 1);
    QCOMPARE(none.size(), 0);
    QCOMPARE(third.size(), 1);
    // A further module's alarm lines name it; the first module's are those of a lone module.
    QCOMPARE(
        debug.linesStartingWith(QString()).filter("alarm"),
        (QStringList{"Channel A alarm: TRP", "0xC000 (Drift chamber): Channel A alarm: ILIM+TRP"}));
}

// A crate slower than the poll interval: a tick asked for while one runs follows it whole, once,
// and a stop of the poll drops it.
void TestSession::tickAskedWhileTicking()
{
    Crate crate(bridge, 0xDD00);
    crate.connected();
    crate.addModule({0xC000, QString(), ResolutionSelection()});
    QSignalSpy ended(&crate, &Crate::tickEnded);
    crate.tick();
    crate.tick();
    crate.tick();
    QTRY_COMPARE(ended.size(), 2);
    QTest::qWait(50);
    QCOMPARE(ended.size(), 2);
    const QVector<BusCycle> tick = reads(0xDD00, tickOffsets) + reads(0xC000, tickOffsets);
    QCOMPARE(bus->cycles, tick + tick);

    bus->cycles.clear();
    crate.tick();
    crate.tick();
    crate.pollStopped();
    QTest::qWait(50);
    QCOMPARE(bus->cycles, reads(0xDD00, tickOffsets));
}

void TestSession::crateTellsEveryModule_data()
{
    QTest::addColumn<CrateCall>("event");
    QTest::addColumn<bool>("stale");
    QTest::addColumn<bool>("readingKept");
    QTest::addColumn<bool>("latchKept");

    QTest::newRow("poll stopped") << &Crate::pollStopped << true << true << true;
    QTest::newRow("connection failed") << &Crate::connectionFailed << true << false << true;
    QTest::newRow("connected again") << &Crate::connected << false << false << false;
}

// What happened to the bridge reaches every module of the crate, not the first alone.
void TestSession::crateTellsEveryModule()
{
    QFETCH(CrateCall, event);
    QFETCH(bool, stale);
    QFETCH(bool, readingKept);
    QFETCH(bool, latchKept);

    Crate crate(bridge, 0xDD00);
    crate.connected();
    crate.addModule({0xC000, QString(), ResolutionSelection()});
    crate.addModule({0xC100, QString(), ResolutionSelection()});
    for (quint32 base : {0xDD00u, 0xC000u, 0xC100u}) {
        bus->registers[base + 0x3C] = 0x0101;
        bus->registers[base + 0x30] = EventQUA;
    }
    crate.pollAll();
    (crate.*event)();
    for (const ModuleSession *module : crate.modules()) {
        const QString address = QString::number(module->baseAddress(), 16);
        QVERIFY2(module->isStale() == stale, qPrintable(address));
        QVERIFY2((module->lastReading() != nullptr) == readingKept, qPrintable(address));
        QVERIFY2((module->eventLatch() == EventQUA) == latchKept, qPrintable(address));
    }
}

void TestSession::crateRefusesModules_data()
{
    QTest::addColumn<int>("further"); // further modules at 0x0000, 0x0100, ... before the refusal
    QTest::addColumn<quint32>("address");

    QTest::newRow("the first module's address") << 1 << 0xDD00u;
    QTest::newRow("a further module's address") << 3 << 0x0100u;
    QTest::newRow("a seventeenth module") << 15 << 0xC000u;
}

// Two sessions at one address would read the same cycles twice; a seventeenth module more than
// the panel polls.
void TestSession::crateRefusesModules()
{
    QFETCH(int, further);
    QFETCH(quint32, address);

    Crate crate(bridge, 0xDD00);
    for (int i = 0; i < further; ++i)
        QVERIFY(crate.addModule({quint32(i) * 0x100, QString(), ResolutionSelection()}));
    QSignalSpy added(&crate, &Crate::moduleAdded);
    QVERIFY(!crate.addModule({address, QString(), ResolutionSelection()}));
    QCOMPARE(added.size(), 0);
    QCOMPARE(crate.modules().size(), further + 1);
}

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
