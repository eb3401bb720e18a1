#include "brelkcontrol.h"
#include "ui_brelkcontrol.h"

#include "crate.h"
#include "crateruntime.h"
#include "display.h"
#include "modulesdialog.h"
#include "modulesession.h"
#include "moduleview.h"
#include "modulewindow.h"
#include "overviewwindow.h"
#include "readinglooks.h"
#ifdef BRELK_MQTT
#include "attachment.h"
#include "mqttcontrol.h"
#include "mqttdialog.h"
#include "mqttpublisher.h"
#endif

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>

using namespace Brelk;

BrelkControl::BrelkControl(QWidget *parent) : BrelkControl(Settings::besideExecutable(), parent) {}

BrelkControl::BrelkControl(const QString &settingsFile, QWidget *parent)
    : BrelkControl(settingsFile, false, parent)
{
}

BrelkControl::BrelkControl(const QString &settingsFile, bool attach, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::BrelkControl), settings(settingsFile), runtime(nullptr),
      crate(nullptr), session(nullptr)
{
    CrateRuntime::Options options;
#ifdef BRELK_MQTT
    options.attached = attach || loadAttachSettings(settings).attached;
#else
    Q_UNUSED(attach)
#endif
    runtime = new CrateRuntime(settingsFile, options, this);
    crate = runtime->crate();
    // The window's writes are the runtime's file's: the runtime follows them.
    settings = runtime->settings();
    session = runtime->first();
    ui->setupUi(this);
    connect(runtime, &CrateRuntime::happened, this, &BrelkControl::showCrateEvent);
    connect(runtime, &CrateRuntime::moduleAdded, this, &BrelkControl::addModuleWindow);
    setWindowTitle(
        tr("%1 Version %2").arg(QLatin1String(ProgramName), QLatin1String(ProgramShortVersion)));

    view = new ModuleView(this, ui, runtime, session, settings, [this](quint32 address) {
        if (!moveModule(session, address))
            return false;
        storeSetting(settings.storeBaseAddress(address), QStringLiteral("BaseAddress"));
        return true;
    });
    connect(view, &ModuleView::readingShown, this, &BrelkControl::readingTaken);
    connect(view, &ModuleView::readingsStale, this, &BrelkControl::readingsStale);

#ifdef BRELK_MQTT
    addAttachAction();
    if (runtime->isAttached()) {
        connect(runtime, &CrateRuntime::serviceFound, this, &BrelkControl::showAttached);
        showAttached(nullptr);
        addGlobalTools();
        runtime->start();
        return;
    }
    actionMqttPublishing = view->toolsMenu()->addAction(tr("MQTT Publishing..."));
    actionMqttPublishing->setObjectName(QStringLiteral("actionMqttPublishing"));
    mqttControl = new MqttControl(runtime->publisher(session), &settings, statusBar(), this);
    connect(actionMqttPublishing, &QAction::triggered, mqttControl, &MqttControl::configure);
    view->toolsMenu()->addAction(mqttControl->remoteCommandsAction());
    // The operator's switch holds for every module.
    connect(mqttControl, &MqttControl::remoteCommandsAllowedChanged, runtime,
            &CrateRuntime::setCommandsAllowed);
#endif
    addGlobalTools();
    runtime->start();
    overview->setGroups(runtime->channelGroups());
}

BrelkControl::~BrelkControl()
{
    // The logs write their last rows and every publisher says "offline" while the windows and
    // the sessions still exist.
    runtime->stop();
    qDeleteAll(moduleWindows);
    moduleWindows.clear();
    delete view;
    view = nullptr;
    delete runtime;
    runtime = nullptr;
    delete ui;
}

// The crate's tools follow the first module's in the main window's "Tools" menu.
void BrelkControl::addGlobalTools()
{
    QMenu *tools = view->toolsMenu();
    tools->addSeparator();
    overview = new OverviewWindow(crate, this);
    overview->setVoltageTolerance(settings.voltageDeviationAlarm());
    connect(overview, &OverviewWindow::moduleWindowWanted, this, &BrelkControl::showModuleWindow);
    connect(overview, &OverviewWindow::groupRampWanted, this,
            [this](const QString &group, GroupRampDirection direction) {
                const QString refusal = runtime->rampGroup(group, direction);
                if (refusal.isEmpty())
                    return;
                QMessageBox::warning(overview, tr(ProgramName),
                                     (direction == GroupRampDirection::Up
                                          ? tr("Group %1 is not ramped up: %2.")
                                          : tr("Group %1 is not ramped down: %2."))
                                         .arg(group, refusal));
            });
    connect(overview, &OverviewWindow::groupRampStopWanted, runtime, &CrateRuntime::stopGroupRamp);
    actionOverview = tools->addAction(tr("Overview"), overview, &OverviewWindow::showAndRaise);
    actionOverview->setObjectName(QStringLiteral("actionOverview"));
    actionModules = tools->addAction(tr("Modules..."), this, &BrelkControl::editModules);
    actionModules->setObjectName(QStringLiteral("actionModules"));
}

void BrelkControl::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        view->retranslate();
        actionOverview->setText(tr("Overview"));
        actionModules->setText(tr("Modules..."));
        if (actionMqttPublishing)
            actionMqttPublishing->setText(tr("MQTT Publishing..."));
    }
}

// --- Further modules ----------------------------------------------------------------------

void BrelkControl::editModules()
{
    QVector<ModuleConfig> modules;
    for (const ModuleWindow *window : qAsConst(moduleWindows)) {
        const ModuleSession *module = window->session();
        ModuleConfig config;
        config.address = config.storedAddress = module->baseAddress();
        config.name = module->name();
        config.selection = module->selection();
        config.ceilings = module->voltageCeilings();
        modules.push_back(config);
    }
    if (!editFurtherModules(this, session->baseAddress(), &modules))
        return;
    storeSetting(settings.storeFurtherModules(modules), QStringLiteral("Module_"));
    applyFurtherModules(modules);
}

// A module still listed keeps its window, session, history and log, at its new address if it has
// one; the others are removed, and the new ones added. The next tick reads the new set.
void BrelkControl::applyFurtherModules(const QVector<ModuleConfig> &modules)
{
    QVector<ModuleConfig> added;
    for (ModuleWindow *window : QVector<ModuleWindow *>(moduleWindows)) {
        const auto kept =
            std::find_if(modules.cbegin(), modules.cend(), [&](const ModuleConfig &m) {
                return m.storedAddress == window->session()->baseAddress();
            });
        if (kept == modules.cend())
            removeFurtherModule(window);
    }
    for (const ModuleConfig &module : modules) {
        ModuleWindow *window = nullptr;
        for (ModuleWindow *shown : qAsConst(moduleWindows)) {
            if (shown->session()->baseAddress() == module.storedAddress)
                window = shown;
        }
        // Two modules that trade addresses cannot move one after the other: such a module
        // starts afresh at its new address.
        if (window && !runtime->moveModule(window->session(), module.address)) {
            removeFurtherModule(window);
            window = nullptr;
        }
        if (!window) {
            added.push_back(module);
            continue;
        }
        window->session()->setName(module.name);
        window->view()->selectResolution(module.selection);
        window->view()->setSettings(settings.moduleGroup(module.address));
        window->updateTitle();
    }
    for (const ModuleConfig &module : added)
        runtime->addModule(module);
}

// A further module of the runtime gets its window, hidden until the operator opens it.
void BrelkControl::addModuleWindow(ModuleSession *module)
{
    auto *window = new ModuleWindow(
        runtime, module, settings,
        [this, module](quint32 address) {
            const quint32 old = module->baseAddress();
            if (!moveModule(module, address))
                return false;
            storeSetting(settings.moveFurtherModule(old, address),
                         Settings::moduleGroupName(address));
            for (ModuleWindow *shown : qAsConst(moduleWindows)) {
                if (shown->session() == module) {
                    shown->view()->setSettings(settings.moduleGroup(address));
                    shown->updateTitle();
                }
            }
            return true;
        },
        this);
    moduleWindows.push_back(window);
    // A trip on a module whose window is closed must still make the panel's taskbar entry flash.
    connect(module, &ModuleSession::alarmRaised, this, [this] { view->looks()->alert(this); });
#ifdef BRELK_MQTT
    if (!mqttControl)
        return;
    connect(runtime->publisher(module), &MqttPublisher::remoteCommandTaken, mqttControl,
            [this, module](const QString &text) {
                mqttControl->showFurtherRemoteCommand(module->baseAddress(), text);
            });
#endif
}

void BrelkControl::removeFurtherModule(ModuleWindow *window)
{
    moduleWindows.removeOne(window);
    ModuleSession *module = window->session();
    delete window;
    // The module's publisher says "offline" before its session goes.
    runtime->removeModule(module);
}

void BrelkControl::showModuleWindow(ModuleSession *module)
{
    if (module == session) {
        if (isMinimized())
            showNormal();
        raise();
        activateWindow();
        return;
    }
    for (ModuleWindow *window : qAsConst(moduleWindows)) {
        if (window->session() == module)
            window->showAndRaise();
    }
}

// Two modules at one address would answer the same cycles: the crate refuses, and so does the
// dialog, naming the module that is there.
bool BrelkControl::moveModule(ModuleSession *module, quint32 address)
{
    if (runtime->moveModule(module, address))
        return true;
    const ModuleSession *holder = crate->module(address);
    const QString name = holder && !holder->name().isEmpty()
                             ? QStringLiteral(" (%1)").arg(holder->name())
                             : QString();
    QMessageBox::warning(this, tr(ProgramName),
                         tr("Another module%1 is polled at VME address %2 already.")
                             .arg(name, baseAddressText(address)));
    return false;
}

// --- Connection ---------------------------------------------------------------------------

// The bridge's events go to the status bar; a bridge that could not be opened also to a message
// box, since the window does not try again until the operator chooses the controller.
void BrelkControl::showCrateEvent(const CrateEvent &event)
{
    if (event.module)
        return;
    if (event.kind == CrateEvent::GroupIgnored || event.kind == CrateEvent::GroupTripped ||
        event.kind == CrateEvent::GroupRecovered || event.kind == CrateEvent::GroupRamp)
        qDebug().noquote() << event.text;
    if (event.kind == CrateEvent::GroupTripped || event.kind == CrateEvent::GroupRecovered ||
        event.kind == CrateEvent::GroupRamp) {
        for (const ChannelGroup &group : runtime->channelGroups()) {
            overview->setGroupTripped(group.channels, runtime->isGroupTripped(group.name));
            overview->setGroupState(group.name, runtime->groupStateText(group.name),
                                    runtime->isGroupRamping(group.name));
        }
    }
    if (event.kind == CrateEvent::GroupIgnored || event.kind == CrateEvent::GroupRecovered)
        return;
    if (event.kind == CrateEvent::ConnectionFailed) {
        QMessageBox::warning(
            this, tr(ProgramName),
            tr("Could not init VME controller %1!\nMaybe there is no controller connected over "
               "USB?\n\nYou can try re-powering the crate and re-plugging the USB cord\nand then "
               "select menu File --> Vme Controller --> Yes.")
                .arg(runtime->bridge()->name()));
    }
    statusBar()->showMessage(event.text);
}

void BrelkControl::on_actionVME_Controller_triggered()
{
    const QString vmUsbItem = QStringLiteral("Wiener VM-USB");
    const QString v1718Item = QStringLiteral("CAEN V1718");
    const QStringList items{vmUsbItem, v1718Item};

    runtime->stopForChoice();

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
    runtime->connectBridge();
}

// --- About, Quit, the poll ----------------------------------------------------------------

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
            .arg(QLatin1String(ProgramVersion));
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

void BrelkControl::storeSetting(bool stored, const QString &key)
{
    ModuleView::warnUnsaved(this, stored, key, settings.path());
}

// --- Attached through the broker ----------------------------------------------------------

#ifdef BRELK_MQTT
void BrelkControl::addAttachAction()
{
    actionAttach = new QAction(tr("Attach to Services..."), this);
    actionAttach->setObjectName(QStringLiteral("actionAttach"));
    ui->menuFile->insertAction(ui->actionVME_Controller, actionAttach);
    connect(actionAttach, &QAction::triggered, this, &BrelkControl::askAttach);
    if (!runtime->isAttached())
        return;
    // The bridges are the services': the attached panel neither chooses one nor moves a module.
    ui->menuFile->setToolTipsVisible(true);
    const QString why = tr("Attached to the services through the broker: each crate's service "
                           "holds its VME controller and module addresses");
    for (QAction *action : {ui->actionVME_Controller, ui->actionModule_Address}) {
        action->setEnabled(false);
        action->setToolTip(why);
    }
}

void BrelkControl::askAttach()
{
    AttachSettings attach = loadAttachSettings(settings);
    MqttSettings broker = loadMqttSettings(settings, int(settings.baseAddress()));
    if (!askAttachSettings(this, &attach, &broker))
        return;
    storeSetting(storeMqttSettings(settings, broker, int(settings.baseAddress())),
                 QStringLiteral("MqttHost"));
    storeSetting(storeAttachSettings(settings, attach), QStringLiteral("Source"));
    if (attach.attached != runtime->isAttached()) {
        QMessageBox::information(
            this, tr(ProgramName),
            attach.attached ? tr("The panel attaches to the services at its next start.")
                            : tr("The panel polls its own VME controller at its next start."));
    }
}

// "brelk/dc00 on broker.lab - pavex BRELK Control"; the filter until the first module is found.
// A module's service found also names its crate in the overview.
void BrelkControl::showAttached(ModuleSession *module)
{
    const Attachment *services = runtime->attachment();
    const QString broker = services ? services->brokerHost() : loadMqttSettings(settings, 0).host;
    const auto title = [&](const QString &prefix) {
        return tr("%1 on %2 - %3").arg(prefix, broker, QLatin1String(ProgramName));
    };
    if (!module) {
        setWindowTitle(title(loadAttachSettings(settings).filter));
        return;
    }
    const QString prefix = services->prefixOf(module);
    overview->setCrateName(module, services->hostOf(module), prefix);
    if (module == session)
        setWindowTitle(title(prefix));
    for (ModuleWindow *window : qAsConst(moduleWindows)) {
        if (window->session() == module)
            window->setWindowTitle(title(prefix));
    }
}
#else
void BrelkControl::addAttachAction() {}
void BrelkControl::askAttach() {}
void BrelkControl::showAttached(ModuleSession *) {}
#endif
