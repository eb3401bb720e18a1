#include "brokerclient.h"

#include "brokerlink.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <QCoreApplication>
#include <QDebug>
#include <QMutexLocker>
#include <QSysInfo>
#include <QThread>

#include <atomic>

namespace Brelk {

namespace {

QString nextClientId()
{
    static std::atomic<int> made{0};
    return QStringLiteral("brelkcontrol-view-%1-%2-%3")
        .arg(QSysInfo::machineHostName())
        .arg(QCoreApplication::applicationPid())
        .arg(++made);
}

// What the library would refuse to subscribe: not UTF-8 as MQTT has it, or a wildcard that is not
// a level of its own.
bool validFilter(const QString &filter)
{
    const QByteArray bytes = filter.toUtf8();
    return !bytes.isEmpty() &&
           mosquitto_sub_topic_check2(bytes.constData(), size_t(bytes.size())) ==
               MOSQ_ERR_SUCCESS &&
           mosquitto_validate_utf8(bytes.constData(), int(bytes.size())) == MOSQ_ERR_SUCCESS;
}

// The library would refuse it before it reached the broker; the other filters go on.
void debugInvalidFilter(const QString &filter)
{
    qDebug().noquote()
        << QStringLiteral("MQTT: %1 is not a topic filter; not subscribed").arg(filter);
}

} // namespace

BrokerClient::BrokerClient(QObject *parent) : QObject(parent), id(nextClientId())
{
    batch.setSingleShot(true);
    batch.setInterval(BatchMs);
    connect(&batch, &QTimer::timeout, this, &BrokerClient::takeArrived);
}

BrokerClient::~BrokerClient()
{
    if (!link)
        return;
    QThread *ending = thread;
    connect(ending, &QThread::finished, ending, &QObject::deleteLater);
    retireLink();
    // Deleting it drops its pending deletion as well.
    if (ending->wait(StopWaitMs))
        delete ending;
}

void BrokerClient::start(const MqttSettings &settings, const QStringList &newFilters)
{
    stop();
    filters.clear();
    for (const QString &filter : newFilters) {
        if (!validFilter(filter))
            debugInvalidFilter(filter);
        else if (!filters.contains(filter))
            filters << filter;
    }
    shared = std::make_shared<BrokerShared>();
    shared->filters = filters;
    thread = new QThread;
    thread->setObjectName(QStringLiteral("mqtt-view"));
    link = new BrokerLink(shared);
    link->moveToThread(thread);
    const int current = ++generation;
    connect(
        link, &BrokerLink::connectedChanged, this,
        [this, current](bool nowConnected, const QString &error) {
            if (current != generation)
                return;
            connected = nowConnected;
            emit connectedChanged(nowConnected, error);
        },
        Qt::QueuedConnection);
    connect(
        link, &BrokerLink::messagesWaiting, this,
        [this, current] {
            if (current == generation && !batch.isActive())
                batch.start();
        },
        Qt::QueuedConnection);
    connect(
        link, &BrokerLink::publishRefused, this,
        [this, current](const QString &topic, int reasonCode) {
            if (current == generation)
                emit publishRefused(topic, reasonCode);
        },
        Qt::QueuedConnection);
    // The link goes with its thread, on that thread, whoever is still there to see it.
    connect(thread, &QThread::finished, link, &QObject::deleteLater, Qt::DirectConnection);
    thread->start();
    BrokerLink *started = link;
    const QString clientId = id;
    QMetaObject::invokeMethod(
        link, [started, settings, clientId] { started->start(settings, clientId); },
        Qt::QueuedConnection);
}

void BrokerClient::stop()
{
    if (!link)
        return;
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    retireLink();
    if (connected) {
        connected = false;
        emit connectedChanged(false, QString());
    }
}

// Cuts the link off and asks it to stop; it ends on its own thread.
void BrokerClient::retireLink()
{
    ++generation;
    link->stopRequested = true;
    disconnect(link, nullptr, this, nullptr);
    // The last touch: once stopped, the link may delete itself at any moment.
    BrokerLink *ending = link;
    QMetaObject::invokeMethod(
        link, [ending] { ending->stop(); }, Qt::QueuedConnection);
    link = nullptr;
    thread = nullptr;
    shared.reset();
}

bool BrokerClient::isConnected() const
{
    return connected;
}

void BrokerClient::takeArrived()
{
    if (!shared)
        return;
    std::vector<BrokerShared::Arrived> taken;
    {
        QMutexLocker lock(&shared->mutex);
        taken.swap(shared->arrived);
    }
    for (const BrokerShared::Arrived &message : taken)
        emit messageArrived(message.topic, message.payload, message.retained, message.correlation);
    if (!taken.empty())
        emit batchEnded();
}

QString BrokerClient::clientId() const
{
    return id;
}

void BrokerClient::subscribe(const QString &filter, bool lossy)
{
    if (!validFilter(filter)) {
        debugInvalidFilter(filter);
        return;
    }
    if (filters.contains(filter))
        return;
    filters << filter;
    if (!shared)
        return;
    const QByteArray bytes = filter.toUtf8();
    QMutexLocker lock(&shared->mutex);
    shared->filters << filter;
    if (lossy)
        shared->lossyFilters << filter;
    if (!shared->connected)
        return;
    // Failing, the connection is about to be lost; the next one subscribes.
    mosquitto_subscribe_v5(shared->client, nullptr, bytes.constData(), shared->qualityOf(filter), 0,
                           nullptr);
}

bool BrokerClient::publish(const QString &topic, const QByteArray &payload,
                           const QString &responseTopic, const QByteArray &correlation)
{
    if (!shared)
        return false;
    const QByteArray topicBytes = topic.toUtf8();
    mosquitto_property *properties = nullptr;
    int code = MOSQ_ERR_SUCCESS;
    if (!responseTopic.isEmpty()) {
        // A response topic is a topic name: the library would send one with a wildcard.
        const QByteArray bytes = responseTopic.toUtf8();
        code = mosquitto_pub_topic_check2(bytes.constData(), size_t(bytes.size()));
        if (code == MOSQ_ERR_SUCCESS)
            code = mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC,
                                                 bytes.constData());
    }
    if (code == MOSQ_ERR_SUCCESS && !correlation.isEmpty()) {
        // MQTT gives binary data a length of two bytes.
        code = correlation.size() > 65535
                   ? MOSQ_ERR_INVAL
                   : mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA,
                                                   correlation.constData(),
                                                   uint16_t(correlation.size()));
    }
    if (code == MOSQ_ERR_SUCCESS) {
        QMutexLocker lock(&shared->mutex);
        if (!shared->connected) {
            code = MOSQ_ERR_NO_CONN;
        } else {
            int messageId = 0;
            code = mosquitto_publish_v5(shared->client, &messageId, topicBytes.constData(),
                                        int(payload.size()), payload.constData(), 1, false,
                                        properties);
            // Recorded before the loop can read the acknowledgement, which needs the mutex.
            if (code == MOSQ_ERR_SUCCESS)
                shared->publishes.insert(messageId, topic);
        }
    }
    mosquitto_property_free_all(&properties);
    return code == MOSQ_ERR_SUCCESS;
}

} // namespace Brelk
