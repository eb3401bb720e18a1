// The network side of a BrokerClient, on a thread of its own: connects to the broker, retries
// with a growing delay, subscribes the filters on every connection and runs the client's network
// loop whenever the broker sends something. The owner publishes and subscribes on its own thread
// through BrokerShared while a connection is open.
#ifndef BROKERLINK_H
#define BROKERLINK_H

#include "schedule.h"
#include "settings.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <vector>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
typedef struct mqtt5__property mosquitto_property;
class QSocketNotifier;
class QTimer;

namespace Brelk {

// What the owner's thread and the link's share. The link runs the library only while holding
// `mutex`, except for the blocking connect, which happens while `connected` is false; the owner
// touches `client` only while holding `mutex` and only while `connected` is true.
struct BrokerShared
{
    QMutex mutex;
    mosquitto *client = nullptr;
    // The broker accepted the connection and the filters were subscribed.
    bool connected = false;
    QStringList filters;
    // The filters whose messages may be lost (QoS 0): readings that the next one replaces.
    QStringList lossyFilters;
    int qualityOf(const QString &filter) const { return lossyFilters.contains(filter) ? 0 : 1; }
    // Message ids of the publishes that wait for the broker's acknowledgement.
    QHash<int, QString> publishes;
    // The messages the owner has not taken yet, oldest first.
    struct Arrived
    {
        QString topic;
        QByteArray payload;
        bool retained;
        QByteArray correlation;
    };
    std::vector<Arrived> arrived;
};

class BrokerLink : public QObject
{
    Q_OBJECT

public:
    explicit BrokerLink(std::shared_ptr<BrokerShared> shared);
    ~BrokerLink() override;

    // Set by the owner just before it queues stop(): whatever blocking call the link returns
    // from, it goes straight to its stop.
    std::atomic<bool> stopRequested{false};

    void start(const MqttSettings &settings, const QString &clientId);
    // Disconnects cleanly if connected and ends the thread's event loop.
    void stop();

signals:
    void connectedChanged(bool connected, const QString &error);
    // The first message is waiting in `arrived`: the owner takes it, and those that follow it
    // meanwhile, at its own pace.
    void messagesWaiting();
    void publishRefused(const QString &topic, int reasonCode);

private:
    void attempt();
    void loopOnce();
    void dropSession(const QString &reason);
    void closeSession();

    static void onConnect(mosquitto *client, void *link, int code);
    static void onDisconnect(mosquitto *client, void *link, int code);
    static void onPublish(mosquitto *client, void *link, int messageId, int reasonCode,
                          const mosquitto_property *properties);
    static void onMessage(mosquitto *client, void *link, const mosquitto_message *message,
                          const mosquitto_property *properties);

    const std::shared_ptr<BrokerShared> shared;
    MqttSettings settings;
    QString clientId;
    mosquitto *client = nullptr;
    QTimer *loopTimer = nullptr;
    QTimer *retryTimer = nullptr;
    // Runs the loop as soon as the broker sends something.
    QSocketNotifier *incoming = nullptr;
    Backoff backoff;
    bool stopping = false;
    // Set by the library's callbacks (and the TLS checks), acted upon once its loop has returned.
    QString failure;
    bool connackSeen = false;
    QElapsedTimer sinceConnect;
};

} // namespace Brelk

#endif // BROKERLINK_H
