#include "crateevent.h"

#include "display.h"
#include "logschedule.h"
#include "modulesession.h"

#include <QDir>

namespace Brelk {

CrateEvent CrateEvent::of(Kind kind, Priority priority, ModuleSession *module, const QString &text)
{
    CrateEvent event;
    event.kind = kind;
    event.priority = priority;
    event.module = module;
    event.text = text;
    return event;
}

CrateEvent CrateEvent::connecting()
{
    return of(Connecting, Information, nullptr, tr("Connecting to VME controller..."));
}

CrateEvent CrateEvent::connected(const QString &bridgeName)
{
    return of(Connected, Information, nullptr,
              tr("Connected to VME controller %1!").arg(bridgeName));
}

CrateEvent CrateEvent::connectingModule(quint32 baseAddress)
{
    return of(ConnectingModule, Information, nullptr,
              tr("Connecting to HV device at VME address %1...")
                  .arg(baseAddress, 4, 16, QLatin1Char('0')));
}

CrateEvent CrateEvent::connectionFailed(const QString &bridgeName, int retryMs)
{
    const QString text = retryMs > 0 ? tr("Could not init VME controller %1! Trying again in %2 s.")
                                           .arg(bridgeName)
                                           .arg(retryMs / 1000)
                                     : tr("Not connected to VME controller %1!").arg(bridgeName);
    return of(ConnectionFailed, Error, nullptr, text);
}

CrateEvent CrateEvent::bridgeLost(int retryMs)
{
    return of(BridgeLost, Error, nullptr,
              tr("Bridge lost; reopening every %1 s").arg(retryMs / 1000));
}

CrateEvent CrateEvent::pollStopped(qint64 msecsSinceEpoch)
{
    return of(PollStopped, Information, nullptr,
              tr("Polling stopped at %1").arg(localTimeText(msecsSinceEpoch)));
}

CrateEvent CrateEvent::moduleAnswering(ModuleSession *module, quint16 serialNumber)
{
    return of(ModuleAnswering, Information, module, serialNumberMessage(serialNumber));
}

CrateEvent CrateEvent::moduleSilent(ModuleSession *module, qint64 silentSince)
{
    return of(ModuleSilent, Warning, module,
              tr("No answer from the module at VME address %1 since %2")
                  .arg(baseAddressText(module->baseAddress()), localTimeText(silentSince)));
}

CrateEvent CrateEvent::serviceSilent(ModuleSession *module, const QString &prefix,
                                     qint64 silentSince)
{
    return of(ModuleSilent, Warning, module,
              tr("No messages from %1 since %2").arg(prefix, localTimeText(silentSince)));
}

CrateEvent CrateEvent::commandSent(ModuleSession *module, const QString &what)
{
    return of(CommandNote, Information, module, tr("Sent: %1").arg(what));
}

CrateEvent CrateEvent::commandDone(ModuleSession *module, const QString &message)
{
    return of(CommandNote, Information, module,
              message.isEmpty() ? tr("Done") : tr("Done; %1").arg(message));
}

CrateEvent CrateEvent::commandRefused(ModuleSession *module, const QString &error,
                                      const QString &message)
{
    return of(CommandFailed, Warning, module, tr("Refused, %1: %2").arg(error, message));
}

CrateEvent CrateEvent::commandUnanswered(ModuleSession *module, const QString &prefix)
{
    return of(
        CommandFailed, Warning, module,
        tr("No answer from %1: the broker may not allow this user to send commands").arg(prefix));
}

CrateEvent CrateEvent::commandNotSent(ModuleSession *module, const QString &why)
{
    return of(CommandFailed, Warning, module, tr("Not sent: %1").arg(why));
}

CrateEvent CrateEvent::brokerState(const QString &host, bool connected, const QString &error)
{
    if (connected)
        return of(MqttState, Information, nullptr, tr("Attached to the broker at %1").arg(host));
    return of(MqttState, Warning, nullptr,
              tr("No connection to the broker at %1: %2; trying again").arg(host, error));
}

CrateEvent CrateEvent::logStarted(ModuleSession *module, const QString &path, qint64 intervalMs)
{
    return of(LogStarted, Information, module,
              tr("Logging to %1 at an interval of %2 s")
                  .arg(QDir::toNativeSeparators(path), logIntervalSetting(intervalMs)));
}

CrateEvent CrateEvent::logFailed(ModuleSession *module, const QString &path, const QString &reason)
{
    return of(
        LogFailed, Error, module,
        tr("Logging to the file %1 has stopped: %2.").arg(QDir::toNativeSeparators(path), reason));
}

CrateEvent CrateEvent::mqttState(ModuleSession *module, const QString &state, const QString &error)
{
    if (error.isEmpty())
        return of(MqttState, Information, module, state);
    return of(MqttState, Warning, module, state + QStringLiteral(" (") + error + QLatin1Char(')'));
}

} // namespace Brelk
