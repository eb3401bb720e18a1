#include "brelkcontrol.h"
#include "ui_brelkcontrol.h"

#include "alarms.h"
#include "commands.h"
#include "cv1718.h"
#include "cvmusb.h"
#include "datalogcontrol.h"
#include "display.h"
#include "historywindow.h"
#include "readinglooks.h"
#include "setpointtool.h"
#ifdef BRELK_MQTT
#include "mqttpublisher.h"
#endif

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>
#include <QTimer>

using namespace Brelk;

namespace {

const char *const ApplicationName = "pavex BRELK Control";
const char *const TitleVersion = "1.0";
const char *const AboutVersion = "1.0.0.0";
const char *const SettingsFileName = "brelkcontrol.ini";
const char *const BaseAddressKey = "BaseAddress";
const char *const DefaultBaseAddressText = "0xDD00";
const char *const VmeControllerKey = "VmeController";
const char *const VoltageDeviationAlarmKey = "VoltageDeviationAlarm";
const char *const VmUsbSetting = "VM-USB";
const char *const V1718Setting = "V1718";
const int PollIntervalMs = 100;
const quint32 HighestA16Address = 0xFFFF;

QString localTimeText(qint64 msecsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch).toString(QStringLiteral("hh:mm:ss"));
}

QChar channelLetter(int channel)
{
    return QChar('A' + channel);
}

// Parses a stored base address by its prefix: "0x" hexadecimal, a leading "0" octal, anything
// else decimal. The text must be one such number and nothing else; the toolkit's own parser
// would also take a binary "0b" prefix or stop at a NUL character.
bool parseBaseAddress(const QString &text, int *address)
{
    static const QRegularExpression prefixRule(
        QStringLiteral("^\\s*[+-]?(0[xX][0-9a-fA-F]+|0[0-7]*|[1-9][0-9]*)\\s*$"));
    if (!prefixRule.match(text).hasMatch())
        return false;
    bool ok = false;
    const int value = text.toInt(&ok, 0);
    if (ok)
        *address = value;
    return ok;
}

} // namespace

BrelkControl::BrelkControl(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::BrelkControl), timer(nullptr), vmeController(nullptr),
      baseAddress(DefaultBaseAddress)
{
    iniFile = QDir(QCoreApplication::applicationDirPath()).absolutePath() + QLatin1Char('/') +
              QLatin1String(SettingsFileName);
    QSettings settings(iniFile, QSettings::IniFormat);
    qDebug() << "Using INI file:" << iniFile;

    ui->setupUi(this);
    // The form's menus stay as designed; the panel's tools get a menu of their own before Help.
    menuTools = new QMenu(ui->menuBar);
    menuTools->setObjectName(QStringLiteral("menuTools"));
    menuTools->setTitle(tr("Tools"));
    ui->menuBar->insertMenu(ui->menuHelp->menuAction(), menuTools);
    // The history records every complete tick from now on, whether its window is open or not.
    history = new HistoryWindow(this);
    connect(this, &BrelkControl::readingTaken, history, &HistoryWindow::addReading);
    actionHistory = menuTools->addAction(tr("History"), history, &HistoryWindow::showAndRaise);
    actionHistory->setObjectName(QStringLiteral("actionHistory"));
    dataLog = new DataLogControl(iniFile, this);
    menuTools->addAction(dataLog->action());
    connect(this, &BrelkControl::readingTaken, dataLog, &DataLogControl::takeReading);
    auto *setPointTool =
        new SetPointTool(this, {[this] { return moduleReadSinceConnect ? &lastReading : nullptr; },
                                [this] {
                                    return ResolutionSelection{!ui->chk_U_1V->isChecked(),
                                                               currentResolution(), secondRange()};
                                },
                                [this](Register reg, quint16 word) { writeRegister(reg, word); },
                                [this] { return quint32(baseAddress); }});
    actionSaveSetPoints = menuTools->addAction(tr("Save Set Points..."));
    actionSaveSetPoints->setObjectName(QStringLiteral("actionSaveSetPoints"));
    connect(actionSaveSetPoints, &QAction::triggered, setPointTool, &SetPointTool::save);
    actionRestoreSetPoints = menuTools->addAction(tr("Restore Set Points..."));
    actionRestoreSetPoints->setObjectName(QStringLiteral("actionRestoreSetPoints"));
    connect(actionRestoreSetPoints, &QAction::triggered, setPointTool, &SetPointTool::restore);
    setWindowTitle(
        tr("%1 Version %2").arg(QLatin1String(ApplicationName), QLatin1String(TitleVersion)));

    const QString addressText =
        settings.value(QLatin1String(BaseAddressKey), QLatin1String(DefaultBaseAddressText))
            .toString();
    if (!parseBaseAddress(addressText, &baseAddress)) {
        baseAddress = DefaultBaseAddress;
    } else if (baseAddress < 0 || quint32(baseAddress) > HighestA16Address) {
        // Such a value would reach the bus as a wider address than the A16 space has.
        qDebug() << "The stored BaseAddress" << addressText
                 << "is out of range (0x0000 to 0xFFFF); using 0xDD00";
        baseAddress = DefaultBaseAddress;
    }
    qDebug("BaseAddress: 0x%X", baseAddress);
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
        alarmFields,
        parseVoltageTolerance(settings.value(QLatin1String(VoltageDeviationAlarmKey)).toString()));

    timer = new QTimer(this);
    timer->setInterval(PollIntervalMs);
    connect(timer, &QTimer::timeout, this, &BrelkControl::timeout);

    dataLog->resume();

    connectController();

#ifdef BRELK_MQTT
    mqttPublisher = new MqttPublisher(
        statusBar(), iniFile,
        [this] {
            return ModuleContext{vmeController ? vmeController->name() : QString(), baseAddress,
                                 !ui->chk_U_1V->isChecked(), currentResolution(), secondRange()};
        },
        this);
    actionMqttPublishing = menuTools->addAction(tr("MQTT Publishing..."));
    actionMqttPublishing->setObjectName(QStringLiteral("actionMqttPublishing"));
    connect(actionMqttPublishing, &QAction::triggered, this,
            [this] { mqttPublisher->configure(this); });
    connect(this, &BrelkControl::readingTaken, mqttPublisher, &MqttPublisher::takeReading);
    connect(this, &BrelkControl::readingsStale, mqttPublisher, &MqttPublisher::readingsStale);
    connect(this, &BrelkControl::baseAddressChanged, mqttPublisher,
            &MqttPublisher::followBaseAddress);
    mqttPublisher->startFromSettings();
#endif
}

BrelkControl::~BrelkControl()
{
#ifdef BRELK_MQTT
    // Publishing says "offline" while the window and its context still exist.
    delete mqttPublisher;
    mqttPublisher = nullptr;
#endif
    if (vmeController) {
        vmeController->close();
        delete vmeController;
        vmeController = nullptr;
    }
    delete timer;
    timer = nullptr;
    delete looks;
    looks = nullptr;
    delete ui;
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
    QSettings settings(iniFile, QSettings::IniFormat);
    statusBar()->showMessage(tr("Connecting to VME controller..."));
    const QString controllerType =
        settings.value(QLatin1String(VmeControllerKey), QLatin1String(VmUsbSetting)).toString();

    // The menu action has closed the old controller already; at start-up there is none.
    delete vmeController;
    vmeController = nullptr;
    if (controllerType == QLatin1String(V1718Setting))
        vmeController = new CV1718;
    else
        vmeController = new CVmUsb;
    moduleReadSinceConnect = false;

    const QString name = vmeController->name();
    if (vmeController->open(0)) {
        qDebug() << "Connected to VME controller" << name;
        statusBar()->showMessage(tr("Connected to VME controller %1!").arg(name));
        statusBar()->showMessage(tr("Connecting to HV device at VME address %1...")
                                     .arg(baseAddress, 4, 16, QLatin1Char('0')));
        timer->start();
        status2Latch = 0;
        freshness.connected(QDateTime::currentMSecsSinceEpoch());
    } else {
        freshness.connectionFailed();
        showFreshness();
        QMessageBox::warning(
            this, tr("pavex BRELK Control"),
            tr("Could not init VME controller %1!\nMaybe there is no controller connected over "
               "USB?\n\nYou can try re-powering the crate and re-plugging the USB cord\nand then "
               "select menu File --> Vme Controller --> Yes.")
                .arg(name));
        statusBar()->showMessage(tr("Not connected to VME controller %1!").arg(name));
    }
}

void BrelkControl::on_actionVME_Controller_triggered()
{
    QSettings settings(iniFile, QSettings::IniFormat);
    const QString vmUsbItem = QStringLiteral("Wiener VM-USB");
    const QString v1718Item = QStringLiteral("CAEN V1718");
    const QStringList items{vmUsbItem, v1718Item};

    timer->stop();
    freshness.pollStopped();
    statusBar()->showMessage(
        tr("Polling stopped at %1").arg(localTimeText(QDateTime::currentMSecsSinceEpoch())));
    showFreshness();
    if (vmeController)
        vmeController->close();

    const QString stored =
        settings.value(QLatin1String(VmeControllerKey), QLatin1String(VmUsbSetting)).toString();
    const int current = stored == QLatin1String(V1718Setting) ? 1 : 0;
    bool ok = false;
    const QString choice = QInputDialog::getItem(
        this, tr("pavex BRELK Control"), tr("Please select the VME controller to connect to:"),
        items, current, false, &ok);
    // Cancel leaves the controller closed and the poll stopped until the operator chooses again.
    if (!ok || choice.isEmpty())
        return;

    if (choice == vmUsbItem)
        storeSetting(settings, QLatin1String(VmeControllerKey), QLatin1String(VmUsbSetting));
    else if (choice == v1718Item)
        storeSetting(settings, QLatin1String(VmeControllerKey), QLatin1String(V1718Setting));
    connectController();
}

// --- Module address, About, Quit ----------------------------------------------------------

void BrelkControl::on_actionModule_Address_triggered()
{
    QSettings settings(iniFile, QSettings::IniFormat);
    QStringList addresses;
    for (int address = 0; address < 0xFFFF; address += 0x100)
        addresses << QString::asprintf("0x%04X", address);

    timer->stop();
    bool ok = false;
    const QString choice = QInputDialog::getItem(this, tr("pavex BRELK Control"),
                                                 tr("Select module's VME Base Address:"), addresses,
                                                 baseAddress / 256, false, &ok);
    if (ok && !choice.isEmpty()) {
        bool parsed = false;
        const int address = choice.toInt(&parsed, 16);
        if (parsed) {
            const int oldAddress = baseAddress;
            baseAddress = address;
            if (address != oldAddress) {
                freshness.addressChanged(QDateTime::currentMSecsSinceEpoch());
                showFreshness();
                emit baseAddressChanged(oldAddress, address);
            }
            moduleReadSinceConnect = false;
            storeSetting(settings, QLatin1String(BaseAddressKey), choice);
        }
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
            .arg(QLatin1String(ApplicationName))
            .arg(QLatin1String(AboutVersion));
    QMessageBox::about(this, tr("About %1").arg(QLatin1String(ApplicationName)), text);
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
    Reading reading;
    if (!takeReading(&reading)) {
        if (freshness.missedTick()) {
            statusBar()->showMessage(tr("No answer from the module at VME address 0x%1 since %2")
                                         .arg(QString::asprintf("%04X", baseAddress),
                                              localTimeText(freshness.silentSince())));
        }
        showFreshness();
        return;
    }
    freshness.completeTick(reading.time);
    showReading(reading);
    showAlarms(reading);
    showFreshness();
    lastReading = reading;
    moduleReadSinceConnect = true;
    emit readingTaken(reading);
}

// Reads one tick's registers in the module's order. False when the tick did not complete: the
// serial-number cycle failed (no module delivered anything, for example a controller that is not
// open: nothing else is decoded) or read 0xFFFF (nothing answers at the base address).
bool BrelkControl::takeReading(Reading *reading)
{
    int serialStatus = 0;
    const quint16 serial = readRegister(regSerialNumber, &serialStatus);
    if (serialStatus < 0)
        return false;
    serialNumber = serial;
    if (serial == NoModule)
        return false;

    reading->time = QDateTime::currentMSecsSinceEpoch();
    reading->serialNumber = serial;
    reading->fineVoltage = !ui->chk_U_1V->isChecked();
    reading->currentResolution = currentResolution();
    reading->secondRange = secondRange();

    for (int ch = 0; ch < 2; ++ch)
        reading->vset[ch] = readRegister(regVset[ch]);
    for (int ch = 0; ch < 2; ++ch)
        reading->ramp[ch] = readRegister(regRamp[ch]);
    for (int ch = 0; ch < 2; ++ch)
        reading->vmeas[ch] = readRegister(reading->fineVoltage ? regVmeasFine[ch] : regVmeas[ch]);
    for (int ch = 0; ch < 2; ++ch)
        reading->imeas[ch] = readRegister(regImeas[ch]);
    // Without a second range its measured currents are not read at all.
    for (int ch = 0; ch < 2; ++ch) {
        if (reading->secondRange == SecondRange::nA1)
            reading->imeas2[ch] = readRegister(regImeas2_1nA[ch]);
        else if (reading->secondRange == SecondRange::pA100)
            reading->imeas2[ch] = readRegister(regImeas2_100pA[ch]);
    }
    reading->status = readRegister(regStatus);
    reading->events = readRegister(regStatus2);
    for (int ch = 0; ch < 2; ++ch)
        reading->limits[ch] = readRegister(regLimits[ch]);
    for (int ch = 0; ch < 2; ++ch)
        reading->softLimitI[ch] = readRegister(regSoftLimitI[ch]);
    // The second-range limits are read even without a second range.
    for (int ch = 0; ch < 2; ++ch)
        reading->softLimitI2[ch] = readRegister(regSoftLimitI2[ch]);
    return true;
}

// Converts a complete tick into the cached values and the texts of the form.
void BrelkControl::showReading(const Reading &reading)
{
    const QString message = serialNumberMessage(reading.serialNumber);
    if (statusBar()->currentMessage() != message)
        statusBar()->showMessage(message);

    QLineEdit *const txtVset[2] = {ui->txtVset_A, ui->txtVset_B};
    QLineEdit *const txtRamp[2] = {ui->txtRamp_A, ui->txtRamp_B};
    QLineEdit *const txtVmeas[2] = {ui->txtVmeas_A, ui->txtVmeas_B};
    QLineEdit *const txtImeas[2] = {ui->txtImeas_A, ui->txtImeas_B};
    QLineEdit *const txtImeas2[2] = {ui->txtImeas2_A, ui->txtImeas2_B};
    QLineEdit *const txtStatus[2] = {ui->txtStatus_A, ui->txtStatus_B};
    QLineEdit *const txtPolarity[2] = {ui->txtPolarity_A, ui->txtPolarity_B};
    QLineEdit *const txtKill[2] = {ui->txtKill_A, ui->txtKill_B};
    QLineEdit *const txtHVON[2] = {ui->txtHVON_A, ui->txtHVON_B};
    QLineEdit *const txtStatus2[2] = {ui->txtStatus2_A, ui->txtStatus2_B};
    QLineEdit *const txtLimitV[2] = {ui->txtLimitV_A, ui->txtLimitV_B};
    QLineEdit *const txtLimitI[2] = {ui->txtLimitI_A, ui->txtLimitI_B};
    QLineEdit *const txtSoftLimitI[2] = {ui->txtSoftLimitI_A, ui->txtSoftLimitI_B};
    QLineEdit *const txtSoftLimitI2[2] = {ui->txtSoftLimitI2_A, ui->txtSoftLimitI2_B};

    const CurrentResolution resolution = reading.currentResolution;
    const SecondRange range = reading.secondRange;
    // The module reports an event only while it lasts; the panel keeps it until Clear.
    statusWord = reading.status;
    status2Latch |= reading.events;

    for (int ch = 0; ch < 2; ++ch) {
        vset[ch] = setVolts(reading, ch);
        rampSpeed[ch] = rampVoltsPerSecond(reading, ch);
        vmeas[ch] = measuredVolts(reading, ch);
        int decimals = 0;
        imeas[ch] = scaleCurrent(reading.imeas[ch], resolution, decimals);
        // Without a second range the last second-range readings are kept.
        if (range != SecondRange::None)
            imeas2[ch] = secondRangeAmperes(reading, ch);
        softLimitI[ch] = softLimitAmperes(reading, ch);
        softLimitI2[ch] = secondRangeLimitAmperes(reading, ch);

        const quint8 status = channelByte(statusWord, ch);
        setFieldText(txtVset[ch], voltsText(vset[ch]));
        setFieldText(txtRamp[ch], rampSpeedText(rampSpeed[ch]));
        setFieldText(txtVmeas[ch], measuredVoltsText(vmeas[ch], reading.fineVoltage));
        setFieldText(txtImeas[ch], measuredCurrentText(imeas[ch], resolution, decimals));
        setFieldText(txtImeas2[ch], secondRangeCurrentText(imeas2[ch], range));
        setFieldText(txtStatus[ch], channelStateText(status));
        setFieldText(txtPolarity[ch], polarityText(status));
        setFieldText(txtKill[ch], killText(status));
        setFieldText(txtHVON[ch], hvText(status));
        setFieldText(txtStatus2[ch], eventText(channelByte(status2Latch, ch)));
        setFieldText(txtLimitV[ch], limitVoltageText(reading.limits[ch]));
        setFieldText(txtLimitI[ch], limitCurrentText(reading.limits[ch]));
        setFieldText(txtSoftLimitI[ch], softLimitText(softLimitI[ch], resolution));
        setFieldText(txtSoftLimitI2[ch], secondRangeLimitText(softLimitI2[ch], range));
    }
}

// Colours the fields that carry meaning. A channel that newly turns red makes the taskbar entry
// flash, once per tick, so that a trip is noticed on a busy desktop.
void BrelkControl::showAlarms(const Reading &reading)
{
    const QStringList newlyRed = looks->showAlarms(reading, status2Latch);
    for (const QString &line : newlyRed)
        qDebug().noquote() << line;
    if (!newlyRed.isEmpty())
        looks->alert(this);
}

// Marks every field a complete tick writes as stale, or live again, when that changes.
void BrelkControl::showFreshness()
{
    if (looks->showStale(freshness.isStale()))
        emit readingsStale();
}

void BrelkControl::on_btnClearStatus2_A_clicked()
{
    status2Latch &= 0xFF00;
}

void BrelkControl::on_btnClearStatus2_B_clicked()
{
    status2Latch &= 0x00FF;
}

// --- Set-points ---------------------------------------------------------------------------

double BrelkControl::inputSetVoltage(int channel, bool *ok)
{
    const QString label = tr("Input a Set Voltage (0...%1 V) for Channel %2")
                              .arg(SetVoltageMaximum)
                              .arg(channelLetter(channel));
    return QInputDialog::getDouble(this, tr("pavex BRELK Control"), label, vset[channel], 0,
                                   SetVoltageMaximum, DialogDecimals, ok);
}

void BrelkControl::setVoltage(int channel)
{
    bool ok = false;
    const double volts = inputSetVoltage(channel, &ok);
    if (ok)
        writeRegister(regVsetWrite[channel], registerCount(volts));
}

void BrelkControl::setRampSpeed(int channel)
{
    static const char *const labels[2] = {
        QT_TR_NOOP("Input a Voltage Ramp Speed (2...%1 V/s) for Channel A"),
        QT_TR_NOOP("Input a Voltage Ramp Speed (2...%1 V/s) for Channel B"),
    };
    bool ok = false;
    const double speed = QInputDialog::getDouble(
        this, tr("pavex BRELK Control"), tr(labels[channel]).arg(RampSpeedMaximum),
        rampSpeed[channel], RampSpeedMinimum, RampSpeedMaximum, DialogDecimals, &ok);
    if (!ok)
        return;
    writeRegister(regRamp[channel], registerCount(speed));
    // The module takes a new ramp speed with the next set voltage, so the polled one is sent
    // again; but never one that was not read from this module.
    if (moduleReadSinceConnect)
        writeRegister(regVsetWrite[channel], registerCount(vset[channel]));
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

// --- Current limits and resolution selection ----------------------------------------------

double BrelkControl::inputSoftLimitI(int channel, bool *ok)
{
    const CurrentResolution resolution = currentResolution();
    const SoftLimitDialogScale scale = softLimitIScale(resolution);
    const QString label = tr("Input a Software current limit (0...%1 %2) for Channel %3")
                              .arg(scale.maximum)
                              .arg(scale.unit)
                              .arg(channelLetter(channel));
    const double entered = QInputDialog::getDouble(this, tr("pavex BRELK Control"), label,
                                                   softLimitI[channel] * scale.factor, 0,
                                                   scale.maximum, DialogDecimals, ok);
    if (!*ok)
        return 0;
    const double counts = softLimitICounts(entered, scale, resolution);
    qDebug() << "Current Limit channel" << channel << "=" << counts;
    return counts;
}

void BrelkControl::setSoftLimitI(int channel)
{
    bool ok = false;
    const double counts = inputSoftLimitI(channel, &ok);
    if (ok)
        writeRegister(regSoftLimitI[channel], registerCount(counts));
}

void BrelkControl::setSoftLimitI2(int channel)
{
    static const char *const labels[2] = {
        QT_TR_NOOP("Input a Software current limit second range (0...%1 uA) for Channel A:"),
        QT_TR_NOOP("Input a Software current limit second range (0...%1 uA) for Channel B:"),
    };
    const SecondRange range = secondRange();
    const double maximum = secondRangeLimitMaximum(range) * 1e6;
    bool ok = false;
    const double entered = QInputDialog::getDouble(
        this, tr("pavex BRELK Control"), tr(labels[channel]).arg(maximum),
        softLimitI2[channel] * 1e6, 0, maximum, secondRangeLimitDecimals(range), &ok);
    if (!ok)
        return;
    const double counts = secondRangeLimitCounts(entered, range);
    if (channel == 0)
        qDebug() << "Limit I2 A = " << counts;
    writeRegister(regSoftLimitI2[channel], registerCount(counts));
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

// --- Helpers ------------------------------------------------------------------------------

CurrentResolution BrelkControl::currentResolution() const
{
    if (ui->chk_I_1uA->isChecked())
        return CurrentResolution::uA1;
    if (ui->chk_I_100nA->isChecked())
        return CurrentResolution::nA100;
    if (ui->chk_I_10nA->isChecked())
        return CurrentResolution::nA10;
    return CurrentResolution::nA1;
}

SecondRange BrelkControl::secondRange() const
{
    if (ui->chk_I2_None->isChecked())
        return SecondRange::None;
    if (ui->chk_I2_1nA->isChecked())
        return SecondRange::nA1;
    return SecondRange::pA100;
}

quint16 BrelkControl::readRegister(Register reg, int *status)
{
    return vmeController->read16(quint32(baseAddress) + reg, AddressModifier, status);
}

void BrelkControl::writeRegister(Register reg, quint16 word)
{
    vmeController->write16(quint32(baseAddress) + reg, AddressModifier, word, nullptr);
}

// Ten ticks a second: a text that is already shown is not written again, which would only cost
// a repaint. A field the operator typed into differs, so it is still overwritten.
void BrelkControl::setFieldText(QLineEdit *field, const QString &text)
{
    if (field->text() != text)
        field->setText(text);
}

// A value that could not be written is still used for this run, but the operator learns that
// the next start will not see it.
void BrelkControl::storeSetting(QSettings &settings, const QString &key, const QString &value)
{
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        QMessageBox::warning(this, tr("pavex BRELK Control"),
                             tr("Could not save the setting %1 to the file\n%2\nThe new value "
                                "applies until the program ends.")
                                 .arg(key, QDir::toNativeSeparators(iniFile)));
    }
}
