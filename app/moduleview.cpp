#include "moduleview.h"
#include "ui_brelkcontrol.h"

#include "commanddialogs.h"
#include "crateruntime.h"
#include "datalog.h"
#include "datalogcontrol.h"
#include "display.h"
#include "historywindow.h"
#include "modulesession.h"
#include "readingform.h"
#include "readinghistory.h"
#include "readinglooks.h"
#include "setpointtool.h"
#include "statusnotice.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QInputDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>

namespace Brelk {

ModuleView::ModuleView(QMainWindow *window, Ui::BrelkControl *ui, CrateRuntime *runtime,
                       ModuleSession *session, const Settings &settings, MoveModule moveModule)
    : QObject(window), window(window), ui(ui), fields(ui), moduleSession(session),
      settings(settings), runtime(runtime), moveModule(std::move(moveModule))
{
    // The runtime's store records every complete tick, whether the history window is open or not.
    readings = runtime->history(session);
    buildToolsMenu();

    readingForm = new ReadingForm(fields);
    const ReadingLooks::ChannelFields alarmFields[2] = {readingForm->alarmFields(0),
                                                        readingForm->alarmFields(1)};
    readingLooks = new ReadingLooks(readingForm->tickFields(), alarmFields,
                                    Settings(settings.path()).voltageDeviationAlarm());

    // The radio buttons start at the options the settings name and tell the session every
    // change, so that the next tick scales by them.
    selectResolution(settings.resolutionOptions());
    session->setSelection(fields.selection());
    for (QRadioButton *option : fields.resolutionButtons()) {
        connect(option, &QRadioButton::toggled, this,
                [this] { moduleSession->setSelection(fields.selection()); });
    }
    connectForm();

    connect(session, &ModuleSession::readingTaken, this, &ModuleView::showReading);
    connect(session, &ModuleSession::commandBlockChanged, this, &ModuleView::showCommandBlock);
    showCommandBlock(session->commandBlock());
    if (runtime->isAttached()) {
        // The service reads the module under its own selection, which the buttons show.
        for (QRadioButton *option : fields.resolutionButtons()) {
            option->setEnabled(false);
            option->setToolTip(tr("The resolution selection of the module's service"));
        }
    }
    connect(session, &ModuleSession::staleChanged, this, &ModuleView::showStale);
    // A further module's window opens once its service is found, after the session turned stale
    // for want of the service's first message: its fields start stale too.
    if (session->isRemote() && session->isStale())
        readingLooks->showStale(true);
    connect(runtime, &CrateRuntime::happened, this, &ModuleView::showModuleEvent);
    // A further module's window is seldom open: the main window flashes for every module, and
    // this one too while it is shown.
    connect(session, &ModuleSession::alarmRaised, this, [this] {
        if (followWhileHidden || this->window->isVisible())
            readingLooks->alert(this->window);
    });
    commandNotice = new StatusNotice(window->statusBar(), QStringLiteral("lblCommand"));
    window->installEventFilter(this);
}

ModuleView::~ModuleView()
{
    delete readingLooks;
    delete readingForm;
}

// The form's menus stay as designed; the module's tools get a menu of their own before Help.
void ModuleView::buildToolsMenu()
{
    menuTools = new QMenu(ui->menuBar);
    menuTools->setObjectName(QStringLiteral("menuTools"));
    menuTools->setTitle(tr("Tools"));
    ui->menuBar->insertMenu(ui->menuHelp->menuAction(), menuTools);
    history = new HistoryWindow(readings, window);
    actionHistory = menuTools->addAction(tr("History"), history, &HistoryWindow::showAndRaise);
    actionHistory->setObjectName(QStringLiteral("actionHistory"));
    log = runtime->dataLog(moduleSession);
    dataLogControl = new DataLogControl(log, &settings, window);
    menuTools->addAction(dataLogControl->action());
    auto *setPointTool = new SetPointTool(
        window, {[this] { return moduleSession->lastReading(); },
                 [this] { return moduleSession->selection(); },
                 [this](const WriteList &writes) { moduleSession->execute(writes); },
                 [this] { return moduleSession->baseAddress(); },
                 [this] { return moduleSession->voltageCeilings(); }});
    actionSaveSetPoints = menuTools->addAction(tr("Save Set Points..."));
    actionSaveSetPoints->setObjectName(QStringLiteral("actionSaveSetPoints"));
    connect(actionSaveSetPoints, &QAction::triggered, setPointTool, &SetPointTool::save);
    actionRestoreSetPoints = menuTools->addAction(tr("Restore Set Points..."));
    actionRestoreSetPoints->setObjectName(QStringLiteral("actionRestoreSetPoints"));
    connect(actionRestoreSetPoints, &QAction::triggered, setPointTool, &SetPointTool::restore);
}

void ModuleView::retranslate()
{
    menuTools->setTitle(tr("Tools"));
    actionHistory->setText(tr("History"));
    actionSaveSetPoints->setText(tr("Save Set Points..."));
    actionRestoreSetPoints->setText(tr("Restore Set Points..."));
    readingForm->forget();
    serialMessage.clear();
}

// Each dialog starts at the value the form shows; OK hands the session the command's writes.
void ModuleView::connectForm()
{
    ModuleSession *const session = moduleSession;
    const ReadingForm *const shown = readingForm;
    QWidget *const parent = window;
    for (int ch = 0; ch < 2; ++ch) {
        const ModuleForm::Channel &buttons = fields.channels[ch];
        connect(buttons.clearStatus2, &QPushButton::clicked, this,
                [=] { session->clearEvents(ch); });
        connect(buttons.setVset, &QPushButton::clicked, this, [=] {
            session->execute(
                askSetVoltage(parent, ch, shown->values(), session->voltageCeilings()));
        });
        const QString ceiling = setVoltageToolTip(ch, session->voltageCeilings());
        if (!ceiling.isEmpty())
            buttons.setVset->setToolTip(ceiling);
        connect(buttons.setRamp, &QPushButton::clicked, this,
                [=] { session->execute(askRampSpeed(parent, ch, shown->values())); });
        connect(buttons.setSoftLimitI, &QPushButton::clicked, this, [=] {
            session->execute(
                askSoftLimitI(parent, ch, shown->values(), session->selection().currentResolution));
        });
        connect(buttons.setSoftLimitI2, &QPushButton::clicked, this, [=] {
            session->execute(
                askSoftLimitI2(parent, ch, shown->values(), session->selection().secondRange));
        });
    }
    connect(fields.secondRange[0], &QRadioButton::clicked, this,
            [this] { setSecondRangeLimitButtonsEnabled(false); });
    for (QRadioButton *range : {fields.secondRange[1], fields.secondRange[2]}) {
        connect(range, &QRadioButton::clicked, this,
                [this] { setSecondRangeLimitButtonsEnabled(true); });
    }
    connect(ui->actionModule_Address, &QAction::triggered, this, &ModuleView::askModuleAddress);
}

// Shows a complete tick: the serial number in the status bar, the texts of the form and the alarm
// colours. A channel that newly turns red (the session's `alarmRaised`) makes the taskbar entry
// flash, once per tick, so that a trip is noticed on a busy desktop.
void ModuleView::showReading(const Reading &reading)
{
    if (followWhileHidden || window->isVisible())
        showOnForm(reading);
    else
        formBehind = true;
    emit readingShown(reading);
}

void ModuleView::showOnForm(const Reading &reading)
{
    if (moduleSession->isRemote()) {
        const ResolutionSelection read{reading.fineVoltage, reading.currentResolution,
                                       reading.secondRange};
        if (read != fields.selection())
            selectResolution(read);
    }
    if (serialMessage.isEmpty() || reading.serialNumber != messageSerial) {
        messageSerial = reading.serialNumber;
        serialMessage = serialNumberMessage(reading.serialNumber);
    }
    if (window->statusBar()->currentMessage() != serialMessage)
        window->statusBar()->showMessage(serialMessage);
    readingForm->show(reading, moduleSession->eventLatch());
    readingLooks->showAlarms(reading, moduleSession->eventLatch());
}

bool ModuleView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window && event->type() == QEvent::Show && formBehind) {
        formBehind = false;
        showOnForm(moduleSession->newestReading());
    }
    return QObject::eventFilter(watched, event);
}

// Marks every field a complete tick writes as stale, or live again.
void ModuleView::showStale(bool stale)
{
    readingLooks->showStale(stale);
    if (stale)
        emit readingsStale();
}

void ModuleView::showModuleEvent(const CrateEvent &event)
{
    if (event.module != moduleSession)
        return;
    switch (event.kind) {
    case CrateEvent::ModuleSilent:
        window->statusBar()->showMessage(event.text);
        break;
    case CrateEvent::CommandFailed:
        commandNotice->show(event.text, true);
        break;
    case CrateEvent::CommandNote:
        commandNotice->show(event.text);
        break;
    case CrateEvent::LogStarted:
        qDebug().noquote() << moduleSession->linePrefix() + event.text;
        dataLogControl->showLogging();
        break;
    default:
        break;
    }
}

void ModuleView::askModuleAddress()
{
    QStringList addresses;
    for (quint32 address = 0; address < 0xFFFF; address += 0x100)
        addresses << baseAddressText(address);

    runtime->pause(moduleSession);
    bool ok = false;
    const QString choice =
        QInputDialog::getItem(window, tr(ProgramName), tr("Select module's VME Base Address:"),
                              addresses, int(moduleSession->baseAddress() / 256), false, &ok);
    const int index = addresses.indexOf(choice);
    if (ok && index >= 0)
        moveModule(quint32(index) * 0x100);
    runtime->resume(moduleSession);
}

// A remote module's service may refuse commands: every command button says why it is off.
void ModuleView::showCommandBlock(const QString &why)
{
    const std::vector<QPushButton *> buttons = fields.commandButtons();
    if (why.isEmpty() && blockedTips.isEmpty())
        return;
    for (QPushButton *button : buttons) {
        if (why.isEmpty()) {
            button->setToolTip(blockedTips.value(button));
        } else {
            if (!blockedTips.contains(button))
                blockedTips.insert(button, button->toolTip());
            button->setToolTip(tr("Not available: %1").arg(why));
        }
    }
    if (why.isEmpty())
        blockedTips.clear();
    commandsBlocked = !why.isEmpty();
    for (QPushButton *button : buttons)
        button->setEnabled(!commandsBlocked);
    if (!commandsBlocked)
        setSecondRangeLimitButtonsEnabled(fields.selection().secondRange != SecondRange::None);
    actionRestoreSetPoints->setEnabled(!commandsBlocked);
}

// --- Resolution selection -----------------------------------------------------------------

void ModuleView::setSecondRangeLimitButtonsEnabled(bool enabled)
{
    enabled = enabled && !commandsBlocked;
    for (const ModuleForm::Channel &channel : fields.channels)
        channel.setSoftLimitI2->setEnabled(enabled);
}

void ModuleView::selectResolution(const ResolutionSelection &selection)
{
    for (QRadioButton *button : fields.buttonsOf(selection))
        button->setChecked(true);
    setSecondRangeLimitButtonsEnabled(selection.secondRange != SecondRange::None);
}

// A value that could not be written is still used for this run, but the operator learns that
// the next start will not see it.
void ModuleView::warnUnsaved(QWidget *window, bool stored, const QString &key, const QString &path)
{
    if (!stored) {
        QMessageBox::warning(window, tr(ProgramName),
                             tr("Could not save the setting %1 to the file\n%2\nThe new value "
                                "applies until the program ends.")
                                 .arg(key, QDir::toNativeSeparators(path)));
    }
}

} // namespace Brelk
