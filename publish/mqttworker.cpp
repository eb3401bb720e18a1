#include "mqttworker.h"

#include "freshness.h"
#include "groupcommand.h"
#include "mosquittosetup.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <QDebug>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstdlib>

namespace Brelk {

namespace {

const char *const StatusTopic = MqttTopic::Status;
const char *const ModuleTopic = MqttTopic::Module;
const char *const Online = "online";
const char *const Offline = "offline";
const char *const CommandTopics[2] = {MqttTopic::CommandA, MqttTopic::CommandB};
const char *const HistoryTopic = MqttTopic::HistoryGet;
// The longest topic MQTT allows, in bytes.
const int LongestTopic = 65535;
// The command topics of every channel group whose first channel is on the module.
const char *const GroupCommandTopics = "group/+/set";
// The network loop runs this often while a session is open: it reads acknowledgements and keeps
// the connection alive; publishing itself writes at once.
const int LoopIntervalMs = 100;

} // namespace

QString mqttStateText(MqttState state)
{
    switch (state) {
    case MqttState::Connecting:
        return QStringLiteral("MQTT: connecting");
    case MqttState::Connected:
        return QStringLiteral("MQTT: connected");
    case MqttState::BadPrefix:
        return QStringLiteral("MQTT: bad topic prefix");
    case MqttState::BadConfiguration:
        return QStringLiteral("MQTT: bad configuration");
    case MqttState::Retrying:
        break;
    }
    return QStringLiteral("MQTT: no broker (retrying)");
}

MqttWorker::MqttWorker()
{
    initMosquittoLibrary();
}

MqttWorker::~MqttWorker()
{
    closeSession();
}

void MqttWorker::start(const MqttSettings &newSettings, const QString &newClientId)
{
    settings = newSettings;
    clientId = newClientId;
    loopTimer = new QTimer(this);
    loopTimer->setInterval(LoopIntervalMs);
    connect(loopTimer, &QTimer::timeout, this, &MqttWorker::loopOnce);
    retryTimer = new QTimer(this);
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, &MqttWorker::attempt);
    attempt();
}

void MqttWorker::publish(const QString &subtopic, const QByteArray &payload)
{
    retained.insert(subtopic, payload);
    if (state == MqttState::Connected && !send(subtopic, payload))
        dropSession(failure);
}

void MqttWorker::answer(const QString &subtopic, const QByteArray &payload)
{
    if (state == MqttState::Connected && !send(subtopic, payload, nullptr, false))
        dropSession(failure);
}

void MqttWorker::respond(const QByteArray &responseTopic, const QByteArray &correlation,
                         const QByteArray &payload)
{
    if (state != MqttState::Connected)
        return;
    mosquitto_property *properties = nullptr;
    int code = MOSQ_ERR_SUCCESS;
    if (!correlation.isEmpty())
        code = mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA,
                                             correlation.constData(), quint16(correlation.size()));
    if (code == MOSQ_ERR_SUCCESS)
        code = mosquitto_publish_v5(client, nullptr, responseTopic.constData(), int(payload.size()),
                                    payload.constData(), 1, false, properties);
    mosquitto_property_free_all(&properties);
    if (code != MOSQ_ERR_SUCCESS)
        qDebug().noquote() << QStringLiteral("MQTT: the history answer on %1 is refused: %2")
                                  .arg(QString::fromUtf8(responseTopic.left(200)),
                                       mosquittoFailureText(code, errno));
}

void MqttWorker::stop()
{
    stopping = true;
    if (retryTimer)
        retryTimer->stop();
    if (loopTimer)
        loopTimer->stop();
    if (client && state == MqttState::Connected) {
        int messageId = -1;
        if (send(QLatin1String(StatusTopic), QByteArray(Offline), &messageId)) {
            QElapsedTimer waited;
            waited.start();
            while (ackedMessageId != messageId && waited.elapsed() < OfflineAckMs) {
                if (mosquitto_loop(client, 50, 1) != MOSQ_ERR_SUCCESS)
                    break;
            }
        }
        mosquitto_disconnect(client);
    }
    closeSession();
    thread()->quit();
}

void MqttWorker::attempt()
{
    if (stopping || stopRequested)
        return;
    closeSession();
    setState(MqttState::Connecting, QString());
    failure.clear();
    connackSeen = false;
    // Settings that the library refuses would be refused again: no retry until new settings.
    const auto refuse = [this](const QString &reason) {
        closeSession();
        if (stopping || stopRequested)
            return;
        debugMqtt(settings, QStringLiteral("%1; a bad configuration, not tried again").arg(reason));
        setState(MqttState::BadConfiguration, reason);
    };

    QString problem;
    client = newMqtt5Client(clientId, this, &problem);
    if (!client) {
        dropSession(problem);
        return;
    }
    mosquitto_connect_callback_set(client, &MqttWorker::onConnect);
    mosquitto_disconnect_callback_set(client, &MqttWorker::onDisconnect);
    mosquitto_publish_callback_set(client, &MqttWorker::onPublish);
    mosquitto_message_v5_callback_set(client, &MqttWorker::onMessage);

    const QByteArray willTopic =
        (settings.topic + QLatin1Char('/') + QLatin1String(StatusTopic)).toUtf8();
    int code =
        mosquitto_will_set(client, willTopic.constData(), int(qstrlen(Offline)), Offline, 1, true);
    if (code != MOSQ_ERR_SUCCESS) {
        refuse(QStringLiteral("the last will on %1 is refused: %2")
                   .arg(QString::fromUtf8(willTopic), mosquittoFailureText(code, errno)));
        return;
    }
    const QString accountProblem = applyMqttAccount(client, settings, &failure);
    if (!accountProblem.isEmpty()) {
        refuse(accountProblem);
        return;
    }

    // Blocks while the host name resolves and the socket connects.
    errno = 0;
    code = mosquitto_connect(client, settings.host.toUtf8().constData(), settings.port,
                             KeepAliveSeconds);
    const int savedErrno = errno;
    if (stopRequested) {
        closeSession();
        return;
    }
    if (code != MOSQ_ERR_SUCCESS) {
        // A handshake that failed at once has said why (see noteTlsAlert).
        dropSession(failure.isEmpty() ? mosquittoFailureText(code, savedErrno) : failure);
        return;
    }
    sinceConnect.start();
    incoming = watchMqttSocket(client, loopTimer, this, [this] { loopOnce(); });
}

void MqttWorker::loopOnce()
{
    if (!client)
        return;
    const int code = mosquitto_loop(client, 0, 1);
    if (!failure.isEmpty()) {
        dropSession(failure);
    } else if (code != MOSQ_ERR_SUCCESS) {
        dropSession(mosquittoFailureText(code, errno));
    } else if (!connackSeen && sinceConnect.elapsed() > KeepAliveSeconds * 1000) {
        dropSession(QStringLiteral("the broker does not answer"));
    }
}

void MqttWorker::onConnect(mosquitto *client, void *object, int code)
{
    auto *worker = static_cast<MqttWorker *>(object);
    worker->connackSeen = true;
    if (code != 0) {
        worker->failure = mosquittoConnackText(code);
        return;
    }
    // Connected only once the broker has taken every message; a refusal is acted upon when the
    // loop has returned.
    if (!worker->send(QLatin1String(StatusTopic), QByteArray(Online)))
        return;
    for (auto it = worker->retained.cbegin(); it != worker->retained.cend(); ++it) {
        if (!worker->send(it.key(), it.value()))
            return;
    }
    // A clean session forgets subscriptions, so every connection asks again. The module and
    // status topics show another program that publishes under the same prefix; the own
    // messages above are the broker's retained ones by the time these subscriptions are served.
    // Retained as published: a retained command published while the panel is subscribed still
    // arrives flagged as retained (MQTT 3.1.1 would clear the flag on live delivery).
    for (const char *watched :
         {CommandTopics[0], CommandTopics[1], GroupCommandTopics, ModuleTopic, StatusTopic}) {
        const QByteArray topic =
            (worker->settings.topic + QLatin1Char('/') + QLatin1String(watched)).toUtf8();
        const int code = mosquitto_subscribe_v5(client, nullptr, topic.constData(), 1,
                                                MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
        if (code != MOSQ_ERR_SUCCESS) {
            worker->failure = QStringLiteral("subscribing to %1 is refused: %2")
                                  .arg(QString::fromUtf8(topic), mosquittoFailureText(code, errno));
            return;
        }
    }
    // A prefix that leaves no room for it goes without history requests, not without a
    // connection.
    const QByteArray historyTopic =
        (worker->settings.topic + QLatin1Char('/') + QLatin1String(HistoryTopic)).toUtf8();
    if (historyTopic.size() <= LongestTopic) {
        const int code =
            mosquitto_subscribe_v5(client, nullptr, historyTopic.constData(), 1, 0, nullptr);
        if (code != MOSQ_ERR_SUCCESS) {
            worker->failure =
                QStringLiteral("subscribing to %1 is refused: %2")
                    .arg(QString::fromUtf8(historyTopic), mosquittoFailureText(code, errno));
            return;
        }
    }
    worker->backoff.reset();
    worker->liveConnection = ++worker->connections;
    worker->setState(MqttState::Connected, QString());
}

void MqttWorker::onDisconnect(mosquitto *, void *object, int code)
{
    auto *worker = static_cast<MqttWorker *>(object);
    if (!worker->stopping && worker->failure.isEmpty())
        worker->failure =
            QStringLiteral("connection lost: %1").arg(mosquittoFailureText(code, errno));
}

void MqttWorker::onPublish(mosquitto *, void *object, int messageId)
{
    static_cast<MqttWorker *>(object)->ackedMessageId = messageId;
}

void MqttWorker::onMessage(mosquitto *, void *object, const mosquitto_message *message,
                           const mosquitto_property *properties)
{
    auto *worker = static_cast<MqttWorker *>(object);
    const qint64 receivedMs = monotonicMs();
    const QString topic = QString::fromUtf8(message->topic);
    const QString prefix = worker->settings.topic + QLatin1Char('/');
    if (!topic.startsWith(prefix))
        return;
    const QString subtopic = topic.mid(prefix.size());
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    const bool command = subtopic == QLatin1String(CommandTopics[0]) ||
                         subtopic == QLatin1String(CommandTopics[1]) ||
                         !groupOfCommandTopic(subtopic).isEmpty();
    if (command)
        emit worker->commandArrived(subtopic, payload, message->retain, worker->liveConnection,
                                    receivedMs);
    if (subtopic == QLatin1String(HistoryTopic)) {
        // Retained, it was asked before this connection by someone who may be gone.
        if (message->retain)
            return;
        char *responseTopic = nullptr;
        void *correlation = nullptr;
        uint16_t correlationLength = 0;
        mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false);
        mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation,
                                       &correlationLength, false);
        emit worker->historyRequested(
            payload, QByteArray(responseTopic),
            QByteArray(static_cast<const char *>(correlation), correlationLength));
        free(responseTopic);
        free(correlation);
    } else if (subtopic == QLatin1String(ModuleTopic)) {
        emit worker->moduleMessageSeen(payload);
    } else if (subtopic == QLatin1String(StatusTopic) && payload == Offline &&
               worker->state == MqttState::Connected && !worker->stopping &&
               !worker->stopRequested) {
        // The other program's last will or its stop took the prefix's status with it.
        worker->send(QLatin1String(StatusTopic), QByteArray(Online));
        const auto description = worker->retained.constFind(QLatin1String(ModuleTopic));
        if (description != worker->retained.cend())
            worker->send(description.key(), description.value());
        emit worker->offlineSeen();
    }
}

void MqttWorker::dropSession(const QString &reason)
{
    closeSession();
    if (stopping || stopRequested)
        return;
    const int delay = backoff.nextDelayMs();
    debugMqtt(settings, QStringLiteral("%1; retrying in %2 s").arg(reason).arg(delay / 1000));
    setState(MqttState::Retrying, reason);
    retryTimer->start(delay);
}

void MqttWorker::closeSession()
{
    liveConnection = 0;
    closeMqttClient(&client, &incoming, loopTimer);
    if (state == MqttState::Connected)
        state = MqttState::Retrying;
}

void MqttWorker::setState(MqttState newState, const QString &error)
{
    state = newState;
    if (!stopRequested)
        emit stateChanged(int(newState), error);
}

bool MqttWorker::send(const QString &subtopic, const QByteArray &payload, int *messageId,
                      bool retain)
{
    const QByteArray topic = (settings.topic + QLatin1Char('/') + subtopic).toUtf8();
    const int code = mosquitto_publish(client, messageId, topic.constData(), int(payload.size()),
                                       payload.constData(), 1, retain);
    if (code == MOSQ_ERR_SUCCESS)
        return true;
    if (failure.isEmpty()) {
        failure = QStringLiteral("publishing on %1 is refused: %2")
                      .arg(QString::fromUtf8(topic), mosquittoFailureText(code, errno));
    }
    return false;
}

} // namespace Brelk
