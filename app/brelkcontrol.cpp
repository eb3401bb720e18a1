#include "brelkcontrol.h"
#include "ui_brelkcontrol.h"

#include "commanddialogs.h"
#include "commands.h"
#include "datalog.h"
#include "datalogcontrol.h"
#include "display.h"
#include "historywindow.h"
#include "modulesession.h"
#include "readingform.h"
#include "readinglooks.h"
#include "setpointtool.h"
#ifdef BRELK_MQTT
#include "mqttcontrol.h"
#include "mqttpublisher.h"
#endif

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

using namespace Brelk;

namespace {

const char *const TitleVersion = "1.0";
const char *const AboutVersion = "1.0.0.0";
const int PollIntervalMs = 100;

QString localTimeText(qint64 msecsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch).toString(QStringLiteral("hh:mm:ss"));
}

} // namespace

BrelkControl::BrelkControl(QWidget *parent) : BrelkControl(Settings::besideExecutable(), parent) {}

BrelkControl::BrelkControl(const QString &settingsFile, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::BrelkControl), settings(settingsFile), session(nullptr),
      timer(nullptr)
{
    qDebug() << "Using INI file:" << settings.path();

    ui->setupUi(this);
    session = new ModuleSession(&bridge, settings.baseAddress(), this);
    // The history records every complete tick from now on, whether its window is open or not.
    readings = new ReadingHistory(this);
    buildToolsMenu();
    setWindowTitle(
        tr("%1 Version %2").arg(QLatin1String(ProgramName), QLatin1String(TitleVersion)));
    qDebug("BaseAddress: 0x%X", session->baseAddress());

    form = new ReadingForm(ui);
    const ReadingLooks::ChannelFields alarmFields[2] = {
        {ui->txtStatus2_A, ui->txtStatus_A, ui->txtVmeas_A},
        {ui->txtStatus2_B, ui->txtStatus_B, ui->txtVmeas_B},
    };
    looks = new ReadingLooks(
        {ui->txtVset_A,       ui->txtVset_B,       ui->txtRamp_A,        ui->txtRamp_B,
         ui->txtVmeas_A,      ui->txtVmeas_B,      ui->txtImeas_A,       ui->txtImeas_B,
         ui->txtImeas2_A,     ui->txtImeas2_B,     ui->txtStatus_A,      ui->txtStatus_B,
         ui->txtPolarity_A,   ui->txtPolarity_B,   ui->txtKill_A,        ui->txtKill_B,
         ui->txtHVON_A,       ui->txtHVON_B,       ui->txtStatus2_A,     ui->txtStatus2_B,
         ui->txtLimitV_A,     ui->txtLimitV_B,     ui->txtLimitI_A,      ui->txtLimitI_B,
         ui->txtSoftLimitI_A, ui->txtSoftLimitI_B, ui->txtSoftLimitI2_A, ui->txtSoftLimitI2_B},
        alarmFields, settings.voltageDeviationAlarm());

    // The radio buttons start at the options the settings file names and tell the session every
    // change, so that the next tick scales by them.
    selectResolution(settings.resolutionOptions());
    session->setSelection(formSelection());
    for (QRadioButton *option :
         {ui->chk_U_1V, ui->chk_U_100mV, ui->chk_I_1uA, ui->chk_I_100nA, ui->chk_I_10nA,
          ui->chk_I_1nA, ui->chk_I2_None, ui->chk_I2_1nA, ui->chk_I2_100pA}) {
        connect(option, &QRadioButton::toggled, this,
                [this] { session->setSelection(formSelection()); });
    }

    // The form shows a tick first; the history, the log and the publisher take it after.
    connect(session, &ModuleSession::readingTaken, this, &BrelkControl::showReading);
    connect(session, &ModuleSession::staleChanged, this, &BrelkControl::showStale);
    connect(session, &ModuleSession::noAnswer, this, &BrelkControl::showNoAnswer);
    connect(session, &ModuleSession::alarmRaised, this, [this] { looks->alert(this); });
    connect(session, &ModuleSession::readingTaken, readings, &ReadingHistory::takeReading);
    connect(session, &ModuleSession::readingTaken, dataLog, &DataLog::takeReading);

    timer = new QTimer(this);
    timer->setInterval(PollIntervalMs);
    connect(timer, &QTimer::timeout, this, &BrelkControl::timeout);

    dataLogControl->resume();

    connectController();

#ifdef BRELK_MQTT
    mqttPublisher = new MqttPublisher(
        [this] {
            return ModuleContext{
                bridge.name(), int(session->baseAddress()), session->selection().fineVoltage,
                session->selection().currentResolution, session->selection().secondRange};
        },
        this);
    actionMqttPublishing = menuTools->addAction(tr("MQTT Publishing..."));
    actionMqttPublishing->setObjectName(QStringLiteral("actionMqttPublishing"));
    auto *mqttControl = new MqttControl(mqttPublisher, &settings, statusBar(), this);
    connect(actionMqttPublishing, &QAction::triggered, mqttControl, &MqttControl::configure);
    menuTools->addAction(mqttControl->remoteCommandsAction());
    mqttPublisher->attach(session);
    mqttPublisher->startFromSettings(settings);
#endif
}

BrelkControl::~BrelkControl()
{
#ifdef BRELK_MQTT
    // Publishing says "offline" while the window and its context still exist.
    delete mqttPublisher;
    mqttPublisher = nullptr;
#endif
    bridge.close();
    delete timer;
    timer = nullptr;
    delete looks;
    looks = nullptr;
    delete form;
    delete ui;
}

// The form's menus stay as designed; the panel's tools get a menu of their own before Help.
void BrelkControl::buildToolsMenu()
{
    menuTools = new QMenu(ui->menuBar);
    menuTools->setObjectName(QStringLiteral("menuTools"));
    menuTools->setTitle(tr("Tools"));
    ui->menuBar->insertMenu(ui->menuHelp->menuAction(), menuTools);
    history = new HistoryWindow(readings, this);
    actionHistory = menuTools->addAction(tr("History"), history, &HistoryWindow::showAndRaise);
    actionHistory->setObjectName(QStringLiteral("actionHistory"));
    dataLog = new DataLog(this);
    dataLogControl = new DataLogControl(dataLog, &settings, this);
    menuTools->addAction(dataLogControl->action());
    auto *setPointTool = new SetPointTool(
        this, {[this] { return session->lastReading(); }, [this] { return session->selection(); },
               [this](const WriteList &writes) { session->execute(writes); },
               [this] { return session->baseAddress(); }});
    actionSaveSetPoints = menuTools->addAction(tr("Save Set Points..."));
    actionSaveSetPoints->setObjectName(QStringLiteral("actionSaveSetPoints"));
    connect(actionSaveSetPoints, &QAction::triggered, setPointTool, &SetPointTool::save);
    actionRestoreSetPoints = menuTools->addAction(tr("Restore Set Points..."));
    actionRestoreSetPoints->setObjectName(QStringLiteral("actionRestoreSetPoints"));
    connect(actionRestoreSetPoints, &QAction::triggered, setPointTool, &SetPointTool::restore);
}

void BrelkControl::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        menuTools->setTitle(tr("Tools"));
        actionHistory->setText(tr("History"));
        actionSaveSetPoints->setText(tr("Save Set Points..."));
        actionRestoreSetPoints->setText(tr("Restore Set Points..."));
        if (actionMqttPublishing)
            actionMqttPublishing->setText(tr("MQTT Publishing..."));
    }
}

// --- Connection ---------------------------------------------------------------------------

void BrelkControl::connectController()
{
    statusBar()->showMessage(tr("Connecting to VME controller..."));
    const bool opened = bridge.connect(settings.vmeController());
    const QString name = bridge.name();
    if (opened) {
        statusBar()->showMessage(tr("Connected to VME controller %1!").arg(name));
        statusBar()->showMessage(tr("Connecting to HV device at VME address %1...")
                                     .arg(session->baseAddress(), 4, 16, QLatin1Char('0')));
        timer->start();
        session->connected();
    } else {
        session->connectionFailed();
        QMessageBox::warning(
            this, tr(ProgramName),
            tr("Could not init VME controller %1!\nMaybe there is no controller connected over "
               "USB?\n\nYou can try re-powering the crate and re-plugging the USB cord\nand then "
               "select menu File --> Vme Controller --> Yes.")
                .arg(name));
        statusBar()->showMessage(tr("Not connected to VME controller %1!").arg(name));
    }
}

void BrelkControl::on_actionVME_Controller_triggered()
{
    const QString vmUsbItem = QStringLiteral("Wiener VM-USB");
    const QString v1718Item = QStringLiteral("CAEN V1718");
    const QStringList items{vmUsbItem, v1718Item};

    timer->stop();
    statusBar()->showMessage(
        tr("Polling stopped at %1").arg(localTimeText(QDateTime::currentMSecsSinceEpoch())));
    session->pollStopped();
    bridge.close();

    const int current = settings.vmeController() == QLatin1String(Settings::V1718) ? 1 : 0;
    bool ok = false;
    const QString choice = QInputDialog::getItem(
        this, tr(ProgramName), tr("Please select the VME controller to connect to:"), items,
        current, false, &ok);
    // Cancel leaves the controller closed and the poll stopped until the operator chooses again.
    if (!ok || choice.isEmpty())
        return;

    const char *const controller = choice == v1718Item ? Settings::V1718 : Settings::VmUsb;
    storeSetting(settings.storeVmeController(QLatin1String(controller)),
                 QStringLiteral("VmeController"));
    connectController();
}

// --- Module address, About, Quit ----------------------------------------------------------

void BrelkControl::on_actionModule_Address_triggered()
{
    QStringList addresses;
    for (quint32 address = 0; address < 0xFFFF; address += 0x100)
        addresses << baseAddressText(address);

    timer->stop();
    bool ok = false;
    const QString choice =
        QInputDialog::getItem(this, tr(ProgramName), tr("Select module's VME Base Address:"),
                              addresses, int(session->baseAddress() / 256), false, &ok);
    const int index = addresses.indexOf(choice);
    if (ok && index >= 0) {
        session->setBaseAddress(quint32(index) * 0x100);
        storeSetting(settings.storeBaseAddress(session->baseAddress()),
                     QStringLiteral("BaseAddress"));
    }
    // The poll runs after the dialog whatever state it had before.
    timer->start();
}

void BrelkControl::on_actionAbout_triggered()
{
    const QString text =
        tr("<h2>%1 Version %2</h2>"
           "<p>BRELK high-voltage modules are made by pavex. Manuals and module options are "
           "described on the <a href=\"https://www.pavex.example/brelk\">pavex web site</a>.</p>"
           "<p>Simple example for control of pavex BRELK two channel high voltage modules.</p>"
           "<p>Written by the pavex BRELK Control developers.</p>"
           "<p>This program requires a Wiener VM-USB or CAEN V1718 controller to connect to VME "
           "bus.</p>"
           "<p>Questions and reports: <a href=\"mailto:brelk-control@pavex.example?subject=%1 "
           "Version %2\">brelk-control@pavex.example</a></p>")
            .arg(QLatin1String(ProgramName))
            .arg(QLatin1String(AboutVersion));
    QMessageBox::about(this, tr("About %1").arg(QLatin1String(ProgramName)), text);
}

void BrelkControl::on_actionAbout_Qt_triggered()
{
    QApplication::aboutQt();
}

void BrelkControl::on_actionQuit_triggered()
{
    close();
}

// --- The 100 ms poll ----------------------------------------------------------------------

void BrelkControl::timeout()
{
    session->poll();
}

// Shows a complete tick: the serial number in the status bar, the texts of the form and the alarm
// colours. A channel that newly turns red (the session's `alarmRaised`) makes the taskbar entry
// flash, once per tick, so that a trip is noticed on a busy desktop.
void BrelkControl::showReading(const Reading &reading)
{
    const QString message = serialNumberMessage(reading.serialNumber);
    if (statusBar()->currentMessage() != message)
        statusBar()->showMessage(message);
    form->show(reading, session->eventLatch());
    looks->showAlarms(reading, session->eventLatch());
    emit readingTaken(reading);
}

// Marks every field a complete tick writes as stale, or live again.
void BrelkControl::showStale(bool stale)
{
    looks->showStale(stale);
    if (stale)
        emit readingsStale();
}

void BrelkControl::showNoAnswer(qint64 silentSince)
{
    statusBar()->showMessage(
        tr("No answer from the module at VME address %1 since %2")
            .arg(baseAddressText(session->baseAddress()), localTimeText(silentSince)));
}

void BrelkControl::on_btnClearStatus2_A_clicked()
{
    session->clearEvents(0);
}

void BrelkControl::on_btnClearStatus2_B_clicked()
{
    session->clearEvents(1);
}

// --- Set-points and current limits -------------------------------------------------------
// Each dialog starts at the value the form shows; OK hands the session the command's writes.

void BrelkControl::setVoltage(int channel)
{
    session->execute(askSetVoltage(this, channel, form->values()));
}

void BrelkControl::setRampSpeed(int channel)
{
    session->execute(askRampSpeed(this, channel, form->values(), session->lastReading()));
}

void BrelkControl::setSoftLimitI(int channel)
{
    session->execute(
        askSoftLimitI(this, channel, form->values(), session->selection().currentResolution));
}

void BrelkControl::setSoftLimitI2(int channel)
{
    session->execute(
        askSoftLimitI2(this, channel, form->values(), session->selection().secondRange));
}

void BrelkControl::on_btnSetVset_A_clicked()
{
    setVoltage(0);
}

void BrelkControl::on_btnSetVset_B_clicked()
{
    setVoltage(1);
}

void BrelkControl::on_btnSetRamp_A_clicked()
{
    setRampSpeed(0);
}

void BrelkControl::on_btnSetRamp_B_clicked()
{
    setRampSpeed(1);
}

void BrelkControl::on_btnSetSoftLimitI_A_clicked()
{
    setSoftLimitI(0);
}

void BrelkControl::on_btnSetSoftLimitI_B_clicked()
{
    setSoftLimitI(1);
}

void BrelkControl::on_btnSetSoftLimitI2_A_clicked()
{
    setSoftLimitI2(0);
}

void BrelkControl::on_btnSetSoftLimitI2_B_clicked()
{
    setSoftLimitI2(1);
}

// --- Resolution selection -----------------------------------------------------------------

void BrelkControl::setSecondRangeLimitButtonsEnabled(bool enabled)
{
    ui->btnSetSoftLimitI2_A->setEnabled(enabled);
    ui->btnSetSoftLimitI2_B->setEnabled(enabled);
}

void BrelkControl::on_chk_I2_None_clicked()
{
    setSecondRangeLimitButtonsEnabled(false);
}

void BrelkControl::on_chk_I2_100pA_clicked()
{
    setSecondRangeLimitButtonsEnabled(true);
}

void BrelkControl::on_chk_I2_1nA_clicked()
{
    setSecondRangeLimitButtonsEnabled(true);
}

void BrelkControl::selectResolution(const ResolutionSelection &selection)
{
    (selection.fineVoltage ? ui->chk_U_100mV : ui->chk_U_1V)->setChecked(true);
    QRadioButton *const current[] = {ui->chk_I_1uA, ui->chk_I_100nA, ui->chk_I_10nA, ui->chk_I_1nA};
    current[int(selection.currentResolution)]->setChecked(true);
    QRadioButton *const second[] = {ui->chk_I2_None, ui->chk_I2_1nA, ui->chk_I2_100pA};
    second[int(selection.secondRange)]->setChecked(true);
    setSecondRangeLimitButtonsEnabled(selection.secondRange != SecondRange::None);
}

ResolutionSelection BrelkControl::formSelection() const
{
    ResolutionSelection selection;
    selection.fineVoltage = !ui->chk_U_1V->isChecked();
    if (ui->chk_I_1uA->isChecked())
        selection.currentResolution = CurrentResolution::uA1;
    else if (ui->chk_I_100nA->isChecked())
        selection.currentResolution = CurrentResolution::nA100;
    else if (ui->chk_I_10nA->isChecked())
        selection.currentResolution = CurrentResolution::nA10;
    else
        selection.currentResolution = CurrentResolution::nA1;
    if (ui->chk_I2_None->isChecked())
        selection.secondRange = SecondRange::None;
    else if (ui->chk_I2_1nA->isChecked())
        selection.secondRange = SecondRange::nA1;
    else
        selection.secondRange = SecondRange::pA100;
    return selection;
}

// A value that could not be written is still used for this run, but the operator learns that
// the next start will not see it.
void BrelkControl::storeSetting(bool stored, const QString &key)
{
    if (!stored) {
        QMessageBox::warning(this, tr(ProgramName),
                             tr("Could not save the setting %1 to the file\n%2\nThe new value "
                                "applies until the program ends.")
                                 .arg(key, QDir::toNativeSeparators(settings.path())));
    }
}
