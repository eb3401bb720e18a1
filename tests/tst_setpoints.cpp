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
    QString fileName;    // the name the last file dialog suggested
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
        if (auto *name = widget->findChild<QLineEdit *>("fileNameEdit"))
            seen->fileName = name->text();
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

// Selects `path` in a file dialog and accepts it as its OK button does; closes anything else.
Step chooseFile(const QString &path)
{
    return [path](QWidget *widget) {
        if (auto *dialog = qobject_cast<QFileDialog *>(widget)) {
            dialog->selectFile(path);
            static_cast<QDialog *>(dialog)->accept();
        } else {
            widget->close();
        }
    };
}

// OK (after `before`, while the window is still open), or Cancel.
Step press(bool ok, std::function<void()> before = nullptr)
{
    return [ok, before](QWidget *widget) {
        if (before)
            before();
        auto *box = widget->findChild<QDialogButtonBox *>();
        if (ok && box && box->button(QDialogButtonBox::Ok))
            box->button(QDialogButtonBox::Ok)->click();
        else if (ok)
            qobject_cast<QDialog *>(widget)->accept();
        else
            qobject_cast<QDialog *>(widget)->reject();
    };
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
    void writesNothing_data();
    void writesNothing();

private:
    void trigger(const char *action) { window->findChild<QAction *>(action)->trigger(); }
    void setModule(quint16 vsetA, quint16 vsetB, quint16 rampA, quint16 rampB, quint16 limitA,
                   quint16 limitB);

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
    window.reset(); // the bridge opens once: a window from before lets it go first
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

// Saved with a second range under a name typed without the extension, restored onto a module
// that has moved away from every value: the writes come in the module's order and put back every
// saved set point.
void TestSetPoints::roundTrip()
{
    window->findChild<QRadioButton *>("chk_I2_1nA")->click();
    setModule(1500, 800, 20, 30, 500, 600);
    sim->setRegister(0x46, 1000);
    sim->setRegister(0x4A, 2000);
    Access::tick(*window);

    const QString path = folder->filePath("detector.brelk");
    Seen saving;
    drive({chooseFile(folder->filePath("detector"))}, &saving);
    trigger("actionSaveSetPoints");
    QCOMPARE(saving.dialogs, QStringList{"QFileDialog"});
    QCOMPARE(saving.fileName, QString("brelk-2101.brelk"));
    QCOMPARE(QDir(folder->path()).entryList(QDir::Files), QStringList{"detector.brelk"});
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
    drive({chooseFile(path), press(true,
                                   [this] {
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
}

// Each way a save or a restore ends without touching the module or the folder. The dialogs are
// gone through in order: a file dialog or confirmation that is the last one is cancelled, any
// other is accepted.
void TestSetPoints::writesNothing_data()
{
    QTest::addColumn<QString>("action");
    // 0 no tick, 1 a tick, 2 then an address change, 3 a tick of a module that holds the file's
    // set points, 4 all but channel A's current limit
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("meanwhile"); // behind the confirmation: 1 a set point changes, 2 no tick
    QTest::addColumn<QStringList>("dialogs");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<QString>("message"); // part of the message box's text
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("radio");       // a resolution the panel selects
    QTest::addColumn<QByteArray>("settings"); // the panel's, when the row needs any
    QTest::addColumn<QStringList>("shown");   // the confirmation's rows and notes, if checked

    const QString save = "actionSaveSetPoints", restore = "actionRestoreSetPoints";
    const QStringList box{"QMessageBox"}, file{"QFileDialog"},
        refused{"QFileDialog", "QMessageBox"};
    const QStringList confirmed{"QFileDialog", "SetPointDialog", "QMessageBox"};
    const auto info = QMessageBox::Information, warning = QMessageBox::Warning;
    const auto row = [&](const char *name, const QString &action, int before,
                         const QStringList &dialogs, QMessageBox::Icon icon, const char *message,
                         const QByteArray &contents = Valid, int meanwhile = 0,
                         const char *radio = "chk_I2_None", const QByteArray &settings = {},
                         const QStringList &shown = {}) {
        QTest::newRow(name) << action << before << meanwhile << dialogs << icon << message
                            << contents << radio << settings << shown;
    };
    row("save before a tick", save, 0, box, info, "nothing to save yet");
    row("restore before a tick", restore, 0, box, info, "nothing to compare");
    row("restore after an address change", restore, 2, box, info, "nothing to compare");
    row("save, file dialog cancelled", save, 1, file, QMessageBox::NoIcon, "");
    row("restore, file dialog cancelled", restore, 1, file, QMessageBox::NoIcon, "");
    // The confirmation cancelled. A hand-edited file's texts are shown as written, never as
    // markup; the counts are written as they are, and shown as the panel's selection reads them.
    const QStringList confirmation{"QFileDialog", "SetPointDialog"};
    const QString leftAsTheyAre = "The second-range current limits are left as they are.";
    row("confirmation of a file with markup", restore, 4, confirmation, QMessageBox::NoIcon, "",
        QByteArray(Valid).replace("Serial=2101", "Serial=<b>2101</b>\nSaved=<i>today</i>"), 0,
        "chk_I_1uA", {},
        {"A | Current limit | 0 mA | 0.5 mA",
         "The file was saved from module serial number <b>2101</b>, this is module 2101.",
         leftAsTheyAre});
    row("confirmation under another resolution", restore, 4, confirmation, QMessageBox::NoIcon, "",
        Valid, 0, "chk_I_100nA", {},
        {"A | Current limit | 0 uA | 50 uA",
         "The file was saved with the resolution selection 1V / 1uA / none, the panel has 1V / "
         "100nA / none: the counts are written as they are and mean other values here.",
         leftAsTheyAre});
    row("module holds the file's set points", restore, 3, refused, info,
        "already holds every set point");
    row("module changed meanwhile", restore, 1, confirmed, warning, "changed", Valid, 1);
    // No complete tick within the last second when OK is pressed: the module may be gone.
    row("stale module", restore, 1, confirmed, warning, "not answered within the last second",
        Valid, 2);

    // Files the restore refuses, naming the entry.
    row("missing key", restore, 1, refused, warning, "[B] RampCount is missing",
        QByteArray(Valid).replace("RampCount=30\n", ""));
    row("fraction", restore, 1, refused, warning,
        "[A] VsetCount \"1500.5\" is not a whole decimal number",
        QByteArray(Valid).replace("=1500", "=1500.5"));
    row("format 2", restore, 1, refused, warning, "[Module] Format \"2\" is not a known format",
        QByteArray(Valid).replace("Format=1", "Format=2"));
    row("unknown resolution", restore, 1, refused, warning,
        "[Module] CurrentResolution \"2uA\" is not one of 1uA, 100nA, 10nA, 1nA",
        QByteArray(Valid).replace("=1uA", "=2uA"));
    row("no voltage resolution", restore, 1, refused, warning, "[Module] VoltageResolution",
        QByteArray(Valid).replace("=1V\n", "\n"));
    row("empty file", restore, 1, refused, warning, "[Module] Format is missing", QByteArray());
    row("garbage", restore, 1, refused, warning, "is not an INI file",
        QByteArray("\x7f\x45\x4c\x46\x02\x01\x01\0\0\0\xff\xfe=\n[[", 16));
    row("second range limit of one channel only", restore, 1, refused, warning,
        "[B] LimitI2Count is missing",
        QByteArray(Valid).replace("LimitICount=500\n", "LimitICount=500\nLimitI2Count=7\n"), 0,
        "chk_I2_100pA");
    // The panel's settings file gives the ceilings.
    row("A above its ceiling", restore, 1, refused, warning,
        "[A] VsetCount = 1500 is above the ceiling of 1400 V (VsetMaxA).", Valid, 0, "chk_I2_None",
        "VsetMaxA=1400\n");
}

void TestSetPoints::writesNothing()
{
    QFETCH(QString, action);
    QFETCH(int, before);
    QFETCH(int, meanwhile);
    QFETCH(QStringList, dialogs);
    QFETCH(QString, message);
    QFETCH(QByteArray, contents);
    QFETCH(QString, radio);
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, shown);

    // The panel again, over the settings file the row gives.
    if (!settings.isEmpty()) {
        QVERIFY(writeSettingsFile(settingsPath(), settings));
        init();
    }
    window->findChild<QRadioButton *>(radio)->click();
    if (before >= 3)
        setModule(1500, 800, 20, 30, before == 3 ? 500 : 0, 600);
    if (before > 0)
        Access::tick(*window);
    if (before == 2) {
        DialogDriver::acceptItem("0xDD00");
        trigger("actionModule_Address");
        Access::timer(*window)->stop();
    }
    sim->clearLog();
    const QString path = folder->filePath("hand-made.brelk");
    QVERIFY(writeSettingsFile(path, contents));

    QVector<Step> steps;
    for (int i = 0; i < dialogs.size(); ++i) {
        const bool last = i == dialogs.size() - 1;
        if (dialogs[i] == "QMessageBox")
            steps << press(true);
        else if (last)
            steps << press(false);
        else if (dialogs[i] == "QFileDialog")
            steps << chooseFile(path);
        else if (meanwhile == 1)
            steps << press(true, [this] {
                // The ramp speed's row changes, its writes do not.
                sim->setRegister(0x10, 99);
                Access::tick(*window);
                sim->clearLog();
            });
        else
            steps << press(true, [] { QTest::qWait(1100); });
    }
    Seen seen;
    drive(steps, &seen);
    trigger(action.toLatin1());
    QCOMPARE(seen.dialogs, dialogs);
    QTEST(seen.icon, "icon");
    QVERIFY2(seen.message.contains(message), qPrintable(seen.message));
    if (dialogs == QStringList{"QFileDialog", "QMessageBox"})
        QVERIFY2(seen.message.contains(QDir::toNativeSeparators(path)), qPrintable(seen.message));
    if (!shown.isEmpty())
        QCOMPARE(seen.rows + seen.notes, shown);
    QVERIFY(!seen.markup);
    QCOMPARE(sim->cycles().size(), 0);
    QCOMPARE(QDir(folder->path()).entryList(QDir::Files), QStringList{"hand-made.brelk"});
}

QTEST_MAIN(TestSetPoints)
#include "tst_setpoints.moc"
