#include "brelkcontrol.h"
#include "ui_brelkcontrol.h"

#include "crate.h"
#include "display.h"
#include "freshness.h"
#include "modulesdialog.h"
#include "modulesession.h"
#include "moduleview.h"
#include "modulewindow.h"
#include "overviewwindow.h"
#include "readinglooks.h"
#ifdef BRELK_MQTT
#include "mqttcontrol.h"
#include "mqttpublisher.h"
#endif

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

using namespace Brelk;

namespace {

const char *const TitleVersion = "1.0";

} // namespace

BrelkControl::BrelkControl(QWidget *parent) : BrelkControl(Settings::besideExecutable(), parent) {}

BrelkControl::BrelkControl(const QString &settingsFile, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::BrelkControl), settings(settingsFile), crate(nullptr),
      session(nullptr), timer(nullptr)
{
    qDebug() << "Using INI file:" << settings.path();

    ui->setupUi(this);
    crate = new Crate(&bridge, settings.baseAddress(), this);
    session = crate->first();
    // Before the view, which shows the ceilings and bounds its dialogs by them.
    session->setVoltageCeilings(settings.voltageCeilings());
    timer = new QTimer(this);
    timer->setInterval(PollIntervalMs);
    connect(timer, &QTimer::timeout, this, &BrelkControl::timeout);
    setWindowTitle(
        tr("%1 Version %2").arg(QLatin1String(ProgramName), QLatin1String(TitleVersion)));
    qDebug("BaseAddress: 0x%X", session->baseAddress());

    view = new ModuleView(this, ui, session, settings, timer, [this](quint32 address) {
        if (!moveModule(session, address))
            return false;
        storeSetting(settings.storeBaseAddress(address), QStringLiteral("BaseAddress"));
        return true;
    });
    connect(view, &ModuleView::readingShown, this, &BrelkControl::readingTaken);
    connect(view, &ModuleView::readingsStale, this, &BrelkControl::readingsStale);
    connect(view, &ModuleView::pollStopping, crate, &Crate::pollStopped);
    view->resumeLog();

#ifdef BRELK_MQTT
    mqttPublisher = new MqttPublisher(sessionContext(&bridge, session), this);
    mqttPublisher->setPrefixes(&mqttPrefixes);
    mqttPublisher->setCommandMaxAge(remoteCommandMaxAgeMs(settings));
    actionMqttPublishing = view->toolsMenu()->addAction(tr("MQTT Publishing..."));
    actionMqttPublishing->setObjectName(QStringLiteral("actionMqttPublishing"));
    mqttControl = new MqttControl(mqttPublisher, &settings, statusBar(), this);
    connect(actionMqttPublishing, &QAction::triggered, mqttControl, &MqttControl::configure);
    view->toolsMenu()->addAction(mqttControl->remoteCommandsAction());
    // The operator's switch holds for every module.
    connect(mqttControl, &MqttControl::remoteCommandsAllowedChanged, this, [this](bool allowed) {
        for (ModuleWindow *window : qAsConst(moduleWindows)) {
            if (auto *publisher = window->findChild<MqttPublisher *>())
                publisher->setCommandsAllowed(allowed);
        }
    });
    // New broker settings reach every module's publisher, each under its own prefix.
    connect(mqttControl, &MqttControl::settingsApplied, this, [this] {
        for (ModuleWindow *window : qAsConst(moduleWindows)) {
            if (auto *publisher = window->findChild<MqttPublisher *>())
                publisher->apply(
                    loadModuleMqttSettings(settings, window->session()->baseAddress()));
        }
    });
#endif
    addGlobalTools();
#ifdef BRELK_MQTT
    // The first module claims its prefix before any further module can.
    mqttPublisher->attach(session);
    mqttPublisher->startFromSettings(settings);
#endif
    for (const ModuleConfig &module : settings.furtherModules())
        addFurtherModule(module);

    connectController();
}

BrelkControl::~BrelkControl()
{
    timer->stop();
    // Publishing says "offline" while the windows and their contexts still exist.
    qDeleteAll(moduleWindows);
    moduleWindows.clear();
#ifdef BRELK_MQTT
    delete mqttPublisher;
    mqttPublisher = nullptr;
#endif
    bridge.close();
    delete timer;
    timer = nullptr;
    delete view;
    view = nullptr;
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
        if (window && !crate->moveModule(window->session(), module.address)) {
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
        addFurtherModule(module);
}

void BrelkControl::addFurtherModule(const ModuleConfig &config)
{
    ModuleSession *module = crate->addModule(config);
    if (!module)
        return;
    auto *window = new ModuleWindow(
        module, settings, timer,
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
    connect(window->view(), &ModuleView::pollStopping, crate, &Crate::pollStopped);
    // A trip on a module whose window is closed must still make the panel's taskbar entry flash.
    connect(module, &ModuleSession::alarmRaised, this, [this] { view->looks()->alert(this); });
#ifdef BRELK_MQTT
    auto *publisher = new MqttPublisher(sessionContext(&bridge, module), window);
    publisher->attach(module);
    publisher->setPrefixes(&mqttPrefixes);
    publisher->setCommandsAllowed(mqttPublisher->commandsAllowed());
    publisher->setCommandMaxAge(mqttPublisher->commandMaxAge());
    connect(publisher, &MqttPublisher::remoteCommandTaken, mqttControl,
            [this, module](const QString &text) {
                mqttControl->showFurtherRemoteCommand(module->baseAddress(), text);
            });
    publisher->apply(loadModuleMqttSettings(settings, config.address));
#endif
}

void BrelkControl::removeFurtherModule(ModuleWindow *window)
{
    moduleWindows.removeOne(window);
    ModuleSession *module = window->session();
    // The window's publisher says "offline" before its session goes.
    delete window;
    crate->removeModule(module);
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
    if (crate->moveModule(module, address))
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
        crate->connected();
    } else {
        crate->connectionFailed();
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
    crate->pollStopped();
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

void BrelkControl::timeout()
{
    crate->tick();
}

void BrelkControl::storeSetting(bool stored, const QString &key)
{
    ModuleView::warnUnsaved(this, stored, key, settings.path());
}
