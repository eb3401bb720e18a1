#include "mqttworker.h"

#include "freshness.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <QDebug>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace Brelk {

namespace {

const char *const StatusTopic = "status";
const char *const ModuleTopic = "module";
const char *const Online = "online";
const char *const Offline = "offline";
const char *const CommandTopics[2] = {"a/set", "b/set"};
// The network loop runs this often while a session is open: it reads acknowledgements and keeps
// the connection alive; publishing itself writes at once.
const int LoopIntervalMs = 100;

// MOSQ_ERR_SUCCESS, or why the library could not be set up.
int initLibrary()
{
    static std::once_flag once;
    static int code = MOSQ_ERR_SUCCESS;
    std::call_once(once, [] { code = mosquitto_lib_init(); });
    return code;
}

// Why a libmosquitto call failed, in words an operator can act on.
QString failureText(int code, int savedErrno)
{
    switch (code) {
    case MOSQ_ERR_ERRNO:
        return QString::fromLocal8Bit(std::strerror(savedErrno));
    case MOSQ_ERR_EAI:
        return QStringLiteral("unknown host");
    case MOSQ_ERR_TLS:
        return QStringLiteral("TLS failure");
    case MOSQ_ERR_TLS_HANDSHAKE:
        return QStringLiteral("TLS handshake failed");
    default:
        return QString::fromUtf8(mosquitto_strerror(code));
    }
}

// Why the broker refused the connection. MQTT 5 reason codes, in the words of the 3.1.1 return
// codes where there is one, so that a refusal reads the same whatever the broker speaks.
QString connackText(int code)
{
    switch (code) {
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
        return QString::fromUtf8(mosquitto_connack_string(CONNACK_REFUSED_PROTOCOL_VERSION));
    case MQTT_RC_CLIENTID_NOT_VALID:
        return QString::fromUtf8(mosquitto_connack_string(CONNACK_REFUSED_IDENTIFIER_REJECTED));
    case MQTT_RC_SERVER_UNAVAILABLE:
        return QString::fromUtf8(mosquitto_connack_string(CONNACK_REFUSED_SERVER_UNAVAILABLE));
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
        return QString::fromUtf8(mosquitto_connack_string(CONNACK_REFUSED_BAD_USERNAME_PASSWORD));
    case MQTT_RC_NOT_AUTHORIZED:
        return QString::fromUtf8(mosquitto_connack_string(CONNACK_REFUSED_NOT_AUTHORIZED));
    default:
        break;
    }
    return code < 128 ? QString::fromUtf8(mosquitto_connack_string(code))
                      : QStringLiteral("Connection Refused: %1")
                            .arg(QString::fromUtf8(mosquitto_reason_string(code)));
}

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
    case MqttState::Retrying:
        break;
    }
    return QStringLiteral("MQTT: no broker (retrying)");
}

MqttWorker::MqttWorker()
{
    initLibrary();
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

    const int initCode = initLibrary();
    if (initCode != MOSQ_ERR_SUCCESS) {
        dropSession(QStringLiteral("could not set up the MQTT library: %1")
                        .arg(failureText(initCode, errno)));
        return;
    }
    client = mosquitto_new(clientId.toUtf8().constData(), true, this);
    if (!client) {
        dropSession(QStringLiteral("could not create the client: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    // MQTT 5, so that a retained command published while the panel is subscribed still arrives
    // flagged as retained (version 3.1.1 clears the flag on live delivery).
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // An answer follows the acknowledgement of its command at once; without this the kernel
    // holds it back until the broker acknowledges the first (tens of milliseconds).
    mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(client, &MqttWorker::onConnect);
    mosquitto_disconnect_callback_set(client, &MqttWorker::onDisconnect);
    mosquitto_publish_callback_set(client, &MqttWorker::onPublish);
    mosquitto_message_callback_set(client, &MqttWorker::onMessage);

    const QByteArray willTopic =
        (settings.topic + QLatin1Char('/') + QLatin1String(StatusTopic)).toUtf8();
    int code =
        mosquitto_will_set(client, willTopic.constData(), int(qstrlen(Offline)), Offline, 1, true);
    if (code != MOSQ_ERR_SUCCESS) {
        dropSession(QStringLiteral("the last will on %1 is refused: %2")
                        .arg(QString::fromUtf8(willTopic), failureText(code, errno)));
        return;
    }
    if (!settings.user.isEmpty()) {
        const QByteArray user = settings.user.toUtf8();
        const QByteArray password = settings.password.toUtf8();
        code = mosquitto_username_pw_set(client, user.constData(),
                                         password.isEmpty() ? nullptr : password.constData());
        if (code != MOSQ_ERR_SUCCESS) {
            dropSession(QStringLiteral("the user name or password is refused: %1")
                            .arg(failureText(code, errno)));
            return;
        }
    }
    if (!settings.caFile.isEmpty()) {
        code = mosquitto_tls_set(client, settings.caFile.toLocal8Bit().constData(), nullptr,
                                 nullptr, nullptr, nullptr);
        if (code != MOSQ_ERR_SUCCESS) {
            dropSession(QStringLiteral("TLS: cannot use the CA file %1: %2")
                            .arg(settings.caFile, failureText(code, errno)));
            return;
        }
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
        dropSession(failureText(code, savedErrno));
        return;
    }
    sinceConnect.start();
    loopTimer->start();
    const int socket = mosquitto_socket(client);
    if (socket >= 0) {
        incoming = new QSocketNotifier(socket, QSocketNotifier::Read, this);
        connect(incoming, &QSocketNotifier::activated, this, &MqttWorker::loopOnce);
    }
}

void MqttWorker::loopOnce()
{
    if (!client)
        return;
    const int code = mosquitto_loop(client, 0, 1);
    if (!failure.isEmpty()) {
        dropSession(failure);
    } else if (code != MOSQ_ERR_SUCCESS) {
        dropSession(failureText(code, errno));
    } else if (!connackSeen && sinceConnect.elapsed() > KeepAliveSeconds * 1000) {
        dropSession(QStringLiteral("the broker does not answer"));
    }
}

void MqttWorker::onConnect(mosquitto *client, void *object, int code)
{
    auto *worker = static_cast<MqttWorker *>(object);
    worker->connackSeen = true;
    if (code != 0) {
        worker->failure = connackText(code);
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
    for (const char *watched : {CommandTopics[0], CommandTopics[1], ModuleTopic, StatusTopic}) {
        const QByteArray topic =
            (worker->settings.topic + QLatin1Char('/') + QLatin1String(watched)).toUtf8();
        const int code = mosquitto_subscribe_v5(client, nullptr, topic.constData(), 1,
                                                MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
        if (code != MOSQ_ERR_SUCCESS) {
            worker->failure = QStringLiteral("subscribing to %1 is refused: %2")
                                  .arg(QString::fromUtf8(topic), failureText(code, errno));
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
        worker->failure = QStringLiteral("connection lost: %1").arg(failureText(code, errno));
}

void MqttWorker::onPublish(mosquitto *, void *object, int messageId)
{
    static_cast<MqttWorker *>(object)->ackedMessageId = messageId;
}

void MqttWorker::onMessage(mosquitto *, void *object, const mosquitto_message *message)
{
    auto *worker = static_cast<MqttWorker *>(object);
    const qint64 receivedMs = monotonicMs();
    const QString topic = QString::fromUtf8(message->topic);
    const QString prefix = worker->settings.topic + QLatin1Char('/');
    if (!topic.startsWith(prefix))
        return;
    const QString subtopic = topic.mid(prefix.size());
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    for (const char *command : CommandTopics) {
        if (subtopic == QLatin1String(command)) {
            emit worker->commandArrived(subtopic, payload, message->retain, worker->liveConnection,
                                        receivedMs);
        }
    }
    if (subtopic == QLatin1String(ModuleTopic)) {
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
    qDebug().noquote() << QStringLiteral("MQTT: %1:%2: %3; retrying in %4 s")
                              .arg(settings.host)
                              .arg(settings.port)
                              .arg(reason)
                              .arg(delay / 1000);
    setState(MqttState::Retrying, reason);
    retryTimer->start(delay);
}

void MqttWorker::closeSession()
{
    liveConnection = 0;
    if (loopTimer)
        loopTimer->stop();
    if (incoming) {
        // Possibly called from the notifier's own signal.
        incoming->setEnabled(false);
        incoming->deleteLater();
        incoming = nullptr;
    }
    if (client) {
        mosquitto_destroy(client);
        client = nullptr;
    }
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
                      .arg(QString::fromUtf8(topic), failureText(code, errno));
    }
    return false;
}

} // namespace Brelk
