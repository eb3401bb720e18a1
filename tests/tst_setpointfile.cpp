// The set-point file on its own: what a save writes and a read gives back, the range of every
// count under each resolution selection, and the ordered writes of a restore.
#include "setpointfile.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace Brelk;

Q_DECLARE_METATYPE(Brelk::ResolutionSelection)
Q_DECLARE_METATYPE(QVector<Brelk::RegisterWrite>)

char *toString(const RegisterWrite &write)
{
    return qstrdup(QString::asprintf("W(0x%02X, %u)", unsigned(write.reg), write.word).toLatin1());
}

namespace {

ResolutionSelection selection(bool fine, CurrentResolution current, SecondRange second)
{
    return {fine, current, second};
}

Reading moduleAt(quint16 vsetA, quint16 vsetB, quint16 rampA, quint16 rampB)
{
    Reading reading;
    reading.time = 1700000000123;
    reading.serialNumber = 0x2101;
    reading.vset[0] = vsetA;
    reading.vset[1] = vsetB;
    reading.ramp[0] = rampA;
    reading.ramp[1] = rampB;
    reading.softLimitI[0] = 500;
    reading.softLimitI[1] = 600;
    reading.softLimitI2[0] = 1000;
    reading.softLimitI2[1] = 2000;
    reading.secondRange = SecondRange::nA1;
    return reading;
}

const char *const Valid = "[Module]\nFormat=1\nVoltageResolution=1V\nCurrentResolution=1uA\n"
                          "SecondRange=1nA\n"
                          "[A]\nVsetCount=1\nRampCount=2\nLimitICount=3\nLimitI2Count=4\n"
                          "[B]\nVsetCount=5\nRampCount=6\nLimitICount=7\nLimitI2Count=8\n";

} // namespace

class TestSetPointFile : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void writeFailureSaysWhy();
    void countRanges_data();
    void countRanges();
    void restoreWrites_data();
    void restoreWrites();

private:
    QTemporaryDir folder;
    int files = 0; // each file a name of its own, never one the settings reader has seen
};

void TestSetPointFile::roundTrip_data()
{
    QTest::addColumn<ResolutionSelection>("saved");
    QTest::addColumn<QStringList>("lines"); // lines the file must hold, for its human reader
    QTest::addColumn<QByteArray>("before"); // what the path held

    const QByteArray older("[A]\nLimitI2Count=9\nNote=old\n");
    QTest::newRow("1 V, 1 uA, no second range")
        << selection(false, CurrentResolution::uA1, SecondRange::None)
        << QStringList{"VoltageResolution=1V", "SecondRange=none", "Vset=1500 V",    "Ramp=20 V/s",
                       "LimitI=0.5 mA",        "VsetCount=1500",   "LimitICount=500"}
        << older;
    QTest::newRow("100 mV, 10 nA, 100 pA")
        << selection(true, CurrentResolution::nA10, SecondRange::pA100)
        << QStringList{"VoltageResolution=100mV", "CurrentResolution=10nA",
                       "SecondRange=100pA",       "LimitI=5 uA",
                       "LimitI2Count=1000",       "LimitI2=0.1 uA"}
        << older;
    QTest::newRow("over a file that is not an INI file")
        << selection(false, CurrentResolution::uA1, SecondRange::nA1)
        << QStringList{"VsetCount=1500", "LimitI2Count=1000"}
        << QByteArray("\x7f\x45\x4c\x46\x02\x01\x01\0\0\0\xff\xfe=\n[[Note=old\n", 25);
}

// Saved over an older file that had keys of its own, or over a file of another kind: the save
// succeeds, what is read back is exactly what was saved, and nothing of the older file remains.
void TestSetPointFile::roundTrip()
{
    QFETCH(ResolutionSelection, saved);
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, before);

    Reading reading = moduleAt(1500, 800, 20, 30);
    reading.fineVoltage = saved.fineVoltage;
    reading.currentResolution = saved.currentResolution;
    reading.secondRange = saved.secondRange;
    const SetPoints written = setPointsOf(reading, 0xDD00);

    const QString path = folder.filePath(QStringLiteral("%1.brelk").arg(++files));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(before);
    old.close();
    QString problem;
    QVERIFY2(writeSetPointFile(path, written, &problem), qPrintable(problem));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList text = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines + QStringList{"Format=1", "Serial=2101", "BaseAddress=0xDD00"})
        QVERIFY2(text.contains(line), qPrintable(line));
    QVERIFY(!text.contains("Note=old"));
    QCOMPARE(text.join(QLatin1Char('\n')).contains("LimitI2Count="),
             saved.secondRange != SecondRange::None);

    SetPoints read;
    QVERIFY2(readSetPointFile(path, saved, &read, &problem), qPrintable(problem));
    QCOMPARE(read.selection, saved);
    QCOMPARE(read.serialText, QString("2101"));
    QCOMPARE(read.saved, isoLocalTime(reading.time));
    QCOMPARE(read.hasLimitI2, saved.secondRange != SecondRange::None);
    for (int ch = 0; ch < 2; ++ch) {
        QCOMPARE(read.vset[ch], reading.vset[ch]);
        QCOMPARE(read.ramp[ch], reading.ramp[ch]);
        QCOMPARE(read.limitI[ch], reading.softLimitI[ch]);
        if (read.hasLimitI2)
            QCOMPARE(read.limitI2[ch], reading.softLimitI2[ch]);
    }
}

// A folder that does not exist: the reason is the system's, and nothing is created.
void TestSetPointFile::writeFailureSaysWhy()
{
    const QString path = folder.filePath(QStringLiteral("missing/detector.brelk"));
    QString problem;
    QVERIFY(!writeSetPointFile(path, setPointsOf(moduleAt(1500, 800, 20, 30), 0xDD00), &problem));
    QVERIFY2(problem.contains(QStringLiteral("No such file or directory")), qPrintable(problem));
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("missing"))));
}

void TestSetPointFile::countRanges_data()
{
    QTest::addColumn<ResolutionSelection>("panel");
    QTest::addColumn<QString>("line"); // replaces the key's line in a valid file
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("entry");   // the refused entry the problem names first
    QTest::addColumn<double>("ceilingB"); // channel B's ceiling in volts; -1 for none

    const ResolutionSelection plain = selection(false, CurrentResolution::uA1, SecondRange::nA1);
    const ResolutionSelection at100nA =
        selection(false, CurrentResolution::nA100, SecondRange::nA1);
    const ResolutionSelection at10nA = selection(false, CurrentResolution::nA10, SecondRange::nA1);
    const ResolutionSelection at1nA = selection(true, CurrentResolution::nA1, SecondRange::nA1);
    struct Row
    {
        const char *name;
        ResolutionSelection panel;
        const char *line;
        bool accepted;
        const char *entry = nullptr; // none: channel B's entry of the line's key
        double ceilingB = -1;
    } rows[] = {
        {"set voltage 6000 V", plain, "VsetCount=6000", true},
        {"set voltage 6001 V", plain, "VsetCount=6001", false},
        {"set voltage -1", plain, "VsetCount=-1", false},
        {"ramp 2 V/s", plain, "RampCount=2", true},
        {"ramp 1 V/s", plain, "RampCount=1", false},
        {"ramp 255 V/s", plain, "RampCount=255", true},
        {"ramp 256 V/s", plain, "RampCount=256", false},
        {"ramp beyond any register", plain, "RampCount=99999999999999999999", false},
        {"limit 6 mA at 1 uA", plain, "LimitICount=6000", true},
        {"limit 6.001 mA at 1 uA", plain, "LimitICount=6001", false},
        {"limit 6 mA at 100 nA", at100nA, "LimitICount=60000", true},
        {"over 6 mA at 100 nA", at100nA, "LimitICount=60001", false},
        {"655.3 uA at 10 nA", at10nA, "LimitICount=65530", true},
        {"over 655.3 uA at 10 nA", at10nA, "LimitICount=65531", false},
        {"65.5 uA at 1 nA", at1nA, "LimitICount=65500", true},
        {"over 65.5 uA at 1 nA", at1nA, "LimitICount=65501", false},
        {"second range 65.5 uA at 1 nA", plain, "LimitI2Count=65500", true},
        {"second range over 65.5 uA", plain, "LimitI2Count=65501", false},
        {"second range over 6.55 uA at 100 pA",
         selection(false, CurrentResolution::uA1, SecondRange::pA100), "LimitI2Count=65501", false},
        // Without a second range on the panel the second-range limits are neither checked nor
        // restored.
        {"second range not selected", selection(false, CurrentResolution::uA1, SecondRange::None),
         "LimitI2Count=junk", true},
        {"hexadecimal", plain, "VsetCount=0x10", false},
        {"list", plain, "VsetCount=1,2", false},
        {"blank", plain, "VsetCount=", false},
        // The values as the file spells them, not as the toolkit would convert them.
        {"byte array", plain, "VsetCount=@ByteArray(1500)", false},
        // The toolkit reads this line, as it writes a 16-bit 1500, back as 1500.
        {"variant", plain, R"(VsetCount=@Variant(\0\0\0\x82\x5\xdc))", false},
        {"quoted", plain, "VsetCount=\"1500\"", false},
        {"comment after the value", plain, "VsetCount=1500 ; volts", true},
        // One entry on two lines: the operator may read either of them.
        {"count twice", plain, "VsetCount=5\nVsetCount=6000", false},
        {"channel group twice", plain, "LimitI2Count=8\n[A]\nRampCount=2", false, "[A] RampCount"},
        {"entry twice through a path key", plain, "LimitI2Count=8\n[General]\nA/VsetCount=1", false,
         "[A] VsetCount"},
        {"entry twice through an escaped key", plain, "VsetCount=5\nVsetCoun%74=7", false},
        {"unused entry twice", plain, "VsetCount=5\nNote=a\nNote=b", false, "[B] Note"},
        // Channel B's ceiling (VsetMaxB) holds its set voltage as well.
        {"set voltage at the ceiling", plain, "VsetCount=800", true, nullptr, 800},
        {"set voltage above the ceiling", plain, "VsetCount=801", false,
         "[B] VsetCount = 801 is above the ceiling of 800 V (VsetMaxB).", 800},
        {"set voltage under a ceiling of a fraction", plain, "VsetCount=800", true, nullptr, 800.5},
        {"a ceiling of 0", plain, "VsetCount=1", false, "[B] VsetCount = 1 is above", 0},
    };
    for (const Row &row : rows) {
        const QString key = QString::fromLatin1(row.line).section(QLatin1Char('='), 0, 0);
        QTest::newRow(row.name) << row.panel << row.line << row.accepted
                                << (row.entry ? QString::fromLatin1(row.entry)
                                              : QStringLiteral("[B] %1").arg(key))
                                << row.ceilingB;
    }
}

void TestSetPointFile::countRanges()
{
    QFETCH(ResolutionSelection, panel);
    QFETCH(QString, line);
    QFETCH(bool, accepted);
    QFETCH(QString, entry);
    QFETCH(double, ceilingB);

    // The line replaces channel B's entry of the same key.
    QString contents = QString::fromLatin1(Valid);
    const QString key = line.section(QLatin1Char('='), 0, 0);
    const int b = contents.indexOf(QLatin1String("[B]"));
    const int at = contents.indexOf(key + QLatin1Char('='), b);
    contents.replace(at, contents.indexOf(QLatin1Char('\n'), at) - at, line);

    const QString path = folder.filePath(QStringLiteral("%1.brelk").arg(++files));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents.toUtf8());
    file.close();

    SetPoints read;
    QString problem;
    VoltageCeilings ceilings;
    if (ceilingB >= 0)
        ceilings.volts[1] = ceilingB;
    // A restore checks the ceilings once the file itself is sound.
    if (readSetPointFile(path, panel, &read, &problem))
        problem = setPointCeilingProblem(read, ceilings);
    QCOMPARE(problem.isEmpty(), accepted);
    if (!accepted)
        QVERIFY2(problem.startsWith(entry), qPrintable(problem));
    if (ceilingB < 0)
        QCOMPARE(read.hasLimitI2, accepted && panel.secondRange != SecondRange::None);
}

void TestSetPointFile::restoreWrites_data()
{
    QTest::addColumn<Reading>("module");
    QTest::addColumn<bool>("withSecondRange");
    QTest::addColumn<QVector<RegisterWrite>>("writes");

    // The file: set voltages 1500/800, ramps 20/30, limits 500/600, second range 1000/2000.
    Reading other = moduleAt(1000, 500, 50, 25);
    for (int ch = 0; ch < 2; ++ch) {
        other.softLimitI[ch] = 0;
        other.softLimitI2[ch] = 0;
    }
    QTest::newRow("second range left as it is")
        << other << false << QVector<RegisterWrite>{{regSoftLimitI_A, 500}, {regSoftLimitI_B, 600},
                                                    {regRamp_A, 20},        setVoltageResend(0),
                                                    {regRamp_B, 30},        setVoltageResend(1),
                                                    {regVsetWrite_A, 1500}, {regVsetWrite_B, 800}};
    QTest::newRow("ramp B only, at the file's voltage")
        << moduleAt(1500, 800, 20, 99) << true
        << QVector<RegisterWrite>{{regRamp_B, 30}, setVoltageResend(1)};
    QTest::newRow("ramp A and set voltage B")
        << moduleAt(1500, 0, 21, 30) << true
        << QVector<RegisterWrite>{{regRamp_A, 20}, setVoltageResend(0), {regVsetWrite_B, 800}};
    QTest::newRow("nothing") << moduleAt(1500, 800, 20, 30) << true << QVector<RegisterWrite>{};
}

void TestSetPointFile::restoreWrites()
{
    QFETCH(Reading, module);
    QFETCH(bool, withSecondRange);
    QFETCH(QVector<RegisterWrite>, writes);

    SetPoints file = setPointsOf(moduleAt(1500, 800, 20, 30), 0xDD00);
    file.hasLimitI2 = withSecondRange;
    const RestorePlan plan = planRestore(file, module);
    QCOMPARE(plan.writes, writes);
    // One confirmation row per changed register, in the order of the writes.
    int rampRows = 0;
    for (const SetPointChange &change : plan.changes)
        rampRows += change.quantity == SetPointQuantity::RampSpeed;
    QCOMPARE(plan.changes.size(), writes.size() - rampRows);
    QCOMPARE(plan.isEmpty(), writes.isEmpty());
}

QTEST_MAIN(TestSetPointFile)
#include "tst_setpointfile.moc"
