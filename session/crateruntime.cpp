#include "crateruntime.h"

#include "crate.h"
#include "datalog.h"
#include "display.h"
#include "freshness.h"
#include "modulesession.h"
#include "readinghistory.h"
#ifdef BRELK_MQTT
#include "attachment.h"
#include "mqttpublisher.h"
#endif

#include <QDateTime>
#include <QDebug>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace Brelk {

struct CrateRuntime::ModuleParts
{
    ModuleSession *session = nullptr;
    // The module's keys in the settings file: the top of it for the first module, its group for
    // a further one.
    Settings keys;
    std::unique_ptr<DataLog> dataLog;
    std::unique_ptr<ReadingHistory> history;
#ifdef BRELK_MQTT
    std::unique_ptr<MqttPublisher> publisher;
#endif
    // The serial number last told, so that it is told when it changes, not at every tick.
    bool answering = false;
    quint16 answeringSerial = 0;

    explicit ModuleParts(const Settings &keys) : keys(keys) {}
};

CrateRuntime::CrateRuntime(const QString &settingsFile, Options options, QObject *parent)
    : QObject(parent), file(settingsFile), options(options),
      modules(new Crate(&bus, file.baseAddress(), this))
{
    qRegisterMetaType<Brelk::CrateEvent>();
    qDebug() << "Using INI file:" << file.path();
    qDebug("BaseAddress: 0x%X", file.baseAddress());
#ifdef BRELK_MQTT
    commandsAllowed = remoteCommandsAllowed(file);
    connect(file.changes(), &SettingsSignals::changed, this, [this](const QStringList &keys) {
        if (touchesMqttSettings(keys))
            followMqttSettings();
    });
#endif
    ticks.setInterval(PollIntervalMs);
    connect(&ticks, &QTimer::timeout, this, &CrateRuntime::tick);
    connect(modules, &Crate::tickEnded, this, &CrateRuntime::tickEnded);
    retryTimer.setInterval(RetryIntervalMs);
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, [this] {
        if (bridgeLost)
            reopenBridge();
        else
            connectBridge();
    });
    modules->setAddressesShared(options.attached);
    ModuleSession *const firstModule = modules->first();
    firstModule->setSelection(file.resolutionOptions());
    // Before any view, which shows the ceilings and bounds its dialogs by them.
    firstModule->setVoltageCeilings(file.voltageCeilings());
    attachParts(firstModule, file);
}

CrateRuntime::~CrateRuntime()
{
    stop();
    // The publishers release their prefixes, and the logs end, while the crate still exists.
    parts.clear();
    delete modules;
    modules = nullptr;
}

ModuleSession *CrateRuntime::first() const
{
    return modules->first();
}

CrateRuntime::ModuleParts *CrateRuntime::partsOf(const ModuleSession *module) const
{
    for (const auto &held : parts) {
        if (held->session == module)
            return held.get();
    }
    return nullptr;
}

DataLog *CrateRuntime::dataLog(const ModuleSession *module) const
{
    const ModuleParts *held = partsOf(module);
    return held ? held->dataLog.get() : nullptr;
}

ReadingHistory *CrateRuntime::history(const ModuleSession *module) const
{
    const ModuleParts *held = partsOf(module);
    return held ? held->history.get() : nullptr;
}

MqttPublisher *CrateRuntime::publisher(const ModuleSession *module) const
{
#ifdef BRELK_MQTT
    const ModuleParts *held = partsOf(module);
    return held ? held->publisher.get() : nullptr;
#else
    Q_UNUSED(module)
    return nullptr;
#endif
}

// The session's own signals become the crate's events; the store and the log take every tick,
// and a trip in a group is acted on, before any view shows it.
void CrateRuntime::attachParts(ModuleSession *module, const Settings &keys)
{
    parts.push_back(std::make_unique<ModuleParts>(keys));
    ModuleParts *const held = parts.back().get();
    held->session = module;
    held->dataLog = std::make_unique<DataLog>();
    if (options.keepHistory)
        held->history = std::make_unique<ReadingHistory>();

    connect(module, &ModuleSession::readingTaken, this, [this, held](const Reading &reading) {
        sinceAnswer.restart();
        watchTrips(held->session);
        if (held->answering && held->answeringSerial == reading.serialNumber)
            return;
        held->answering = true;
        held->answeringSerial = reading.serialNumber;
        tell(CrateEvent::moduleAnswering(held->session, reading.serialNumber));
    });
    connect(module, &ModuleSession::noAnswer, this, [this, held](qint64 silentSince) {
        held->answering = false;
        tell(CrateEvent::moduleSilent(held->session, silentSince));
    });
    connect(module, &ModuleSession::commandFailed, this, [this, module](const QString &text) {
        tell(CrateEvent::of(CrateEvent::CommandFailed, CrateEvent::Error, module, text));
    });
    connect(module, &ModuleSession::commandNote, this, [this, module](const QString &text) {
        tell(CrateEvent::of(CrateEvent::CommandNote, CrateEvent::Warning, module, text));
    });
    if (held->history)
        connect(module, &ModuleSession::readingTaken, held->history.get(),
                &ReadingHistory::takeReading);
    connect(module, &ModuleSession::readingTaken, held->dataLog.get(), &DataLog::takeReading);
    connect(held->dataLog.get(), &DataLog::failed, this,
            [this, module](const QString &path, const QString &reason) {
                tell(CrateEvent::logFailed(module, path, reason));
            });

#ifdef BRELK_MQTT
    // An attached panel shows what the services publish and publishes nothing itself.
    if (options.attached)
        return;
    held->publisher = std::make_unique<MqttPublisher>(sessionContext(&bus, module));
    MqttPublisher *const publisher = held->publisher.get();
    publisher->setPrefixes(&prefixes);
    publisher->setCommandMaxAge(remoteCommandMaxAgeMs(file));
    publisher->setCommandsAllowed(commandsAllowed);
    publisher->setHistory(held->history.get());
    publisher->attach(module);
    connect(publisher, &MqttPublisher::stateChanged, this, [this, module, publisher] {
        if (publisher->isPublishing())
            tell(CrateEvent::mqttState(module, publisher->stateText(), publisher->lastError()));
    });
    publisher->setGroupAction([this, module](const QString &name, const QString &rampTo) {
        return groupCommand(module, name, rampTo);
    });
    connect(
        publisher, &MqttPublisher::remoteCommandTaken, this, [this, module](const QString &text) {
            tell(CrateEvent::of(CrateEvent::RemoteCommand, CrateEvent::Information, module, text));
        });
#endif
}

void CrateRuntime::start()
{
#ifdef BRELK_MQTT
    if (options.attached) {
        startAttached();
        return;
    }
#endif
    resumeLog(parts.front().get());
#ifdef BRELK_MQTT
    // The first module claims its prefix before any further module can.
    parts.front()->publisher->startFromSettings(file);
#endif
    for (const ModuleConfig &config : file.furtherModules())
        addModule(config);
    loadGroups();
    connectBridge();
}

#ifdef BRELK_MQTT
void CrateRuntime::startAttached()
{
    services = new Attachment(modules, this);
    connect(services, &Attachment::happened, this, &CrateRuntime::tell);
    connect(services, &Attachment::moduleFound, this, [this](ModuleSession *module) {
        if (!partsOf(module)) {
            attachParts(module, file);
            emit moduleAdded(module);
        }
        emit serviceFound(module);
    });
    // The service's stored trend goes in front of the live ticks; a module gone takes nothing.
    connect(services, &Attachment::earlierReadings, this,
            [this](ModuleSession *module, const std::vector<Reading> &readings) {
                const ModuleParts *held = partsOf(module);
                if (held && held->history)
                    held->history->addEarlierReadings(readings);
            });
    const AttachSettings attach = loadAttachSettings(file);
    services->start(loadMqttSettings(file, int(file.baseAddress())), attach.filter, attach.module);
}
#endif

void CrateRuntime::resumeLog(ModuleParts *held)
{
    const QString path = held->keys.logFile();
    if (path.isEmpty() || held->dataLog->isLogging())
        return;
    const qint64 interval = held->keys.logIntervalMs();
    held->dataLog->start(path, interval);
    tell(CrateEvent::logStarted(held->session, path, interval));
}

void CrateRuntime::stop()
{
    if (stopped)
        return;
    stopped = true;
    ticks.stop();
    retryTimer.stop();
    for (const auto &held : parts)
        held->dataLog->stop();
#ifdef BRELK_MQTT
    if (services)
        services->stop();
    QVector<MqttPublisher *> publishers;
    for (const auto &held : parts) {
        if (held->publisher)
            publishers.push_back(held->publisher.get());
    }
    MqttPublisher::stopTogether(publishers);
#endif
    bus.close();
}

bool CrateRuntime::connectBridge()
{
    retryTimer.stop();
    bridgeLost = false;
    tell(CrateEvent::connecting());
    if (bus.connect(file.vmeController())) {
        startPolling();
        return true;
    }
    modules->connectionFailed();
    tell(CrateEvent::connectionFailed(bus.name(), options.retryConnection ? RetryIntervalMs : 0));
    if (options.retryConnection)
        retryTimer.start();
    return false;
}

void CrateRuntime::stopForChoice()
{
    ticks.stop();
    retryTimer.stop();
    bridgeLost = false;
    tell(CrateEvent::pollStopped(QDateTime::currentMSecsSinceEpoch()));
    modules->pollStopped();
    bus.close();
}

// A paused module is not read, so a group ramp through it could not see its steps reached: the
// ramp stops where it is rather than wait behind the dialog.
void CrateRuntime::pause(ModuleSession *module)
{
    modules->pause(module);
    for (GroupWatch &watch : groups) {
        const bool holds = std::any_of(watch.group.channels.cbegin(), watch.group.channels.cend(),
                                       [module](const GroupChannel &channel) {
                                           return channel.address == module->baseAddress();
                                       });
        if (holds && watch.rampState == RampState::Ramping)
            endGroupRamp(watch, QStringLiteral("the module at %1 is paused")
                                    .arg(baseAddressText(module->baseAddress())));
    }
}

void CrateRuntime::resume(ModuleSession *module)
{
    modules->resume(module);
}

void CrateRuntime::tick()
{
    modules->tick();
}

// A USB bridge that was unplugged fails every cycle of every module: after 3 s of that it is
// closed and opened again every 10 s, and the crate carries on as at start once it opens.
void CrateRuntime::tickEnded()
{
    advanceGroupRamps();
    // A tick that polled nothing (every module paused for its address dialog) says nothing of the
    // bridge.
    const QVector<ModuleSession *> &all = modules->modules();
    if (std::all_of(all.cbegin(), all.cend(),
                    [this](const ModuleSession *module) { return modules->isPaused(module); }))
        sinceAnswer.restart();
    if (!ticks.isActive() || !sinceAnswer.isValid() || sinceAnswer.elapsed() < BridgeLostAfterMs)
        return;
    ticks.stop();
    modules->connectionFailed();
    bus.close();
    bridgeLost = true;
    tell(CrateEvent::bridgeLost(RetryIntervalMs));
    retryTimer.start();
}

void CrateRuntime::reopenBridge()
{
    if (!bus.reopen()) {
        retryTimer.start();
        return;
    }
    bridgeLost = false;
    startPolling();
}

void CrateRuntime::startPolling()
{
    tell(CrateEvent::connected(bus.name()));
    tell(CrateEvent::connectingModule(first()->baseAddress()));
    modules->connected();
    sinceAnswer.start();
    ticks.start();
}

ModuleSession *CrateRuntime::addModule(const ModuleConfig &config)
{
    ModuleSession *module = modules->addModule(config);
    if (!module)
        return nullptr;
    attachParts(module, file.moduleGroup(config.address));
    emit moduleAdded(module);
    ModuleParts *const held = parts.back().get();
    resumeLog(held);
#ifdef BRELK_MQTT
    held->publisher->apply(loadModuleMqttSettings(file, config.address));
#endif
    return module;
}

void CrateRuntime::removeModule(ModuleSession *module)
{
    const auto held = std::find_if(parts.begin(), parts.end(),
                                   [module](const auto &p) { return p->session == module; });
    if (held == parts.end() || held == parts.begin())
        return;
    // Its publisher says "offline" before its session goes.
    parts.erase(held);
    modules->removeModule(module);
}

bool CrateRuntime::moveModule(ModuleSession *module, quint32 address)
{
    if (!modules->moveModule(module, address))
        return false;
    if (ModuleParts *held = partsOf(module)) {
        if (held != parts.front().get())
            held->keys = file.moduleGroup(address);
    }
    return true;
}

#ifdef BRELK_MQTT
void CrateRuntime::setCommandsAllowed(bool allowed)
{
    commandsAllowed = allowed;
    for (const auto &held : parts) {
        if (held->publisher)
            held->publisher->setCommandsAllowed(allowed);
    }
}

RemoteVerdict CrateRuntime::groupCommand(const ModuleSession *module, const QString &name,
                                         const QString &rampTo)
{
    RemoteVerdict verdict;
    const GroupWatch *watch = findGroup(name);
    if (!watch || watch->group.channels.first().address != module->baseAddress()) {
        verdict.error = QLatin1String(RemoteError::Invalid);
        verdict.message = QStringLiteral("no group %1 has its first channel on the module at %2")
                              .arg(name, baseAddressText(module->baseAddress()));
        return verdict;
    }
    if (rampTo == QLatin1String("stop")) {
        if (!stopGroupRamp(name))
            verdict.message = QStringLiteral("group %1 was not ramping").arg(name);
        return verdict;
    }
    verdict.message = rampGroup(name,
                                rampTo == QLatin1String("targets") ? GroupRampDirection::Up
                                                                   : GroupRampDirection::Down,
                                &verdict.error);
    return verdict;
}

void CrateRuntime::followMqttSettings()
{
    for (const auto &held : parts) {
        if (held == parts.front() || !held->publisher)
            continue;
        const MqttSettings stored = loadModuleMqttSettings(file, held->session->baseAddress());
        if (stored != held->publisher->currentSettings())
            held->publisher->apply(stored);
    }
}
#endif

void CrateRuntime::loadGroups()
{
    QVector<quint32> addresses;
    for (const ModuleSession *module : modules->modules())
        addresses << module->baseAddress();
    QStringList problems;
    const QVector<ChannelGroup> kept =
        groupsOfCrate(file.channelGroups(&problems), addresses, &problems);
    for (const QString &problem : problems)
        tell(CrateEvent::of(CrateEvent::GroupIgnored, CrateEvent::Warning, nullptr, problem));
    groups.clear();
    for (const ChannelGroup &group : kept) {
        GroupWatch watch;
        watch.group = group;
        watch.tripped = QVector<bool>(group.channels.size(), false);
        groups.push_back(watch);
    }
}

QVector<ChannelGroup> CrateRuntime::channelGroups() const
{
    QVector<ChannelGroup> list;
    for (const GroupWatch &watch : groups)
        list << watch.group;
    return list;
}

CrateRuntime::GroupWatch *CrateRuntime::findGroup(const QString &name)
{
    const auto found = std::find_if(groups.begin(), groups.end(),
                                    [&name](const GroupWatch &w) { return w.group.name == name; });
    return found == groups.end() ? nullptr : &*found;
}

const CrateRuntime::GroupWatch *CrateRuntime::findGroup(const QString &name) const
{
    return const_cast<CrateRuntime *>(this)->findGroup(name);
}

bool CrateRuntime::isGroupTripped(const QString &name) const
{
    const GroupWatch *watch = findGroup(name);
    return watch && watch->down;
}

void CrateRuntime::watchTrips(ModuleSession *module)
{
    const quint16 status = module->newestReading().status;
    const quint16 latch = module->eventLatch();
    for (int g = 0; g < int(groups.size()); ++g) {
        GroupWatch &watch = groups[std::size_t(g)];
        for (int i = 0; i < watch.group.channels.size(); ++i) {
            const GroupChannel &channel = watch.group.channels.at(i);
            if (channel.address != module->baseAddress())
                continue;
            const bool tripped = channelTripped(status, latch, channel.channel);
            const bool newly = tripped && !watch.tripped.at(i);
            watch.tripped[i] = tripped;
            if (newly)
                bringGroupDown(g, i, module->newestReading().time);
        }
        if (watch.down && !watch.tripped.contains(true)) {
            watch.down = false;
            tell(CrateEvent::of(
                CrateEvent::GroupRecovered, CrateEvent::Information, nullptr,
                QStringLiteral("Group %1: no channel is tripped any more").arg(watch.group.name)));
        }
    }
}

void CrateRuntime::bringGroupDown(int g, int tripped, qint64 readAt)
{
    GroupWatch &watch = groups[std::size_t(g)];
    const ChannelGroup &group = watch.group;
    watch.down = true;
    // A ramp under way stops where it is, and a group that stood at its targets no longer does;
    // the trip's own writes follow.
    if (watch.rampState != RampState::Idle)
        watch.rampState = RampState::Stopped;
    QVector<int> broughtDown;
    QStringList notBroughtDown;
    if (group.onTrip != OnTrip::None) {
        for (int index : outwardOrder(group.channels.size(), tripped)) {
            const GroupChannel &channel = group.channels.at(index);
            ModuleSession *module = modules->module(channel.address);
            if (!module || module->isSilent() || !module->lastReading()) {
                notBroughtDown
                    << QStringLiteral("%1 skipped: its module does not answer").arg(channel.text());
                continue;
            }
            const CommandOutcome outcome = module->execute(tripWrites(group, index));
            if (outcome.done)
                broughtDown << index;
            else
                notBroughtDown << QStringLiteral("%1 not brought down: %2")
                                      .arg(channel.text(), outcome.failure);
        }
    }
    tell(CrateEvent::of(CrateEvent::GroupTripped, CrateEvent::Error, nullptr,
                        tripLine(group, tripped, broughtDown, notBroughtDown)));
    // Every module of the group: a mark in its trend, and its next tick a row of its data log
    // (for the tripped channel's module the tick that read the trip).
    QVector<quint32> marked;
    for (const GroupChannel &channel : group.channels) {
        ModuleParts *held = partsOf(modules->module(channel.address));
        if (!held || marked.contains(channel.address))
            continue;
        marked << channel.address;
        if (held->history)
            held->history->addMark(QStringLiteral("Group %1 tripped (%2)")
                                       .arg(group.name, group.channels.at(tripped).text()));
        held->dataLog->rowAtNextTick();
    }
#ifdef BRELK_MQTT
    // Under the prefix of the module of the group's first channel, retained for whoever comes.
    if (MqttPublisher *publisher = groupPublisher(group)) {
        QJsonObject state;
        state.insert(QStringLiteral("state"), QStringLiteral("tripped"));
        state.insert(QStringLiteral("by"), group.channels.at(tripped).text());
        state.insert(QStringLiteral("time"), isoLocalTime(readAt));
        publisher->publishGroupState(group.name, state);
    }
#else
    Q_UNUSED(readAt)
#endif
}

namespace {

QString rampName(GroupRampDirection direction)
{
    return direction == GroupRampDirection::Up ? QStringLiteral("ramp up")
                                               : QStringLiteral("ramp down");
}

} // namespace

QString CrateRuntime::unansweringModule(const ChannelGroup &group) const
{
    for (const GroupChannel &channel : group.channels) {
        const ModuleSession *module = modules->module(channel.address);
        if (!module || !module->lastReading() || module->isStale())
            return QStringLiteral("module %1 does not answer")
                .arg(baseAddressText(channel.address));
    }
    return QString();
}

QString CrateRuntime::rampGroup(const QString &name, GroupRampDirection direction, QString *error)
{
    const auto refuse = [error](const char *code, const QString &reason) {
        if (error)
            *error = QLatin1String(code);
        return reason;
    };
    GroupWatch *found = findGroup(name);
    if (!found)
        return refuse("invalid", QStringLiteral("there is no group %1").arg(name));
    GroupWatch &watch = *found;
    const ChannelGroup &group = watch.group;
    // A set voltage switches a tripped channel back on: only the operator's own may.
    if (direction == GroupRampDirection::Up && watch.tripped.contains(true))
        return refuse(
            "tripped",
            QStringLiteral("group %1 has a tripped channel; clear it first").arg(group.name));
    const QString silent = unansweringModule(group);
    if (!silent.isEmpty())
        return refuse("stale", silent);
    // A channel whose HV switch is off never reaches a step above 0 V: the ramp would wait on it
    // for ever.
    if (direction == GroupRampDirection::Up) {
        for (const GroupChannel &channel : group.channels) {
            const Reading &reading = modules->module(channel.address)->newestReading();
            if (channelByte(reading.status, channel.channel) & StatusHvOff)
                return refuse("hv_off",
                              QStringLiteral("channel %1 of group %2 has its HV switch off")
                                  .arg(channel.text(), group.name));
        }
    }
    QVector<VoltageCeilings> ceilings;
    for (const GroupChannel &channel : group.channels)
        ceilings << modules->module(channel.address)->voltageCeilings();
    if (direction == GroupRampDirection::Up) {
        const QString problem = groupRampUpProblem(group, ceilings);
        if (!problem.isEmpty())
            return refuse("out_of_range", problem);
    }

    // A channel at its set voltage starts from it; one that is not (switched off, tripped, still
    // ramping) from where its output stands.
    const double tolerance = file.voltageDeviationAlarm();
    QVector<double> start;
    QVector<quint16> held;
    for (const GroupChannel &channel : group.channels) {
        const Reading &reading = modules->module(channel.address)->newestReading();
        const double set = setVolts(reading, channel.channel);
        const double measured = measuredVolts(reading, channel.channel);
        start << (withinVoltageTolerance(measured, set, tolerance) ? set : std::round(measured));
        held << reading.vset[channel.channel];
    }
    const QVector<double> targets = direction == GroupRampDirection::Up
                                        ? group.targets
                                        : QVector<double>(group.channels.size(), 0.0);
    QVector<QVector<double>> steps;
    if (!planGroupSteps(start, targets, group.maxDifference, &steps))
        return refuse("out_of_range",
                      QStringLiteral("no way to the targets keeps neighbours within "
                                     "MaxDifference %1 V")
                          .arg(group.maxDifference));

    watch.direction = direction;
    watch.steps = steps;
    watch.step = 0;
    watch.written = held;
    watch.tolerance = tolerance;
    watch.rampState = RampState::Ramping;
    if (steps.isEmpty()) {
        endGroupRamp(watch, QString());
        return QString();
    }
    tell(CrateEvent::of(CrateEvent::GroupRamp, CrateEvent::Information, nullptr,
                        QStringLiteral("Group %1: %2 in %3 steps")
                            .arg(group.name, direction == GroupRampDirection::Up
                                                 ? QStringLiteral("ramping up to the targets")
                                                 : QStringLiteral("ramping down to zero"))
                            .arg(steps.size())));
    const QString failure = writeGroupStep(watch);
    if (!failure.isEmpty())
        return refuse("write_failed", failure);
    return QString();
}

QString CrateRuntime::writeGroupStep(GroupWatch &watch)
{
    const QVector<double> &step = watch.steps.at(watch.step);
    for (int i = 0; i < watch.group.channels.size(); ++i) {
        const WriteList writes = groupStepWrites(watch.group, i, step.at(i));
        if (writes.first().word == watch.written.at(i))
            continue;
        const GroupChannel &channel = watch.group.channels.at(i);
        const CommandOutcome outcome = modules->module(channel.address)->execute(writes);
        if (!outcome.done) {
            const QString reason = QStringLiteral("%1: %2").arg(channel.text(), outcome.failure);
            endGroupRamp(watch, reason);
            return reason;
        }
        watch.written[i] = writes.first().word;
    }
    // The start of the ramp says how many steps it takes.
    if (watch.step > 0)
        tell(CrateEvent::of(CrateEvent::GroupRamp, CrateEvent::Information, nullptr,
                            QStringLiteral("Group %1: %2 at step %3/%4")
                                .arg(watch.group.name, rampName(watch.direction))
                                .arg(watch.step + 1)
                                .arg(watch.steps.size())));
    publishGroupRamp(watch);
    return QString();
}

void CrateRuntime::advanceGroupRamps()
{
    for (GroupWatch &watch : groups) {
        if (watch.rampState != RampState::Ramping)
            continue;
        const QString silent = unansweringModule(watch.group);
        if (!silent.isEmpty()) {
            endGroupRamp(watch, silent);
            continue;
        }
        QVector<double> measured;
        for (const GroupChannel &channel : watch.group.channels)
            measured << measuredVolts(modules->module(channel.address)->newestReading(),
                                      channel.channel);
        if (!groupStepReached(measured, watch.steps.at(watch.step), watch.tolerance))
            continue;
        if (watch.step + 1 == watch.steps.size()) {
            endGroupRamp(watch, QString());
            continue;
        }
        ++watch.step;
        writeGroupStep(watch);
    }
}

bool CrateRuntime::stopGroupRamp(const QString &name)
{
    GroupWatch *watch = findGroup(name);
    if (!watch || watch->rampState != RampState::Ramping)
        return false;
    endGroupRamp(*watch, QStringLiteral("stopped by the operator"));
    return true;
}

// `reason` empty: the ramp arrived.
void CrateRuntime::endGroupRamp(GroupWatch &watch, const QString &reason)
{
    watch.rampState = reason.isEmpty() ? RampState::Arrived : RampState::Stopped;
    const QString text = reason.isEmpty()
                             ? QStringLiteral("Group %1: %2")
                                   .arg(watch.group.name, watch.direction == GroupRampDirection::Up
                                                              ? QStringLiteral("at the targets")
                                                              : QStringLiteral("at zero"))
                             : QStringLiteral("Group %1: %2 stopped at step %3/%4: %5")
                                   .arg(watch.group.name, rampName(watch.direction))
                                   .arg(watch.step + 1)
                                   .arg(watch.steps.size())
                                   .arg(reason);
    tell(CrateEvent::of(CrateEvent::GroupRamp,
                        reason.isEmpty() ? CrateEvent::Information : CrateEvent::Warning, nullptr,
                        text));
    publishGroupRamp(watch, reason);
}

bool CrateRuntime::isGroupRamping(const QString &name) const
{
    const GroupWatch *watch = findGroup(name);
    return watch && watch->rampState == RampState::Ramping;
}

QString CrateRuntime::groupStateText(const QString &name) const
{
    const GroupWatch *watch = findGroup(name);
    if (!watch)
        return QString();
    if (watch->down)
        return QStringLiteral("tripped");
    const bool up = watch->direction == GroupRampDirection::Up;
    switch (watch->rampState) {
    case RampState::Idle:
        return QString();
    case RampState::Ramping:
        return QStringLiteral("%1 %2/%3")
            .arg(up ? QStringLiteral("ramping up") : QStringLiteral("ramping down"))
            .arg(watch->step + 1)
            .arg(watch->steps.size());
    case RampState::Arrived:
        return up ? QStringLiteral("at targets") : QStringLiteral("at zero");
    case RampState::Stopped:
        return QStringLiteral("stopped");
    }
    return QString();
}

#ifdef BRELK_MQTT
MqttPublisher *CrateRuntime::groupPublisher(const ChannelGroup &group) const
{
    return publisher(modules->module(group.channels.first().address));
}
#endif

// Retained under the prefix of the group's first module, as the trip's message is.
void CrateRuntime::publishGroupRamp(const GroupWatch &watch, const QString &reason)
{
#ifdef BRELK_MQTT
    MqttPublisher *publisher = groupPublisher(watch.group);
    if (!publisher)
        return;
    const bool up = watch.direction == GroupRampDirection::Up;
    QJsonObject state;
    switch (watch.rampState) {
    case RampState::Idle:
        return;
    case RampState::Ramping:
        state.insert(QStringLiteral("state"),
                     up ? QStringLiteral("ramping_up") : QStringLiteral("ramping_down"));
        state.insert(QStringLiteral("step"), watch.step + 1);
        state.insert(QStringLiteral("steps"), watch.steps.size());
        break;
    case RampState::Arrived:
        state.insert(QStringLiteral("state"),
                     up ? QStringLiteral("at_targets") : QStringLiteral("at_zero"));
        break;
    case RampState::Stopped:
        state.insert(QStringLiteral("state"), QStringLiteral("stopped"));
        state.insert(QStringLiteral("reason"), reason);
        break;
    }
    state.insert(QStringLiteral("time"), isoLocalTime(QDateTime::currentMSecsSinceEpoch()));
    publisher->publishGroupState(watch.group.name, state);
#else
    Q_UNUSED(watch)
    Q_UNUSED(reason)
#endif
}

void CrateRuntime::tell(const CrateEvent &event)
{
    emit happened(event);
}

} // namespace Brelk
