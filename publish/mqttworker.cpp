#include "mqttworker.h"

#include <mosquitto.h>

#include <QDebug>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace Brelk {

namespace {

const char *const StatusTopic = "status";
const char *const Online = "online";
const char *const Offline = "offline";
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
    mosquitto_connect_callback_set(client, &MqttWorker::onConnect);
    mosquitto_disconnect_callback_set(client, &MqttWorker::onDisconnect);
    mosquitto_publish_callback_set(client, &MqttWorker::onPublish);

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

void MqttWorker::onConnect(mosquitto *, void *object, int code)
{
    auto *worker = static_cast<MqttWorker *>(object);
    worker->connackSeen = true;
    if (code != 0) {
        worker->failure = QString::fromUtf8(mosquitto_connack_string(code));
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
    worker->backoff.reset();
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
    if (loopTimer)
        loopTimer->stop();
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

bool MqttWorker::send(const QString &subtopic, const QByteArray &payload, int *messageId)
{
    const QByteArray topic = (settings.topic + QLatin1Char('/') + subtopic).toUtf8();
    const int code = mosquitto_publish(client, messageId, topic.constData(), int(payload.size()),
                                       payload.constData(), 1, true);
    if (code == MOSQ_ERR_SUCCESS)
        return true;
    if (failure.isEmpty()) {
        failure = QStringLiteral("publishing on %1 is refused: %2")
                      .arg(QString::fromUtf8(topic), failureText(code, errno));
    }
    return false;
}

} // namespace Brelk
