#include "mqttpublisher.h"

#include "bridge.h"
#include "modulesession.h"
#include "settings.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QThread>

namespace Brelk {

namespace {

const char *const ChannelTopics[2] = {MqttTopic::ChannelA, MqttTopic::ChannelB};
const char *const ModuleTopic = MqttTopic::Module;

} // namespace

std::function<ModuleContext()> sessionContext(const Bridge *bridge, const ModuleSession *session)
{
    return [bridge, session] {
        const ResolutionSelection options = session->selection();
        return ModuleContext{bridge->name(), int(session->baseAddress()), options.fineVoltage,
                             options.currentResolution, options.secondRange};
    };
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
}

// Quit: the only stop that waits, so that "offline" reaches the broker. A worker still blocked
// after that is left behind; it deletes itself and its thread when its blocking call returns.
MqttPublisher::~MqttPublisher()
{
    retireWorker();
    if (!endingThread)
        return;
    disconnect(endingThread, nullptr, this, nullptr);
    if (endingThread->wait(StopWaitMs)) {
        delete endingThread;
        return;
    }
    qDebug().noquote() << QStringLiteral("MQTT: %1:%2: leaving the connection attempt behind")
                              .arg(settings.host)
                              .arg(settings.port);
    connect(endingThread, &QThread::finished, endingThread, &QObject::deleteLater);
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
    currentState = MqttState::Connecting;
    if (!settings.enabled()) {
        emit stateChanged();
        return;
    }
    const QString problem = mqttTopicProblem(settings.topic);
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

void MqttPublisher::workerEnded()
{
    if (sender() != endingThread)
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
    if (currentState == MqttState::Connected && allowCommands)
        return QStringLiteral("MQTT: connected, remote commands on");
    return mqttStateText(currentState);
}

void MqttPublisher::setCommandsAllowed(bool allowed)
{
    if (allowed == allowCommands)
        return;
    allowCommands = allowed;
    emit stateChanged();
}

void MqttPublisher::takeCommand(const QString &subtopic, const QByteArray &payload, bool retained)
{
    // A command queued by a worker that has since been stopped came from the old settings.
    if (!worker || sender() != worker)
        return;
    const int channel = subtopic.startsWith(QLatin1Char('b')) ? 1 : 0;
    RemoteConditions conditions;
    conditions.allowed = allowCommands && session;
    conditions.retained = retained;
    if (session) {
        conditions.stale = session->isStale() || !session->lastReading();
        conditions.selection = session->selection();
    }
    const RemoteCommand command = parseRemoteCommand(payload);
    const RemoteVerdict verdict =
        judgeRemoteCommand(command, conditions, &commandRate, commandClock.elapsed());
    double written = 0;
    if (verdict.error.isEmpty()) {
        const WriteList writes = remoteCommandWrites(command, verdict, channel,
                                                     conditions.selection, session->lastReading());
        if (command.action == RemoteAction::Clear)
            session->clearEvents(channel);
        else
            session->execute(writes);
        written = writtenValue(command, writes, conditions.selection);
    }
    qDebug().noquote() << remoteLogLine(session ? session->baseAddress()
                                                : quint32(context().baseAddress),
                                        channel, command, payload, verdict);
    emit answerMessage(QLatin1String(ChannelTopics[channel]) + QStringLiteral("/result"),
                       compactJson(remoteAnswer(command, verdict, written)));
    if (verdict.error.isEmpty())
        emit remoteCommandTaken(QStringLiteral("Remote command: ") +
                                remoteCommandText(command, channel, verdict, written));
}

void MqttPublisher::takeReading(const Reading &reading)
{
    if (!worker)
        return;
    publishModule(true, reading.serialNumber, &reading);
    for (int ch = 0; ch < 2; ++ch) {
        QJsonObject message;
        if (channels[ch].takeReading(reading, &message))
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
    const QJsonObject description = modulePayload(now, hasModule, serialNumber);
    if (module.take(description))
        send(QLatin1String(ModuleTopic), description);
}

void MqttPublisher::send(const QString &subtopic, const QJsonObject &payload)
{
    emit publishMessage(subtopic, compactJson(payload));
}

} // namespace Brelk
