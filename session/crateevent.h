// What happens to a running crate, as one typed event with its one text: the window turns events
// into its status bar and message boxes, the service into lines on standard error. Every text
// about the bridge and the modules' answers is made here and nowhere else.
#ifndef CRATEEVENT_H
#define CRATEEVENT_H

#include <QMetaType>
#include <QString>

namespace Brelk {

class ModuleSession;

struct CrateEvent
{
    enum Kind {
        // The bridge.
        Connecting,
        Connected,
        ConnectingModule,
        ConnectionFailed,
        BridgeLost,
        PollStopped,
        // One module.
        ModuleAnswering,
        ModuleSilent,
        LogStarted,
        LogFailed,
        MqttState,
        RemoteCommand,
        CommandNote,
        CommandFailed,
        // A channel group: ignored for a bad configuration, or one of its channels tripped.
        GroupIgnored,
        GroupTripped,
        // No channel of a group that was brought down is tripped any more.
        GroupRecovered,
        // A group ramp started, went on to its next step, arrived, or was stopped.
        GroupRamp,
    };
    // As syslog ranks them: the service's journal lines carry it.
    enum Priority { Error, Warning, Information };

    Kind kind = Connecting;
    Priority priority = Information;
    // The module the event is about; null for the bridge and the crate as a whole.
    ModuleSession *module = nullptr;
    QString text;

    static CrateEvent connecting();
    static CrateEvent connected(const QString &bridgeName);
    static CrateEvent connectingModule(quint32 baseAddress);
    // `retryMs` 0: nothing tries again by itself.
    static CrateEvent connectionFailed(const QString &bridgeName, int retryMs);
    static CrateEvent bridgeLost(int retryMs);
    static CrateEvent pollStopped(qint64 msecsSinceEpoch);
    static CrateEvent moduleAnswering(ModuleSession *module, quint16 serialNumber);
    static CrateEvent moduleSilent(ModuleSession *module, qint64 silentSince);
    // A module seen through the broker whose service sent nothing for a while, or said "offline".
    static CrateEvent serviceSilent(ModuleSession *module, const QString &prefix,
                                    qint64 silentSince);
    // A command sent to a module's service, and its answer: "Done", or the refusal.
    static CrateEvent commandSent(ModuleSession *module, const QString &what);
    static CrateEvent commandDone(ModuleSession *module, const QString &message);
    static CrateEvent commandRefused(ModuleSession *module, const QString &error,
                                     const QString &message);
    static CrateEvent commandUnanswered(ModuleSession *module, const QString &prefix);
    static CrateEvent commandNotSent(ModuleSession *module, const QString &why);
    // The attached panel's connection to the broker.
    static CrateEvent brokerState(const QString &host, bool connected, const QString &error);
    static CrateEvent logStarted(ModuleSession *module, const QString &path, qint64 intervalMs);
    static CrateEvent logFailed(ModuleSession *module, const QString &path, const QString &reason);
    static CrateEvent mqttState(ModuleSession *module, const QString &state, const QString &error);
    static CrateEvent of(Kind kind, Priority priority, ModuleSession *module, const QString &text);
};

} // namespace Brelk

Q_DECLARE_METATYPE(Brelk::CrateEvent)

#endif // CRATEEVENT_H
