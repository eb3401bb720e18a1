#include "headlessservice.h"

#include "bridge.h"
#include "crate.h"
#include "modulesession.h"
#include "serviceline.h"

namespace Brelk {

namespace {

LinePriority linePriority(CrateEvent::Priority priority)
{
    switch (priority) {
    case CrateEvent::Error:
        return LinePriority::Error;
    case CrateEvent::Warning:
        return LinePriority::Warning;
    case CrateEvent::Information:
        break;
    }
    return LinePriority::Info;
}

void debugLine(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const LinePriority priority = type == QtCriticalMsg || type == QtFatalMsg ? LinePriority::Error
                                  : type == QtWarningMsg ? LinePriority::Warning
                                                         : LinePriority::Info;
    writeServiceLine(message, priority);
}

CrateRuntime::Options serviceOptions()
{
    CrateRuntime::Options options;
    options.retryConnection = true;
    // Every module's last 24 hours, for the history requests of panels attached through the
    // broker.
    options.keepHistory = true;
    return options;
}

} // namespace

HeadlessService::HeadlessService(const QString &settingsFile, QObject *parent)
    : QObject(parent), crate(settingsFile, serviceOptions())
{
    connect(&crate, &CrateRuntime::happened, this, &HeadlessService::show);
    connect(&crate, &CrateRuntime::happened, this, &HeadlessService::tellSystemd);
    // A poll stuck inside a vendor library call stops the pings, and systemd restarts the service.
    connect(crate.crate(), &Crate::tickEnded, this, [this] { systemd.watchdogPing(); });
    const qint64 watchdogMs = DaemonNotifier::watchdogIntervalMs();
    if (watchdogMs > 0) {
        idlePing.setInterval(int(qMax<qint64>(watchdogMs / 2, 1)));
        connect(&idlePing, &QTimer::timeout, this, [this] {
            if (!crate.isPolling())
                systemd.watchdogPing();
        });
    }
}

HeadlessService::~HeadlessService()
{
    stop();
}

void HeadlessService::start()
{
    crate.start();
    // After the first attempt to open the bridge, whatever it gave: a bridge that is not there is
    // tried again, and the unit is running.
    systemd.ready();
    if (idlePing.interval() > 0)
        idlePing.start();
}

void HeadlessService::stop()
{
    idlePing.stop();
    systemd.stopping();
    crate.stop();
}

void HeadlessService::tellSystemd(const CrateEvent &event)
{
    switch (event.kind) {
    case CrateEvent::ConnectingModule: {
        const int count = crate.crate()->modules().size();
        systemd.status(
            count == 1 ? tr("Polling 1 module via %1").arg(crate.bridge()->name())
                       : tr("Polling %1 modules via %2").arg(count).arg(crate.bridge()->name()));
        break;
    }
    case CrateEvent::ConnectionFailed:
        systemd.status(tr("Could not open VME controller %1; trying again every %2 s")
                           .arg(crate.bridge()->name())
                           .arg(CrateRuntime::RetryIntervalMs / 1000));
        break;
    case CrateEvent::BridgeLost:
        systemd.status(tr("Bridge lost; reopening"));
        break;
    default:
        break;
    }
}

void HeadlessService::show(const CrateEvent &event)
{
    QString *last = nullptr;
    switch (event.kind) {
    case CrateEvent::Connecting:
    case CrateEvent::Connected:
    case CrateEvent::ConnectingModule:
    case CrateEvent::ConnectionFailed:
    case CrateEvent::BridgeLost:
    case CrateEvent::PollStopped:
        last = &bridgeLine;
        break;
    case CrateEvent::ModuleAnswering:
    case CrateEvent::ModuleSilent:
    case CrateEvent::LogFailed:
        last = &moduleLines[event.module];
        break;
    case CrateEvent::MqttState:
        last = &mqttLines[event.module];
        break;
    case CrateEvent::LogStarted:
    case CrateEvent::CommandNote:
    case CrateEvent::CommandFailed:
    case CrateEvent::GroupIgnored:
    case CrateEvent::GroupTripped:
    case CrateEvent::GroupRecovered:
    case CrateEvent::GroupRamp:
        break;
    case CrateEvent::RemoteCommand:
        // The publisher writes a line of its own for every command.
        return;
    }
    const QString line = event.module ? event.module->linePrefix() + event.text : event.text;
    if (last) {
        if (*last == line)
            return;
        *last = line;
    }
    report(line, event.priority);
}

void HeadlessService::report(const QString &text, CrateEvent::Priority priority)
{
    writeServiceLine(text, linePriority(priority));
}

void HeadlessService::timeStampDebugLines()
{
    qInstallMessageHandler(debugLine);
}

} // namespace Brelk
