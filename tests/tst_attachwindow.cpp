// The attached panel's windows end to end: a real broker with the README's accounts and access
// list, the service's own executable polling two simulated modules (0xDD00 under brelk/dd00,
// 0xDC00 under brelk/dd00/dc00) in a process of its own, and the main window attached in this
// process, compared with a local panel on an equally configured simulator (the writes on the bus
// are compared without a window, in tst_attach).
#include "attachment.h"
#include "brelkcontroltestaccess.h"
#include "broker.h"
#include "dialogdriver.h"
#include "modulewindow.h"
#include "settingsfile.h"
#include "simcontrol.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

#include <memory>

using Access = BrelkControlTestAccess;

namespace {

const char *const CommandButtons[] = {
    "btnClearStatus2_A",   "btnClearStatus2_B",  "btnSetVset_A",       "btnSetVset_B",
    "btnSetRamp_A",        "btnSetRamp_B",       "btnSetSoftLimitI_A", "btnSetSoftLimitI_B",
    "btnSetSoftLimitI2_A", "btnSetSoftLimitI2_B"};

// The simulated crate of the service and of the local panel alike: both modules' channels ramp to
// their own set voltages within a second, so that both simulators reach the same steady state
// soon after power-on.
const char *const Crate[][2] = {{"BRELKSIM_MODULES", "0xDD00,0xDC00"},
                                {"BRELKSIM_VSET_A", "200"},
                                {"BRELKSIM_VSET_B", "100"},
                                {"BRELKSIM_RAMP_A", "255"},
                                {"BRELKSIM_RAMP_B", "255"},
                                {"BRELKSIM_DC00_VSET_A", "300"},
                                {"BRELKSIM_DC00_VSET_B", "150"},
                                {"BRELKSIM_DC00_RAMP_A", "255"},
                                {"BRELKSIM_DC00_RAMP_B", "255"}};

const char *const WindowTitle = "%1 on 127.0.0.1 - pavex BRELK Control";

// The window showing the module: the main window, or the further module's window by its name.
QMainWindow *windowOf(BrelkControl &main, const QString &name)
{
    return name.isEmpty() ? &main : main.findChild<QMainWindow *>(name);
}

// "txtVmeas_A=200 V" for every field of the window's form, in the order of their names.
QStringList fieldTexts(QMainWindow *window)
{
    QStringList texts;
    for (const QLineEdit *field : window->centralWidget()->findChildren<QLineEdit *>())
        texts << field->objectName() + QLatin1Char('=') + field->text();
    texts.sort();
    return texts;
}

// The fields of the window's form drawn as a stale reading: italic, in the disabled text colour.
QStringList staleFields(QMainWindow *window)
{
    QStringList stale;
    const QColor disabled = window->palette().color(QPalette::Disabled, QPalette::Text);
    for (const QLineEdit *field : window->centralWidget()->findChildren<QLineEdit *>()) {
        if (field->font().italic() && field->palette().color(QPalette::Text) == disabled)
            stale << field->objectName();
    }
    return stale;
}

QString commandNotice(QMainWindow *window)
{
    const QLabel *label = window->statusBar()->findChild<QLabel *>(QStringLiteral("lblCommand"));
    return label ? label->text() : QStringLiteral("(no command label)");
}

} // namespace

class TestAttachWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void asTheLocalPanelUntilKilled();

private:
    void startService();

    std::unique_ptr<SimControl> sim;
    std::unique_ptr<Broker> broker;
    QTemporaryDir folder;
    QProcess service;
    std::unique_ptr<BrelkControl> attached;
    std::unique_ptr<BrelkControl> local;
};

void TestAttachWindow::initTestCase()
{
    if (!QFile::exists(QStringLiteral(BRELK_MOSQUITTO_BROKER)))
        QSKIP("the mosquitto broker is not installed");
    QVERIFY(folder.isValid());
    // The simulator in this process reads the crate from the environment at every reset, and the
    // service inherits it.
    for (const auto &setting : Crate)
        qputenv(setting[0], setting[1]);
    sim.reset(new SimControl(QStringLiteral("libxxusb")));
    QVERIFY2(sim->isLoaded(), "the module simulator is not on the library search path");

    const QByteArray acl = readmeAcl(QStringLiteral(BRELK_README));
    QVERIFY(acl.contains("user operator"));
    QList<QPair<QString, QString>> users;
    for (const char *user : {"dd00", "operator"})
        users.append({QLatin1String(user), QLatin1String(user) + QStringLiteral("-pw")});
    broker.reset(new Broker);
    QVERIFY(broker->startGuarded(users, acl));

    QVERIFY(writeSettingsFile(
        folder.filePath(QStringLiteral("service.ini")),
        "[General]\nVmeController=VM-USB\nBaseAddress=0xDD00\nMqttHost=127.0.0.1\nMqttPort=" +
            QByteArray::number(broker->port) +
            "\nMqttUser=dd00\nMqttPassword=dd00-pw\nMqttCommands=on\n"
            "[Module_DC00]\nMqttTopic=brelk/dd00/dc00\n"));
    QVERIFY(writeSettingsFile(folder.filePath(QStringLiteral("local.ini")),
                              "[General]\nVmeController=VM-USB\nBaseAddress=0xDD00\n"
                              "[Module_DC00]\n"));
    QVERIFY(writeSettingsFile(
        folder.filePath(QStringLiteral("attached.ini")),
        "[General]\nMqttHost=127.0.0.1\nMqttPort=" + QByteArray::number(broker->port) +
            "\nMqttUser=operator\nMqttPassword=operator-pw\n"
            "AttachFilter=brelk/+, brelk/+/+\nAttachModule=brelk/dd00\n"));
    startService();
}

void TestAttachWindow::cleanupTestCase()
{
    attached.reset();
    local.reset();
    if (service.state() != QProcess::NotRunning) {
        service.terminate();
        if (!service.waitForFinished(5000))
            service.kill();
        service.waitForFinished(2000);
    }
}

// The service's executable on its own simulator of the same crate, from this process's environment.
void TestAttachWindow::startService()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(BRELK_SIM_DIR));
    service.setProcessEnvironment(environment);
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(QStringLiteral(BRELK_SERVICE_EXECUTABLE),
                  {QStringLiteral("--settings"), folder.filePath(QStringLiteral("service.ini"))});
    QVERIFY(service.waitForStarted(5000));
}

// Once both simulators stand still, every field of both attached windows reads as the local
// panel's; the further module's window is titled by its prefix, and the attached panel offers
// neither a VME controller nor a module address. A command entered in an attached dialog, as an
// operator would: the dialog opens as the local one does, and the status bar says what was sent,
// then what came of it.
// The service killed outright then says nothing: the broker's last will for it makes every field
// of both windows stale within 3 s, the status bar tells since when, and the commands are off. A
// panel attached meanwhile shows the last readings stale; the service started again brings the
// fields and the commands back.
void TestAttachWindow::asTheLocalPanelUntilKilled()
{
    UnexpectedBoxes boxes;
    // The main window attached as the operator shows brelk/dd00 live, and the window of
    // brelk/dd00/dc00 is there.
    attached.reset(new BrelkControl(folder.filePath(QStringLiteral("attached.ini")), true));
    QTRY_COMPARE_WITH_TIMEOUT(attached->windowTitle(),
                              QString::fromLatin1(WindowTitle).arg(QLatin1String("brelk/dd00")),
                              10000);
    QTRY_VERIFY_WITH_TIMEOUT(windowOf(*attached, QStringLiteral("moduleWindow_DC00")), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!Access::session(*attached)->isStale(), 5000);
    QVERIFY(staleFields(attached.get()).isEmpty());
    // A panel of this process polling its own simulator, freshly powered on.
    sim->reset();
    local.reset(new BrelkControl(folder.filePath(QStringLiteral("local.ini"))));
    QTRY_VERIFY_WITH_TIMEOUT(Access::session(*local)->lastReading(), 5000);
    const struct
    {
        const char *window, *prefix, *vsetA;
    } modules[] = {{"", "brelk/dd00", "200"}, {"moduleWindow_DC00", "brelk/dd00/dc00", "300"}};
    for (const auto &window : modules) {
        QMainWindow *remote = windowOf(*attached, QLatin1String(window.window));
        QMainWindow *own = windowOf(*local, QLatin1String(window.window));
        QVERIFY(remote && own);
        // A further module's window follows its module while it is open, as the operator opens it.
        remote->show();
        own->show();
        QCOMPARE(remote->windowTitle(),
                 QString::fromLatin1(WindowTitle).arg(QLatin1String(window.prefix)));
        QTRY_COMPARE_WITH_TIMEOUT(fieldTexts(remote), fieldTexts(own), 5000);
        // Not two empty forms, nor one module's readings in the other's window.
        QVERIFY2(remote->findChild<QLineEdit *>(QStringLiteral("txtVset_A"))
                     ->text()
                     .contains(QLatin1String(window.vsetA)),
                 qPrintable(fieldTexts(remote).join(QLatin1Char('\n'))));
        QCOMPARE(remote->centralWidget()->findChildren<QLineEdit *>().size(), 28);
        QVERIFY(staleFields(remote).isEmpty());
    }
    const QString why = QStringLiteral("Attached to the services through the broker: each "
                                       "crate's service holds its VME controller and module "
                                       "addresses");
    for (const char *name : {"actionVME_Controller", "actionModule_Address"}) {
        const QAction *action = attached->findChild<QAction *>(QLatin1String(name));
        QVERIFY2(action && !action->isEnabled(), name);
        QCOMPARE(action->toolTip(), why);
    }

    const struct
    {
        const char *button;
        double entered;
        const char *sent;
    } commands[] = {{"btnSetRamp_B", 120, "Sent: channel B Ramp 120 V/s"},
                    {"btnSetVset_A", 250, "Sent: channel A Vset 250 V"}};
    for (const auto &command : commands) {
        SeenDialog localDialog;
        DialogDriver::acceptDouble(command.entered, &localDialog);
        local->findChild<QPushButton *>(QLatin1String(command.button))->click();
        QVERIFY(localDialog.shown);
        QPushButton *button = attached->findChild<QPushButton *>(QLatin1String(command.button));
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 3000);
        SeenDialog remoteDialog;
        DialogDriver::acceptDouble(command.entered, &remoteDialog);
        button->click();
        QVERIFY2(remoteDialog.shown, command.button);
        QCOMPARE(remoteDialog.label, localDialog.label);
        QCOMPARE(remoteDialog.value, localDialog.value);
        QCOMPARE(remoteDialog.minimum, localDialog.minimum);
        QCOMPARE(remoteDialog.maximum, localDialog.maximum);
        QCOMPARE(remoteDialog.decimals, localDialog.decimals);
        QCOMPARE(commandNotice(attached.get()), QLatin1String(command.sent));
        QTRY_COMPARE_WITH_TIMEOUT(commandNotice(attached.get()), QStringLiteral("Done"), 3000);
        QVERIFY(button->isEnabled());
        // The attached panel sends one command at most every CommandSpacingMs.
        QTest::qWait(Brelk::Attachment::CommandSpacingMs);
    }

    QMainWindow *further = windowOf(*attached, QStringLiteral("moduleWindow_DC00"));
    QElapsedTimer killed;
    killed.start();
    QCOMPARE(::kill(pid_t(service.processId()), SIGKILL), 0);
    QVERIFY(service.waitForFinished(3000));
    for (QMainWindow *window : {static_cast<QMainWindow *>(attached.get()), further})
        QTRY_COMPARE_WITH_TIMEOUT(staleFields(window).size(), 28, 3000);
    QVERIFY2(killed.elapsed() < 3000, qPrintable(QString::number(killed.elapsed())));
    const QString message = attached->statusBar()->currentMessage();
    QVERIFY2(message.startsWith(QStringLiteral("No messages from brelk/dd00 since ")),
             qPrintable(message));
    for (const char *name : CommandButtons) {
        const QPushButton *button = attached->findChild<QPushButton *>(QLatin1String(name));
        QVERIFY2(button && !button->isEnabled(), name);
        QCOMPARE(button->toolTip(),
                 QStringLiteral("Not available: the readings of brelk/dd00 are not current"));
    }

    // A panel attached while the service is away shows the broker's retained readings in both
    // windows, stale.
    attached.reset(new BrelkControl(folder.filePath(QStringLiteral("attached.ini")), true));
    QTRY_VERIFY_WITH_TIMEOUT(windowOf(*attached, QStringLiteral("moduleWindow_DC00")), 5000);
    further = windowOf(*attached, QStringLiteral("moduleWindow_DC00"));
    further->show();
    for (QMainWindow *window : {static_cast<QMainWindow *>(attached.get()), further}) {
        QTRY_VERIFY_WITH_TIMEOUT(!window->findChild<QLineEdit *>("txtVmeas_A")->text().isEmpty(),
                                 5000);
        QCOMPARE(staleFields(window).size(), 28);
    }

    startService();
    if (QTest::currentTestFailed())
        return;
    for (QMainWindow *window : {static_cast<QMainWindow *>(attached.get()), further})
        QTRY_COMPARE_WITH_TIMEOUT(staleFields(window), QStringList(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(attached->findChild<QPushButton *>("btnSetVset_A")->isEnabled(), 3000);
    QCOMPARE(boxes.texts(), QStringList());
}

QTEST_MAIN(TestAttachWindow)
#include "tst_attachwindow.moc"
