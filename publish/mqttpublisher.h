// The module session's side of MQTT publishing: turns complete ticks and stale readings into
// messages (see schedule.h), hands them to the worker thread and keeps the connection state for
// whoever shows it. Commands from the module's command topics are judged and carried out here,
// through the session, and answered (see remotecommand.h); so are requests for the module's trend
// store (see historyanswer.h). Lives on the thread of the poll; never waits on the network except
// for at most about a second when the panel quits.
#ifndef MQTTPUBLISHER_H
#define MQTTPUBLISHER_H

#include "groupcommand.h"
#include "mqttsettings.h"
#include "mqttworker.h"
#include "payloads.h"
#include "remotecommand.h"
#include "schedule.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

class QThread;
class QTimer;

namespace Brelk {

class Bridge;
class ModuleSession;
class MqttPrefixes;
class ReadingHistory;
class Settings;

class MqttPublisher : public QObject
{
    Q_OBJECT

public:
    // How long Quit waits for the worker thread to end before leaving it behind.
    static constexpr int StopWaitMs = 1000;
    static constexpr int RefusalLinesPerSecond = 10;

    // `context` gives the bridge name, base address and resolution selection when asked.
    explicit MqttPublisher(std::function<ModuleContext()> context, QObject *parent = nullptr);
    ~MqttPublisher() override;

    // Publishes the session's ticks and stale readings, and follows its address changes.
    void attach(ModuleSession *session);
    // Starts publishing if the settings file names a broker; silent whatever happens.
    void startFromSettings(const Settings &file);

    // Stops any publishing, then starts with `settings` unless its host is empty or its prefix is
    // refused. Returns at once: a worker still blocked in a connect is left behind, and the new
    // one starts when it has ended, so that at most one is ever left behind.
    void apply(const MqttSettings &settings);
    // Stops publishing without waiting.
    void stop();
    // Quit for a whole crate: every publisher says "offline" and leaves its broker at once, and
    // all of them together wait at most StopWaitMs, however many there are and whatever their
    // brokers do. A publisher stopped so waits no more when it is deleted.
    static void stopTogether(const QVector<MqttPublisher *> &publishers);

    // True while a broker is configured, whether or not it is reached.
    bool isPublishing() const { return settings.enabled(); }
    MqttSettings currentSettings() const { return settings; }
    ModuleContext moduleContext() const { return context(); }
    MqttState state() const { return currentState; }
    QString lastError() const { return error; }
    // "MQTT: connected" and the like; "MQTT: off" when not publishing.
    QString stateText() const;

    // The operator's "Allow Remote Commands"; off until set. Each module's publisher holds its
    // own copy of the panel's one switch.
    void setCommandsAllowed(bool allowed);
    bool commandsAllowed() const { return allowCommands; }
    // How far a command's "sent" time may lie from the clock (see remoteCommandMaxAgeMs).
    void setCommandMaxAge(qint64 ms) { commandMaxAgeMs = ms; }
    qint64 commandMaxAge() const { return commandMaxAgeMs; }
    // The prefixes of the program's modules, shared by all their publishers; a publisher without
    // one checks nothing.
    void setPrefixes(MqttPrefixes *prefixes) { programPrefixes = prefixes; }
    // A channel group's state on `<prefix>/group/<name>`, retained.
    void publishGroupState(const QString &group, const QJsonObject &state);
    // The module's trend store, which history requests are answered from; without one they are
    // refused "no_history".
    void setHistory(const ReadingHistory *history) { trend = history; }
    // Carries out the commands on `<prefix>/group/<name>/set` that pass the common rules; without
    // one, every group command is refused as naming no group.
    void setGroupAction(GroupAction action) { groupAction = std::move(action); }
    // Another program publishes under this prefix: its host name; empty while none does.
    QString conflictHost() const { return otherHost; }

public slots:
    void takeReading(const Brelk::Reading &reading);
    void readingsStale();
    // A prefix that was the default of the old address moves to the new address's default, with
    // "offline" left on the old one: the old address's module is no longer watched.
    void followBaseAddress(int oldAddress, int newAddress);
    // A message on `<prefix>/a/set` or `<prefix>/b/set`: judged, carried out through the attached
    // session if accepted, answered on `<prefix>/<channel>/result` and written as a debug line.
    // One that came on a connection that has since been lost is dropped unanswered.
    void takeCommand(const QString &subtopic, const QByteArray &payload, bool retained,
                     int connection, qint64 receivedMs);

    // A request on `<prefix>/history/get`: answered on its response topic with its correlation
    // data, and no more than CommandRate::PerSecond a second. One without a response topic is
    // written as a refusal line.
    void takeHistoryRequest(const QByteArray &payload, const QByteArray &responseTopic,
                            const QByteArray &correlation);

signals:
    void stateChanged();
    // Queued to the worker thread.
    void startWorker(const Brelk::MqttSettings &settings, const QString &clientId);
    void publishMessage(const QString &subtopic, const QByteArray &payload);
    void answerMessage(const QString &subtopic, const QByteArray &payload);
    void responseMessage(const QByteArray &responseTopic, const QByteArray &correlation,
                         const QByteArray &payload);
    // A command carried out, as "Remote command: channel A Vset 1500 V", followed by what the
    // operator must know ("; Ramp speed stored; channel A stays off until a new set voltage").
    void remoteCommandTaken(const QString &text);

private:
    void launchWorker();
    void retireWorker();
    // Waits for the retired worker's thread to end; one still blocked after `ms` is left behind
    // to delete itself.
    void waitForEndingThread(qint64 ms);
    void workerEnded();
    void workerStateChanged(int state, const QString &error);
    // The module's description, with whether commands are taken; the last one's arguments stand
    // when only that changed.
    void publishModule(bool hasModule, quint16 serialNumber, const Reading *reading);
    void republishModule();
    void send(const QString &subtopic, const QJsonObject &payload);
    void takeModuleMessage(const QByteArray &payload);
    void otherProgramGone();
    void logCommand(const QString &line, bool refused);
    // What a command arriving now is judged against, but for its channel.
    RemoteConditions commandConditions(bool retained, qint64 receivedMs) const;
    void takeGroupCommandMessage(const QString &group, const QByteArray &payload, bool retained,
                                 qint64 receivedMs);
    void reportHiddenRefusals();

    std::function<ModuleContext()> context;
    MqttSettings settings;
    QThread *thread = nullptr;
    MqttWorker *worker = nullptr;
    // The thread of a worker that was told to stop and has not ended yet (it may be blocked in a
    // connect for minutes); no new worker starts before it has ended.
    QThread *endingThread = nullptr;
    MqttState currentState = MqttState::Connecting;
    QString error;
    ChannelSchedule channels[2] = {ChannelSchedule(0), ChannelSchedule(1)};
    ModuleSchedule module;
    ModuleSession *session = nullptr;
    bool allowCommands = false;
    qint64 commandMaxAgeMs = DefaultCommandMaxAgeMs;
    MqttPrefixes *programPrefixes = nullptr;
    GroupAction groupAction;
    QString otherHost;
    QString otherInstance;
    // Since this module's description was last sent again for another program to see.
    QElapsedTimer sinceModuleResent;
    QByteArray moduleMessage;
    bool describedModule = false;
    quint16 describedSerial = 0;
    bool describedReading = false;
    Reading describedTick;
    const ReadingHistory *trend = nullptr;
    CommandRate historyRate;
    CommandRate commandRate;
    // Refusal lines, so that a flood of bad commands cannot flood the log; the accepted ones are
    // always written.
    CommandRate refusalLines{RefusalLinesPerSecond};
    int hiddenRefusals = 0;
    QTimer *hiddenRefusalReport = nullptr;
    // Monotonic, so that a change of the wall clock neither frees nor blocks the rate.
    QElapsedTimer commandClock;
};

// The context of a module's messages as its session and the bridge have it when asked.
std::function<ModuleContext()> sessionContext(const Bridge *bridge, const ModuleSession *session);

// "brelkcontrol-" and eight random hexadecimal digits.
QString mqttClientId();

// This program among all that publish: "<host>:<process id>:<start time in ms since 1970>".
QString mqttInstanceId();

} // namespace Brelk

#endif // MQTTPUBLISHER_H
