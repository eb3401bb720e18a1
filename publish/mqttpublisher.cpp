#include "mqttpublisher.h"

#include "bridge.h"
#include "display.h"
#include "historyanswer.h"
#include "modulesession.h"
#include "mqttprefixes.h"
#include "readinghistory.h"
#include "settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QThread>
#include <QTimer>

namespace Brelk {

namespace {

const char *const ChannelTopics[2] = {MqttTopic::ChannelA, MqttTopic::ChannelB};
const char *const ModuleTopic = MqttTopic::Module;
// A module's description is sent again for another program under the same prefix to see at most
// this often, so that two such programs do not answer each other for ever.
const int ModuleResendMs = 5000;

} // namespace

std::function<ModuleContext()> sessionContext(const Bridge *bridge, const ModuleSession *session)
{
    // The host name is asked once, not at every tick that publishes.
    const QString host = QSysInfo::machineHostName();
    return [bridge, session, host] {
        const ResolutionSelection options = session->selection();
        return ModuleContext{bridge->name(),      int(session->baseAddress()),
                             options.fineVoltage, options.currentResolution,
                             options.secondRange, host,
                             mqttInstanceId(),    session->voltageCeilings(),
                             session->name()};
    };
}

QString mqttInstanceId()
{
    static const QString instance = QStringLiteral("%1:%2:%3")
                                        .arg(QSysInfo::machineHostName())
                                        .arg(QCoreApplication::applicationPid())
                                        .arg(QDateTime::currentMSecsSinceEpoch());
    return instance;
}

QString mqttClientId()
{
    return QStringLiteral("brelkcontrol-") +
           QString::asprintf("%08x", QRandomGenerator::system()->generate());
}

MqttPublisher::MqttPublisher(std::function<ModuleContext()> context, QObject *parent)
    : QObject(parent), context(std::move(context))
{
    qRegisterMetaType<Brelk::MqttSettings>();
    commandClock.start();
    hiddenRefusalReport = new QTimer(this);
    hiddenRefusalReport->setSingleShot(true);
    hiddenRefusalReport->setInterval(1000);
    connect(hiddenRefusalReport, &QTimer::timeout, this, &MqttPublisher::reportHiddenRefusals);
}

// Quit: the only stop that waits, so that "offline" reaches the broker. A worker still blocked
// after that is left behind; it deletes itself and its thread when its blocking call returns.
MqttPublisher::~MqttPublisher()
{
    if (programPrefixes)
        programPrefixes->release(this);
    retireWorker();
    waitForEndingThread(StopWaitMs);
}

void MqttPublisher::stopTogether(const QVector<MqttPublisher *> &publishers)
{
    for (MqttPublisher *publisher : publishers)
        publisher->retireWorker();
    QElapsedTimer waited;
    waited.start();
    for (MqttPublisher *publisher : publishers)
        publisher->waitForEndingThread(qMax<qint64>(0, StopWaitMs - waited.elapsed()));
}

void MqttPublisher::waitForEndingThread(qint64 ms)
{
    if (!endingThread)
        return;
    disconnect(endingThread, nullptr, this, nullptr);
    if (endingThread->wait(static_cast<unsigned long>(ms))) {
        delete endingThread;
        endingThread = nullptr;
        return;
    }
    qDebug().noquote() << QStringLiteral("MQTT: %1:%2: leaving the connection attempt behind")
                              .arg(settings.host)
                              .arg(settings.port);
    connect(endingThread, &QThread::finished, endingThread, &QObject::deleteLater);
    endingThread = nullptr;
}

void MqttPublisher::attach(ModuleSession *session)
{
    this->session = session;
    connect(session, &ModuleSession::readingTaken, this, &MqttPublisher::takeReading);
    connect(session, &ModuleSession::staleChanged, this, [this](bool stale) {
        if (stale)
            readingsStale();
    });
    connect(session, &ModuleSession::baseAddressChanged, this, &MqttPublisher::followBaseAddress);
}

void MqttPublisher::startFromSettings(const Settings &file)
{
    const MqttSettings stored = loadMqttSettings(file, context().baseAddress);
    if (stored.enabled())
        apply(stored);
}

void MqttPublisher::apply(const MqttSettings &newSettings)
{
    retireWorker();
    settings = newSettings;
    error.clear();
    otherHost.clear();
    otherInstance.clear();
    currentState = MqttState::Connecting;
    if (programPrefixes)
        programPrefixes->release(this);
    if (!settings.enabled()) {
        emit stateChanged();
        return;
    }
    QString problem = mqttTopicProblem(settings.topic);
    QString holder;
    if (problem.isEmpty() && settings.fileProblem.isEmpty() && programPrefixes &&
        !programPrefixes->claim(settings.topic, this,
                                baseAddressText(quint32(context().baseAddress)), &holder))
        problem = QStringLiteral("the module at %1 publishes under %2 already")
                      .arg(holder, settings.topic);
    if (!settings.fileProblem.isEmpty()) {
        qDebug().noquote()
            << QStringLiteral("MQTT: bad configuration: %1").arg(settings.fileProblem);
        currentState = MqttState::BadConfiguration;
        error = settings.fileProblem;
    } else if (!problem.isEmpty()) {
        qDebug().noquote() << QStringLiteral("MQTT: bad topic prefix: %1").arg(problem);
        currentState = MqttState::BadPrefix;
        error = problem;
    } else if (endingThread) {
        error = QStringLiteral("waiting for the previous connection attempt to end");
    } else {
        launchWorker();
    }
    emit stateChanged();
}

void MqttPublisher::stop()
{
    apply(MqttSettings());
}

void MqttPublisher::launchWorker()
{
    for (ChannelSchedule &channel : channels)
        channel.reset();
    module.reset();

    thread = new QThread;
    thread->setObjectName(QStringLiteral("mqtt"));
    worker = new MqttWorker;
    worker->moveToThread(thread);
    connect(this, &MqttPublisher::startWorker, worker, &MqttWorker::start, Qt::QueuedConnection);
    connect(this, &MqttPublisher::publishMessage, worker, &MqttWorker::publish,
            Qt::QueuedConnection);
    connect(worker, &MqttWorker::stateChanged, this, &MqttPublisher::workerStateChanged,
            Qt::QueuedConnection);
    connect(worker, &MqttWorker::commandArrived, this, &MqttPublisher::takeCommand,
            Qt::QueuedConnection);
    connect(this, &MqttPublisher::answerMessage, worker, &MqttWorker::answer, Qt::QueuedConnection);
    connect(worker, &MqttWorker::moduleMessageSeen, this, &MqttPublisher::takeModuleMessage,
            Qt::QueuedConnection);
    connect(worker, &MqttWorker::historyRequested, this, &MqttPublisher::takeHistoryRequest,
            Qt::QueuedConnection);
    connect(this, &MqttPublisher::responseMessage, worker, &MqttWorker::respond,
            Qt::QueuedConnection);
    connect(worker, &MqttWorker::offlineSeen, this, &MqttPublisher::otherProgramGone,
            Qt::QueuedConnection);
    // The worker goes with its thread, on that thread, whoever is still there to see it.
    connect(thread, &QThread::finished, worker, &QObject::deleteLater, Qt::DirectConnection);
    connect(thread, &QThread::finished, this, &MqttPublisher::workerEnded, Qt::QueuedConnection);
    thread->start();

    emit startWorker(settings, mqttClientId());
    publishModule(false, 0, nullptr);
}

// Cuts every connection to the worker (a worker blocked in a connect would otherwise collect
// every later message in its queue) and asks it to stop; it ends on its own thread.
void MqttPublisher::retireWorker()
{
    if (!worker)
        return;
    Q_ASSERT(!endingThread);
    worker->stopRequested = true;
    disconnect(this, nullptr, worker, nullptr);
    disconnect(worker, nullptr, this, nullptr);
    // The last touch: once stopped, the worker may delete itself at any moment.
    QMetaObject::invokeMethod(worker, &MqttWorker::stop, Qt::QueuedConnection);
    endingThread = thread;
    worker = nullptr;
    thread = nullptr;
}

void MqttPublisher::publishGroupState(const QString &group, const QJsonObject &state)
{
    send(QStringLiteral("group/") + group, state);
}

void MqttPublisher::workerEnded()
{
    // A stop that waited for the thread has deleted it already; its "finished" may still come.
    if (!endingThread || sender() != endingThread)
        return;
    endingThread->wait();
    delete endingThread;
    endingThread = nullptr;
    if (settings.enabled() && currentState == MqttState::Connecting && !worker) {
        error.clear();
        launchWorker();
        emit stateChanged();
    }
}

void MqttPublisher::followBaseAddress(int oldAddress, int newAddress)
{
    if (!isPublishing() || settings.topic != defaultMqttTopic(oldAddress))
        return;
    MqttSettings moved = settings;
    moved.topic = defaultMqttTopic(newAddress);
    apply(moved);
}

QString MqttPublisher::stateText() const
{
    if (!settings.enabled())
        return QStringLiteral("MQTT: off");
    if (!otherHost.isEmpty())
        return QStringLiteral("MQTT: prefix %1 also used by %2").arg(settings.topic, otherHost);
    if (currentState == MqttState::Connected && allowCommands)
        return QStringLiteral("MQTT: connected, remote commands on");
    return mqttStateText(currentState);
}

void MqttPublisher::setCommandsAllowed(bool allowed)
{
    if (allowed == allowCommands)
        return;
    allowCommands = allowed;
    republishModule();
    emit stateChanged();
}

void MqttPublisher::takeCommand(const QString &subtopic, const QByteArray &payload, bool retained,
                                int connection, qint64 receivedMs)
{
    // A command queued by a worker that has since been stopped came from the old settings.
    if (!worker || sender() != worker)
        return;
    const int channel = subtopic.startsWith(QLatin1Char('b')) ? 1 : 0;
    const quint32 address = session ? session->baseAddress() : quint32(context().baseAddress);
    // Its answer could not reach the client, which may already have sent it again.
    if (connection == 0 || connection != worker->liveConnection) {
        logCommand(QStringLiteral("Remote command: module %1 channel %2: dropped, the connection "
                                  "it came on is lost")
                       .arg(baseAddressText(address))
                       .arg(QChar('A' + channel)),
                   true);
        return;
    }
    const QString group = groupOfCommandTopic(subtopic);
    if (!group.isEmpty()) {
        takeGroupCommandMessage(group, payload, retained, receivedMs);
        return;
    }
    RemoteConditions conditions = commandConditions(retained, receivedMs);
    conditions.channel = channel;
    const RemoteCommand command = parseRemoteCommand(payload);
    RemoteVerdict verdict =
        judgeRemoteCommand(command, conditions, &commandRate, commandClock.elapsed());
    const bool accepted = verdict.error.isEmpty();
    double written = 0;
    if (accepted) {
        if (command.action == RemoteAction::Clear) {
            session->clearEvents(channel);
        } else {
            const CommandOutcome outcome = session->execute(
                remoteCommandWrites(command, verdict, channel, conditions.selection));
            if (!outcome.done) {
                verdict.error = QLatin1String(outcome.refused ? RemoteError::OutOfRange
                                                              : RemoteError::WriteFailed);
                verdict.message = outcome.failure;
            } else {
                verdict.message = outcome.notes.join(QStringLiteral("; "));
                written = writtenValue(command, outcome.written, conditions.selection);
            }
        }
    }
    logCommand(remoteLogLine(address, channel, command, payload, verdict), !accepted);
    emit answerMessage(QLatin1String(channel == 0 ? MqttTopic::ResultA : MqttTopic::ResultB),
                       compactJson(remoteAnswer(command, verdict, written)));
    if (verdict.error.isEmpty()) {
        QString text = QStringLiteral("Remote command: ") +
                       remoteCommandText(command, channel, verdict, written);
        if (!verdict.message.isEmpty())
            text += QStringLiteral("; ") + verdict.message;
        emit remoteCommandTaken(text);
    }
}

RemoteConditions MqttPublisher::commandConditions(bool retained, qint64 receivedMs) const
{
    RemoteConditions conditions;
    conditions.allowed = allowCommands && session;
    conditions.retained = retained;
    conditions.conflictHost = otherHost;
    conditions.wallClockMs = QDateTime::currentMSecsSinceEpoch();
    conditions.maxAgeMs = commandMaxAgeMs;
    if (session) {
        conditions.freshness = session->commandFreshness(receivedMs);
        conditions.selection = session->selection();
        conditions.ceilings = session->voltageCeilings();
        if (const Reading *newest = session->lastReading())
            conditions.serialNumber = newest->serialNumber;
    }
    return conditions;
}

void MqttPublisher::takeGroupCommandMessage(const QString &group, const QByteArray &payload,
                                            bool retained, qint64 receivedMs)
{
    const RemoteConditions conditions = commandConditions(retained, receivedMs);
    const GroupAction refuseAll = [](const QString &name, const QString &) {
        return RemoteVerdict{QLatin1String(RemoteError::Invalid),
                             QStringLiteral("there is no group %1").arg(name), CheckedEntry()};
    };
    const GroupCommandResult result =
        takeGroupCommand(group, payload, conditions, &commandRate, commandClock.elapsed(),
                         groupAction ? groupAction : refuseAll);
    logCommand(result.logLine, result.refused);
    emit answerMessage(groupResultTopic(group), compactJson(result.answer));
    if (!result.refused)
        emit remoteCommandTaken(result.takenText);
}

void MqttPublisher::logCommand(const QString &line, bool refused)
{
    if (refused && !refusalLines.take(commandClock.elapsed())) {
        ++hiddenRefusals;
        if (!hiddenRefusalReport->isActive())
            hiddenRefusalReport->start();
        return;
    }
    qDebug().noquote() << line;
}

void MqttPublisher::reportHiddenRefusals()
{
    if (hiddenRefusals == 0)
        return;
    const quint32 address = session ? session->baseAddress() : quint32(context().baseAddress);
    qDebug().noquote() << QStringLiteral("Remote command: module %1: %2 more refused commands not "
                                         "shown")
                              .arg(baseAddressText(address))
                              .arg(hiddenRefusals);
    hiddenRefusals = 0;
    hiddenRefusalReport->start();
}

// Another program's description under this prefix: both would take every command, so neither
// takes any until one is gone. Its host is shown, and this module's description is sent again
// so that the other program learns of this one as well.
void MqttPublisher::takeModuleMessage(const QByteArray &payload)
{
    if (!worker || sender() != worker)
        return;
    const QJsonObject description = QJsonDocument::fromJson(payload).object();
    const QString instance = description.value(QLatin1String("instance")).toString();
    if (instance == context().instance)
        return;
    QString host = description.value(QLatin1String("host")).toString();
    if (host.isEmpty())
        host = QStringLiteral("another program");
    const bool news = instance != otherInstance || otherHost.isEmpty();
    otherHost = escapedForLog(host.left(64));
    otherInstance = instance;
    if (!moduleMessage.isEmpty() &&
        (!sinceModuleResent.isValid() || sinceModuleResent.elapsed() >= ModuleResendMs)) {
        sinceModuleResent.start();
        emit publishMessage(QLatin1String(ModuleTopic), moduleMessage);
    }
    if (news)
        emit stateChanged();
}

void MqttPublisher::otherProgramGone()
{
    if (!worker || sender() != worker || otherHost.isEmpty())
        return;
    otherHost.clear();
    otherInstance.clear();
    emit stateChanged();
}

void MqttPublisher::takeReading(const Reading &reading)
{
    if (!worker)
        return;
    publishModule(true, reading.serialNumber, &reading);
    for (int ch = 0; ch < 2; ++ch) {
        QJsonObject message;
        if (channels[ch].takeReading(reading, session ? session->eventLatch() : 0, &message))
            send(QLatin1String(ChannelTopics[ch]), message);
    }
}

void MqttPublisher::readingsStale()
{
    if (!worker)
        return;
    publishModule(false, 0, nullptr);
    for (int ch = 0; ch < 2; ++ch) {
        QJsonObject message;
        if (channels[ch].takeStale(&message))
            send(QLatin1String(ChannelTopics[ch]), message);
    }
}

void MqttPublisher::workerStateChanged(int state, const QString &newError)
{
    // A state queued by a worker that has since been stopped is no longer the panel's.
    if (!worker || sender() != worker)
        return;
    currentState = MqttState(state);
    if (!newError.isEmpty() || currentState == MqttState::Connected)
        error = newError;
    // A program seen on an earlier connection shows itself again on this one, if still there.
    if (currentState == MqttState::Connected) {
        otherHost.clear();
        otherInstance.clear();
    }
    emit stateChanged();
}

void MqttPublisher::publishModule(bool hasModule, quint16 serialNumber, const Reading *reading)
{
    ModuleContext now = context();
    if (reading) {
        now.fineVoltage = reading->fineVoltage;
        now.currentResolution = reading->currentResolution;
        now.secondRange = reading->secondRange;
    }
    describedModule = hasModule;
    describedSerial = serialNumber;
    describedReading = reading != nullptr;
    if (reading)
        describedTick = *reading;
    QJsonObject description = modulePayload(now, hasModule, serialNumber);
    description.insert(QStringLiteral("commands"), allowCommands);
    if (module.take(description)) {
        moduleMessage = compactJson(description);
        emit publishMessage(QLatin1String(ModuleTopic), moduleMessage);
    }
}

void MqttPublisher::republishModule()
{
    if (worker)
        publishModule(describedModule, describedSerial,
                      describedReading ? &describedTick : nullptr);
}

void MqttPublisher::takeHistoryRequest(const QByteArray &payload, const QByteArray &responseTopic,
                                       const QByteArray &correlation)
{
    if (!worker || sender() != worker)
        return;
    if (responseTopic.isEmpty()) {
        const quint32 address = session ? session->baseAddress() : quint32(context().baseAddress);
        logCommand(QStringLiteral("History request: module %1: no response topic, not answered")
                       .arg(baseAddressText(address)),
                   true);
        return;
    }
    QJsonObject answer;
    HistoryRequest request;
    const QString problem = parseHistoryRequest(payload, &request);
    if (!historyRate.take(commandClock.elapsed()))
        answer = historyRefusal(
            QStringLiteral("busy"),
            QStringLiteral("more than %1 requests a second").arg(CommandRate::PerSecond));
    else if (!problem.isEmpty())
        answer = historyRefusal(QStringLiteral("invalid"), problem);
    else if (!trend)
        answer = historyRefusal(QStringLiteral("no_history"), QString());
    else
        answer = historyAnswer(trend->samples(), request, QDateTime::currentMSecsSinceEpoch());
    emit responseMessage(responseTopic, correlation, compactJson(answer));
}

void MqttPublisher::send(const QString &subtopic, const QJsonObject &payload)
{
    emit publishMessage(subtopic, compactJson(payload));
}

} // namespace Brelk
