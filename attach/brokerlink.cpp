#include "brokerlink.h"

#include "mosquittosetup.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <QMutexLocker>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#endif

namespace Brelk {

namespace {

// The network loop runs this often while a session is open: it sends what the socket could not
// take at once and keeps the connection alive.
const int LoopIntervalMs = 100;
const int KeepAliveSeconds = 10;
// At most this many further packets are read at one wake-up, so that the loop's own timers and
// the stop request are never starved.
const int MaxPacketsPerWake = 512;

// Whether the socket holds bytes not read yet; where that cannot be asked, none.
bool bytesWaiting(int socket)
{
#ifdef Q_OS_UNIX
    int waiting = 0;
    return socket >= 0 && ioctl(socket, FIONREAD, &waiting) == 0 && waiting > 0;
#else
    Q_UNUSED(socket);
    return false;
#endif
}

} // namespace

BrokerLink::BrokerLink(std::shared_ptr<BrokerShared> shared) : shared(std::move(shared))
{
    initMosquittoLibrary();
}

BrokerLink::~BrokerLink()
{
    closeSession();
}

void BrokerLink::start(const MqttSettings &newSettings, const QString &newClientId)
{
    settings = newSettings;
    clientId = newClientId;
    loopTimer = new QTimer(this);
    loopTimer->setInterval(LoopIntervalMs);
    connect(loopTimer, &QTimer::timeout, this, &BrokerLink::loopOnce);
    retryTimer = new QTimer(this);
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, &BrokerLink::attempt);
    attempt();
}

void BrokerLink::stop()
{
    stopping = true;
    if (retryTimer)
        retryTimer->stop();
    {
        QMutexLocker lock(&shared->mutex);
        // The broker then drops the session without further ado.
        if (client && shared->connected)
            mosquitto_disconnect(client);
    }
    closeSession();
    thread()->quit();
}

void BrokerLink::attempt()
{
    if (stopping || stopRequested)
        return;
    closeSession();
    failure.clear();
    connackSeen = false;

    QString problem;
    client = newMqtt5Client(clientId, this, &problem);
    if (!client) {
        dropSession(problem);
        return;
    }
    mosquitto_connect_callback_set(client, &BrokerLink::onConnect);
    mosquitto_disconnect_callback_set(client, &BrokerLink::onDisconnect);
    mosquitto_publish_v5_callback_set(client, &BrokerLink::onPublish);
    mosquitto_message_v5_callback_set(client, &BrokerLink::onMessage);

    const QString accountProblem = applyMqttAccount(client, settings, &failure);
    if (!accountProblem.isEmpty()) {
        // Settings that the library refuses would be refused again: no retry until new ones.
        closeSession();
        debugMqtt(settings,
                  QStringLiteral("%1; a bad configuration, not tried again").arg(accountProblem));
        emit connectedChanged(false, accountProblem);
        return;
    }

    // Blocks while the host name resolves and the socket connects; the owner does not touch the
    // client meanwhile, as it is not connected.
    errno = 0;
    const int code = mosquitto_connect(client, settings.host.toUtf8().constData(), settings.port,
                                       KeepAliveSeconds);
    const int savedErrno = errno;
    if (stopRequested) {
        closeSession();
        return;
    }
    if (code != MOSQ_ERR_SUCCESS) {
        dropSession(failure.isEmpty() ? mosquittoFailureText(code, savedErrno) : failure);
        return;
    }
    sinceConnect.start();
    incoming = watchMqttSocket(client, loopTimer, this, [this] { loopOnce(); });
}

void BrokerLink::loopOnce()
{
    if (!client)
        return;
    int code;
    {
        QMutexLocker lock(&shared->mutex);
        code = mosquitto_loop(client, 0, 1);
        // The library reads one packet per call: 320 readings a second would be 320 wake-ups
        // of this thread, each with its own select. What has arrived meanwhile is read now.
        const int socket = mosquitto_socket(client);
        for (int packets = 0; code == MOSQ_ERR_SUCCESS && failure.isEmpty() &&
                              packets < MaxPacketsPerWake && bytesWaiting(socket);
             ++packets)
            code = mosquitto_loop_read(client, 1);
    }
    if (!failure.isEmpty())
        dropSession(failure);
    else if (code != MOSQ_ERR_SUCCESS)
        dropSession(mosquittoFailureText(code, errno));
    else if (!connackSeen && sinceConnect.elapsed() > KeepAliveSeconds * 1000)
        dropSession(QStringLiteral("the broker does not answer"));
}

// The callbacks run inside mosquitto_loop(), with the shared mutex held.
void BrokerLink::onConnect(mosquitto *client, void *object, int code)
{
    auto *link = static_cast<BrokerLink *>(object);
    link->connackSeen = true;
    if (code != 0) {
        link->failure = mosquittoConnackText(code);
        return;
    }
    BrokerShared &shared = *link->shared;
    // A clean start forgets subscriptions, so every connection asks again.
    for (const QString &filter : std::as_const(shared.filters)) {
        const QByteArray bytes = filter.toUtf8();
        const int subscribed = mosquitto_subscribe_v5(client, nullptr, bytes.constData(),
                                                      shared.qualityOf(filter), 0, nullptr);
        if (subscribed != MOSQ_ERR_SUCCESS) {
            link->failure = QStringLiteral("subscribing to %1 is refused: %2")
                                .arg(filter, mosquittoFailureText(subscribed, errno));
            return;
        }
    }
    shared.client = client;
    shared.connected = true;
    link->backoff.reset();
    emit link->connectedChanged(true, QString());
}

void BrokerLink::onDisconnect(mosquitto *, void *object, int code)
{
    auto *link = static_cast<BrokerLink *>(object);
    if (!link->stopping && link->failure.isEmpty())
        link->failure =
            QStringLiteral("connection lost: %1").arg(mosquittoFailureText(code, errno));
}

void BrokerLink::onPublish(mosquitto *, void *object, int messageId, int reasonCode,
                           const mosquitto_property *)
{
    auto *link = static_cast<BrokerLink *>(object);
    const QString topic = link->shared->publishes.take(messageId);
    if (reasonCode >= 0x80)
        emit link->publishRefused(topic, reasonCode);
}

void BrokerLink::onMessage(mosquitto *, void *object, const mosquitto_message *message,
                           const mosquitto_property *properties)
{
    auto *link = static_cast<BrokerLink *>(object);
    void *correlation = nullptr;
    uint16_t correlationLength = 0;
    mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation,
                                   &correlationLength, false);
    std::vector<BrokerShared::Arrived> &arrived = link->shared->arrived;
    arrived.push_back({QString::fromUtf8(message->topic),
                       QByteArray(static_cast<const char *>(message->payload), message->payloadlen),
                       message->retain,
                       QByteArray(static_cast<const char *>(correlation), correlationLength)});
    free(correlation);
    if (arrived.size() == 1)
        emit link->messagesWaiting();
}

void BrokerLink::dropSession(const QString &reason)
{
    closeSession();
    if (stopping || stopRequested)
        return;
    const int delay = backoff.nextDelayMs();
    debugMqtt(settings, QStringLiteral("%1; retrying in %2 s").arg(reason).arg(delay / 1000));
    emit connectedChanged(false, reason);
    retryTimer->start(delay);
}

void BrokerLink::closeSession()
{
    {
        QMutexLocker lock(&shared->mutex);
        shared->connected = false;
        shared->client = nullptr;
        shared->publishes.clear();
    }
    closeMqttClient(&client, &incoming, loopTimer);
}

} // namespace Brelk
