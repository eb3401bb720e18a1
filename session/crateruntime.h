// The crate as it runs, under every screen: the bridge, the crate of module sessions, and beside
// each module its trend store, data log and MQTT publisher. It polls every 100 ms and owns the
// whole life: connect, try again every 10 s while the bridge cannot be opened (when asked to),
// reopen a bridge lost while running, pause one module, stop within 2 s. It keeps the channel
// groups together: a trip of one channel brings the others down, and a group ramps up or down in
// steps that keep neighbouring electrodes within the group's difference. What happens is told as
// `CrateEvent`s; the main window, the module windows and the service attach to it and show them
// their own way. Qt Core only.
#ifndef CRATERUNTIME_H
#define CRATERUNTIME_H

#include "bridge.h"
#include "channelgroup.h"
#include "crateevent.h"
#include "groupramp.h"
#include "settings.h"
#ifdef BRELK_MQTT
#include "groupcommand.h"
#include "mqttprefixes.h"
#endif

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class DataLog;

namespace Brelk {

class Attachment;
class Crate;
class ModuleSession;
class MqttPublisher;
class ReadingHistory;

class CrateRuntime : public QObject
{
    Q_OBJECT

public:
    static constexpr int RetryIntervalMs = 10000;
    // Every module's ticks failed for this long: the bridge is taken for lost.
    static constexpr int BridgeLostAfterMs = 3000;

    struct Options
    {
        // Tries again every 10 s when the bridge cannot be opened, as a service must with nobody
        // there to press OK; the window waits for its operator instead.
        bool retryConnection = false;
        // Keeps the last 24 hours of every module for a trend window, or for the history
        // requests over MQTT.
        bool keepHistory = true;
        // The modules are the crates' services' seen through the broker (see attachment.h): no
        // bridge is opened, nothing is logged or published unless the operator asks.
        bool attached = false;
    };

    CrateRuntime(const QString &settingsFile, Options options, QObject *parent = nullptr);
    ~CrateRuntime() override;

    const Settings &settings() const { return file; }
    Bridge *bridge() { return &bus; }
    Crate *crate() const { return modules; }
    ModuleSession *first() const;

    // The parts beside a module's session; null for a module the runtime does not hold, and the
    // history without `keepHistory`, the publisher in a build without MQTT.
    DataLog *dataLog(const ModuleSession *module) const;
    ReadingHistory *history(const ModuleSession *module) const;
    MqttPublisher *publisher(const ModuleSession *module) const;

    bool isAttached() const { return options.attached; }
    // The services the attached panel follows; null when the panel polls its own bridge.
    Attachment *attachment() const { return services; }

    // Adds the further modules of the settings file, resumes every stored data log, opens the
    // bridge and starts publishing.
    void start();
    // Stops the poll, writes every data log's last row, has every publisher say "offline"
    // together and closes the bridge; at most about 2 s whatever the broker does.
    void stop();

    // One attempt to open the bridge the settings name, with its events; the poll starts when it
    // opens. The operator's choice of another controller comes here after `stopForChoice`.
    bool connectBridge();
    // Stops the poll and closes the bridge while the operator chooses a controller.
    void stopForChoice();
    bool isPolling() const { return ticks.isActive(); }
    // The poll's timer, running while the crate is polled; a test stops it to run ticks itself.
    QTimer *pollTimer() { return &ticks; }

    // The Module Address dialog: the module leaves the ticks until it is resumed; the rest of the
    // crate keeps them.
    void pause(ModuleSession *module);
    void resume(ModuleSession *module);

    // A further module with its store, log and publisher; null when the crate refuses it.
    ModuleSession *addModule(const ModuleConfig &config);
    // Stops the module's log and publisher (which says "offline") and removes it.
    void removeModule(ModuleSession *module);
    // Moves a module to a free address and keeps its parts; false when the address is taken.
    bool moveModule(ModuleSession *module, quint32 address);
    // The channel groups the runtime acts on, as the settings file gave them at start.
    QVector<ChannelGroup> channelGroups() const;
    // The group's channels are down after a trip of one of them, until the operator clears it.
    bool isGroupTripped(const QString &name) const;

    // Ramps a group to its targets or to zero in steps of at most its MaxDifference (see
    // groupramp.h), the first step written at once and each further one at the first tick at
    // which every channel has reached the step before. Empty when it started (or the group stands
    // there already), else why not, and nothing was written; `error` then receives the refusal's
    // code for a remote command's answer. A ramp of the group that is under way gives way to it.
    QString rampGroup(const QString &name, GroupRampDirection direction, QString *error = nullptr);
    // Stops a group's ramp where it stands: no further step is written. False when none runs.
    bool stopGroupRamp(const QString &name);
    bool isGroupRamping(const QString &name) const;
    // "ramping up 3/7" (step 3 of 7 written), "ramping down 2/4", "at targets", "at zero",
    // "stopped", or "tripped" while the group is down after a trip; empty before any ramp.
    QString groupStateText(const QString &name) const;

#ifdef BRELK_MQTT
    // A remote command `{"ramp_to": ...}` that passed the common rules under the prefix of
    // `module`, for the group `name`, which must have its first channel on that module: "targets"
    // and "zero" ramp the group (see rampGroup), "stop" stops its ramp.
    RemoteVerdict groupCommand(const ModuleSession *module, const QString &name,
                               const QString &rampTo);
    // The operator's "Allow Remote Commands", for every module.
    void setCommandsAllowed(bool allowed);
#endif

signals:
    void happened(const Brelk::CrateEvent &event);
    // A further module and its parts exist; views attach to them here.
    void moduleAdded(Brelk::ModuleSession *module);
    // Attached: the service of a module was found, the first module's too.
    void serviceFound(Brelk::ModuleSession *module);

private:
#ifdef BRELK_MQTT
    void startAttached();
    // After a write to the settings file: a further module's publisher whose broker settings in
    // the file are no longer those it runs with restarts with them, under its own prefix. The
    // first module's publisher is the operator's to restart.
    void followMqttSettings();
#endif
    struct ModuleParts;

    ModuleParts *partsOf(const ModuleSession *module) const;
    void attachParts(ModuleSession *module, const Settings &keys);
    void resumeLog(ModuleParts *parts);
    void tick();
    void tickEnded();
    void reopenBridge();
    // The bridge opened: the modules are told, and the poll starts.
    void startPolling();
    void tell(const CrateEvent &event);
    void loadGroups();
    // After a module's complete tick: a channel of a group that newly reports a trip brings the
    // group's other channels down in the same tick, through each module's one write path.
    void watchTrips(ModuleSession *module);
    // `readAt`: when the tick that read the trip was taken.
    void bringGroupDown(int group, int tripped, qint64 readAt);
    // At the end of every tick: each running group ramp goes on to its next step, arrives, or
    // stops for a module that no longer answers.
    void advanceGroupRamps();
    struct GroupWatch;
    // Writes the set voltages of the ramp's current step that differ from those written before;
    // empty when every write went through, else why not (the ramp is stopped).
    QString writeGroupStep(GroupWatch &watch);
    void endGroupRamp(GroupWatch &watch, const QString &reason);
    void publishGroupRamp(const GroupWatch &watch, const QString &reason = QString());
    // The group's first module that is not there or does not answer, as "module 0xDC00 does not
    // answer"; empty when all of them do.
    QString unansweringModule(const ChannelGroup &group) const;
    GroupWatch *findGroup(const QString &name);
    const GroupWatch *findGroup(const QString &name) const;
#ifdef BRELK_MQTT
    // The publisher under whose prefix the group's messages stand: that of its first channel's
    // module.
    MqttPublisher *groupPublisher(const ChannelGroup &group) const;
#endif

    Settings file;
    Options options;
    Bridge bus;
    Crate *modules;
    Attachment *services = nullptr;
    std::vector<std::unique_ptr<ModuleParts>> parts;
#ifdef BRELK_MQTT
    MqttPrefixes prefixes;
#endif
    QTimer ticks;
    QTimer retryTimer;
    // Since a module last completed a tick, on the monotonic clock; restarted at each opening of
    // the bridge.
    QElapsedTimer sinceAnswer;
    bool bridgeLost = false;
    bool stopped = false;
    bool commandsAllowed = false;
    enum class RampState { Idle, Ramping, Arrived, Stopped };
    struct GroupWatch
    {
        ChannelGroup group;
        // Per channel: tripped at its module's last complete tick.
        QVector<bool> tripped;
        bool down = false;
        RampState rampState = RampState::Idle;
        GroupRampDirection direction = GroupRampDirection::Up;
        QVector<QVector<double>> steps;
        // The step written last, from 0.
        int step = 0;
        // Per channel: the set voltage count the ramp wrote last, or the module held at its start.
        QVector<quint16> written;
        // The voltage deviation alarm's tolerance when the ramp started.
        double tolerance = 0;
    };
    std::vector<GroupWatch> groups;
};

} // namespace Brelk

#endif // CRATERUNTIME_H
