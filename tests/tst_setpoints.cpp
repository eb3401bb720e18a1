// Set-point files through the Tools menu, the file dialogs and the confirmation, against the
// module simulator: the file a save writes, the exact writes a restore makes, and every case in
// which a restore must write nothing at all.
#include "brelkcontroltestaccess.h"
#include "dialogdriver.h"
#include "settingsfile.h"
#include "simcontrol.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

using Access = BrelkControlTestAccess;

using Write = SimControl::Write;

namespace {

// Every modal window a test went through, in order, and what it showed.
struct Seen
{
    QStringList dialogs; // class names
    QString message;     // text of the last message box
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList rows;    // confirmation rows, "A | Set voltage | 1000 V | 1500 V"
    QStringList notes;   // the confirmation's warning lines
    bool markup = false; // a label or message box that reads its text as rich text
};

using Step = std::function<void(QWidget *)>;

// Runs each step on the next modal window in turn; a step closes its window.
void drive(QVector<Step> steps, Seen *seen)
{
    if (steps.isEmpty())
        return;
    const Step step = steps.takeFirst();
    DialogDriver::onNextModal([step, steps, seen](QWidget *widget) {
        seen->dialogs << QString::fromLatin1(widget->metaObject()->className());
        if (auto *box = qobject_cast<QMessageBox *>(widget)) {
            seen->message = box->text();
            seen->icon = box->icon();
            seen->markup = seen->markup || box->textFormat() != Qt::PlainText;
        }
        if (auto *table = widget->findChild<QTableWidget *>()) {
            for (int row = 0; row < table->rowCount(); ++row) {
                QStringList cells;
                for (int column = 0; column < table->columnCount(); ++column)
                    cells << table->item(row, column)->text();
                seen->rows << cells.join(QLatin1String(" | "));
            }
            const QList<QLabel *> labels = widget->findChildren<QLabel *>();
            for (int i = 1; i < labels.size(); ++i) // the first is the heading
                seen->notes << labels[i]->text();
            for (const QLabel *label : labels)
                seen->markup = seen->markup || label->textFormat() != Qt::PlainText;
        }
        // The next step waits until this window is closed.
        step(widget);
        drive(steps, seen);
    });
}

Step chooseFile(const QString &path)
{
    return [path](QWidget *widget) {
        auto *dialog = qobject_cast<QFileDialog *>(widget);
        if (!dialog) {
            widget->close();
            return;
        }
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept(); // checks the path as the OK button does
    };
}

Step pressOk(std::function<void()> before = nullptr)
{
    return [before](QWidget *widget) {
        if (before)
            before();
        if (auto *box = widget->findChild<QDialogButtonBox *>()) {
            if (QPushButton *ok = box->button(QDialogButtonBox::Ok)) {
                ok->click();
                return;
            }
        }
        qobject_cast<QDialog *>(widget)->accept();
    };
}

Step pressCancel()
{
    return [](QWidget *widget) { qobject_cast<QDialog *>(widget)->reject(); };
}

const char *const Valid = "[Module]\nFormat=1\nSerial=2101\nVoltageResolution=1V\n"
                          "CurrentResolution=1uA\nSecondRange=none\n"
                          "[A]\nVsetCount=1500\nRampCount=20\nLimitICount=500\n"
                          "[B]\nVsetCount=800\nRampCount=30\nLimitICount=600\n";

} // namespace

class TestSetPoints : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void roundTrip();
    void saveAddsTheExtension_data();
    void saveAddsTheExtension();
    void writesNothing_data();
    void writesNothing();
    void refused_data();
    void refused();
    void restoreWritesNothing_data();
    void restoreWritesNothing();
    void confirmationNotes_data();
    void confirmationNotes();

private:
    void trigger(const char *action) { window->findChild<QAction *>(action)->trigger(); }
    void setModule(quint16 vsetA, quint16 vsetB, quint16 rampA, quint16 rampB, quint16 limitA,
                   quint16 limitB);
    QString writeFile(const QByteArray &contents);

    std::unique_ptr<SimControl> sim;
    std::unique_ptr<BrelkControl> window;
    std::unique_ptr<QTemporaryDir> folder;
};

void TestSetPoints::initTestCase()
{
    QFile::remove(settingsPath());
    sim.reset(new SimControl("libxxusb"));
    QVERIFY2(sim->isLoaded(), "the module simulator is not on the library search path");
}

void TestSetPoints::init()
{
    sim->reset();
    sim->setManualClock(true);
    window.reset(new BrelkControl);
    Access::timer(*window)->stop();
    folder.reset(new QTemporaryDir);
    sim->clearLog();
}

void TestSetPoints::cleanup()
{
    window.reset();
    QFile::remove(settingsPath());
}

void TestSetPoints::setModule(quint16 vsetA, quint16 vsetB, quint16 rampA, quint16 rampB,
                              quint16 limitA, quint16 limitB)
{
    sim->setRegister(0x04, vsetA);
    sim->setRegister(0x08, vsetB);
    sim->setRegister(0x0C, rampA);
    sim->setRegister(0x10, rampB);
    sim->setRegister(0x44, limitA);
    sim->setRegister(0x48, limitB);
}

QString TestSetPoints::writeFile(const QByteArray &contents)
{
    const QString path = folder->filePath("hand-made.brelk");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// Saved with a second range, restored onto a module that has moved away from every value: the
// writes come in the module's order, and the module ends up where it was.
void TestSetPoints::roundTrip()
{
    window->findChild<QRadioButton *>("chk_I2_1nA")->click();
    setModule(1500, 800, 20, 30, 500, 600);
    sim->setRegister(0x46, 1000);
    sim->setRegister(0x4A, 2000);
    Access::tick(*window);

    const QString path = folder->filePath("detector.brelk");
    Seen saving;
    drive({chooseFile(path)}, &saving);
    trigger("actionSaveSetPoints");
    QCOMPARE(saving.dialogs, QStringList{"QFileDialog"});
    QSettings file(path, QSettings::IniFormat);
    QCOMPARE(file.value("Module/BaseAddress").toString(), QString("0xDD00"));

    setModule(1000, 500, 50, 25, 0, 0);
    sim->setRegister(0x46, 0);
    sim->setRegister(0x4A, 0);
    Access::tick(*window);
    sim->clearLog();

    Seen restoring;
    // The poll goes on while the operator reads the confirmation; a measured voltage that moves
    // meanwhile is no reason to refuse.
    drive({chooseFile(path), pressOk([this] {
               sim->advance(500);
               Access::tick(*window);
           })},
          &restoring);
    trigger("actionRestoreSetPoints");
    QCOMPARE(restoring.dialogs, (QStringList{"QFileDialog", "SetPointDialog"}));
    QCOMPARE(restoring.rows, (QStringList{
                                 "A | Current limit 2nd range | 0 uA | 1 uA",
                                 "B | Current limit 2nd range | 0 uA | 2 uA",
                                 "A | Current limit | 0 mA | 0.5 mA",
                                 "B | Current limit | 0 mA | 0.6 mA",
                                 "A | Ramp speed | 50 V/s | 20 V/s",
                                 "B | Ramp speed | 25 V/s | 30 V/s",
                                 "A | Set voltage | 1000 V | 1500 V",
                                 "B | Set voltage | 500 V | 800 V",
                             }));
    QCOMPARE(restoring.notes, QStringList());

    QVector<Write> expected{{0xDD46, 1000}, {0xDD4A, 2000}, {0xDD44, 500}, {0xDD48, 600},
                            {0xDD0C, 20},   {0xDD34, 1000}, {0xDD10, 30},  {0xDD38, 500},
                            {0xDD34, 1500}, {0xDD38, 800}};
    QCOMPARE(sim->writes(), expected);
    const quint32 offsets[] = {0x04, 0x08, 0x0C, 0x10, 0x44, 0x48, 0x46, 0x4A};
    const quint16 saved[] = {1500, 800, 20, 30, 500, 600, 1000, 2000};
    for (int i = 0; i < 8; ++i)
        QCOMPARE(sim->registerWord(offsets[i]), saved[i]);
}

void TestSetPoints::saveAddsTheExtension_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("saved");

    QTest::newRow("no extension") << "detector" << QStringLiteral("detector.brelk");
    QTest::newRow("its own extension") << "detector.brelk" << QStringLiteral("detector.brelk");
    QTest::newRow("another extension") << "detector.ini" << QStringLiteral("detector.ini");
}

void TestSetPoints::saveAddsTheExtension()
{
    QFETCH(QString, typed);
    QFETCH(QString, saved);

    Access::tick(*window);
    Seen seen;
    QString suggested;
    const Step choose = chooseFile(folder->filePath(typed));
    drive({[&suggested, choose](QWidget *widget) {
              if (auto *name = widget->findChild<QLineEdit *>("fileNameEdit"))
                  suggested = name->text();
              choose(widget);
          }},
          &seen);
    trigger("actionSaveSetPoints");
    QCOMPARE(seen.dialogs, QStringList{"QFileDialog"});
    QCOMPARE(suggested, QString("brelk-2101.brelk"));
    QCOMPARE(QDir(folder->path()).entryList(QDir::Files), QStringList{saved});
    QCOMPARE(
        QSettings(folder->filePath(saved), QSettings::IniFormat).value("Module/Serial").toString(),
        QString("2101"));
}

void TestSetPoints::writesNothing_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("before"); // ticks: 0 none, 1 one, 2 one and then an address change
    QTest::addColumn<QStringList>("dialogs"); // the last one is cancelled, a message box taken
    QTest::addColumn<QString>("message");

    const QString save = "actionSaveSetPoints", restore = "actionRestoreSetPoints";
    QTest::newRow("save before a tick")
        << save << 0 << QStringList{"QMessageBox"} << "nothing to save yet";
    QTest::newRow("restore before a tick")
        << restore << 0 << QStringList{"QMessageBox"} << "nothing to compare";
    QTest::newRow("restore after an address change")
        << restore << 2 << QStringList{"QMessageBox"} << "nothing to compare";
    QTest::newRow("save, file dialog cancelled") << save << 1 << QStringList{"QFileDialog"} << "";
    QTest::newRow("restore, file dialog cancelled")
        << restore << 1 << QStringList{"QFileDialog"} << "";
    QTest::newRow("restore, confirmation cancelled")
        << restore << 1 << QStringList{"QFileDialog", "SetPointDialog"} << "";
}

void TestSetPoints::writesNothing()
{
    QFETCH(QString, action);
    QFETCH(int, before);
    QFETCH(QStringList, dialogs);
    QFETCH(QString, message);

    if (before > 0)
        Access::tick(*window);
    if (before == 2) {
        DialogDriver::acceptItem("0xDD00");
        trigger("actionModule_Address");
        Access::timer(*window)->stop();
    }
    sim->clearLog();
    const QString path = writeFile(Valid);
    Seen seen;
    if (dialogs.size() == 2)
        drive({chooseFile(path), pressCancel()}, &seen);
    else
        drive({message.isEmpty() ? pressCancel() : pressOk()}, &seen);
    trigger(action.toLatin1());
    QCOMPARE(seen.dialogs, dialogs);
    QVERIFY2(seen.message.contains(message), qPrintable(seen.message));
    QCOMPARE(sim->cycles().size(), 0);
    QCOMPARE(QDir(folder->path()).entryList(QDir::Files), QStringList{"hand-made.brelk"});
}

void TestSetPoints::refused_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("secondRange"); // the panel's radio button
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QByteArray>("settings"); // the panel's, when the row needs any

    const QByteArray valid(Valid);
    QTest::newRow("missing key") << QByteArray(valid).replace("RampCount=30\n", "") << "chk_I2_None"
                                 << "[B] RampCount is missing" << QByteArray();
    QTest::newRow("fraction") << QByteArray(valid).replace("=1500", "=1500.5") << "chk_I2_None"
                              << "[A] VsetCount \"1500.5\" is not a whole decimal number"
                              << QByteArray();
    QTest::newRow("format 2") << QByteArray(valid).replace("Format=1", "Format=2") << "chk_I2_None"
                              << "[Module] Format \"2\" is not a known format" << QByteArray();
    QTest::newRow("unknown resolution")
        << QByteArray(valid).replace("=1uA", "=2uA") << "chk_I2_None"
        << "[Module] CurrentResolution \"2uA\" is not one of 1uA, 100nA, 10nA, 1nA" << QByteArray();
    QTest::newRow("no voltage resolution")
        << QByteArray(valid).replace("=1V\n", "\n") << "chk_I2_None"
        << "[Module] VoltageResolution" << QByteArray();
    QTest::newRow("empty file") << QByteArray() << "chk_I2_None"
                                << "[Module] Format is missing" << QByteArray();
    QTest::newRow("garbage") << QByteArray("\x7f\x45\x4c\x46\x02\x01\x01\0\0\0\xff\xfe=\n[[", 16)
                             << "chk_I2_None"
                             << "is not an INI file" << QByteArray();
    QTest::newRow("markup in a count")
        << QByteArray(valid).replace("=1500", "=<b>1500</b>") << "chk_I2_None"
        << "[A] VsetCount \"<b>1500</b>\" is not a whole decimal number" << QByteArray();
    QTest::newRow("second range limit of one channel only")
        << QByteArray(valid).replace("LimitICount=500\n", "LimitICount=500\nLimitI2Count=7\n")
        << "chk_I2_100pA"
        << "[B] LimitI2Count is missing" << QByteArray();
    // The panel's settings file gives the ceilings.
    QTest::newRow("A above its ceiling")
        << valid << "chk_I2_None"
        << "[A] VsetCount = 1500 is above the ceiling of 1400 V (VsetMaxA)."
        << QByteArray("VsetMaxA=1400\n");
}

void TestSetPoints::refused()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, secondRange);
    QFETCH(QString, entry);
    QFETCH(QByteArray, settings);

    if (!settings.isEmpty()) {
        QVERIFY(writeSettingsFile(settingsPath(), settings));
        // The bridge opens once: the window of init() lets it go first.
        window.reset();
        window.reset(new BrelkControl);
        Access::timer(*window)->stop();
    }

    window->findChild<QRadioButton *>(secondRange)->click();
    Access::tick(*window);
    sim->clearLog();
    const QString path = writeFile(contents);

    Seen seen;
    drive({chooseFile(path), pressOk()}, &seen);
    trigger("actionRestoreSetPoints");
    QCOMPARE(seen.dialogs, (QStringList{"QFileDialog", "QMessageBox"}));
    QCOMPARE(seen.icon, QMessageBox::Warning);
    QVERIFY2(seen.message.contains(QDir::toNativeSeparators(path)), qPrintable(seen.message));
    QVERIFY2(seen.message.contains(entry), qPrintable(seen.message));
    QVERIFY(!seen.markup);
    QCOMPARE(sim->writes(), QVector<Write>());
}

void TestSetPoints::restoreWritesNothing_data()
{
    QTest::addColumn<int>("meanwhile"); // behind the confirmation: 1 a set point changes, 2 no tick
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("message");

    QTest::newRow("module holds the file's set points")
        << 0 << int(QMessageBox::Information) << "already holds every set point";
    QTest::newRow("module changed meanwhile") << 1 << int(QMessageBox::Warning) << "changed";
    // No complete tick within the last second when OK is pressed: the module may be gone.
    QTest::newRow("stale module") << 2 << int(QMessageBox::Warning)
                                  << "not answered within the last second";
}

void TestSetPoints::restoreWritesNothing()
{
    QFETCH(int, meanwhile);
    QFETCH(int, icon);
    QFETCH(QString, message);

    if (meanwhile == 0)
        setModule(1500, 800, 20, 30, 500, 600);
    Access::tick(*window);
    sim->clearLog();
    Seen seen;
    const QString path = writeFile(Valid);
    if (meanwhile == 0) {
        drive({chooseFile(path), pressOk()}, &seen);
    } else {
        drive({chooseFile(path), pressOk([this, meanwhile] {
                   if (meanwhile == 2)
                       return QTest::qWait(1100);
                   sim->setRegister(0x10, 99);
                   Access::tick(*window);
                   sim->clearLog();
               }),
               pressOk()},
              &seen);
    }
    trigger("actionRestoreSetPoints");
    QStringList dialogs{"QFileDialog", "SetPointDialog", "QMessageBox"};
    if (meanwhile == 0)
        dialogs.removeAt(1);
    QCOMPARE(seen.dialogs, dialogs);
    QCOMPARE(int(seen.icon), icon);
    QVERIFY2(seen.message.contains(message), qPrintable(seen.message));
    QCOMPARE(sim->writes(), QVector<Write>());
}

void TestSetPoints::confirmationNotes_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QStringList>("notes");
    QTest::addColumn<QString>("limitRowA");

    const QString leftAsTheyAre = "The second-range current limits are left as they are.";
    const QByteArray valid(Valid);
    QTest::newRow("same module, no second range")
        << valid << "" << QStringList{leftAsTheyAre} << "A | Current limit | 0 mA | 0.5 mA";
    QTest::newRow("spare module")
        << QByteArray(valid).replace("Serial=2101", "Serial=3f07") << ""
        << QStringList{"The file was saved from module serial number 3f07, this is module 2101.",
                       leftAsTheyAre}
        << "A | Current limit | 0 mA | 0.5 mA";
    // A hand-edited file's texts are shown as written, never as markup.
    QTest::newRow("markup in the file")
        << QByteArray(valid).replace("Serial=2101", "Serial=<b>2101</b>\nSaved=<i>today</i>") << ""
        << QStringList{"The file was saved from module serial number <b>2101</b>, this is module "
                       "2101.",
                       leftAsTheyAre}
        << "A | Current limit | 0 mA | 0.5 mA";
    // The counts are written as they are, and shown as the panel's selection reads them.
    QTest::newRow("other resolution")
        << valid << "chk_I_100nA"
        << QStringList{"The file was saved with the resolution selection 1V / 1uA / none, the "
                       "panel has 1V / 100nA / none: the counts are written as they are and mean "
                       "other values here.",
                       leftAsTheyAre}
        << "A | Current limit | 0 uA | 50 uA";
}

void TestSetPoints::confirmationNotes()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, radio);
    QFETCH(QStringList, notes);
    QFETCH(QString, limitRowA);

    if (!radio.isEmpty())
        window->findChild<QRadioButton *>(radio)->click();
    setModule(1500, 800, 20, 30, 0, 600);
    Access::tick(*window);
    sim->clearLog();
    Seen seen;
    drive({chooseFile(writeFile(contents)), pressCancel()}, &seen);
    trigger("actionRestoreSetPoints");
    QCOMPARE(seen.rows, QStringList{limitRowA});
    QCOMPARE(seen.notes, notes);
    QVERIFY(!seen.markup);
}

QTEST_MAIN(TestSetPoints)
#include "tst_setpoints.moc"
