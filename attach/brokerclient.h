// The MQTT client of a panel attached through the broker to the services: it subscribes to what
// the services publish and sends them commands and history requests. The network runs on a thread
// of its own (connecting blocks while the host name resolves); every signal arrives on the thread
// that owns the client.
#ifndef BROKERCLIENT_H
#define BROKERCLIENT_H

#include "settings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

class QThread;

namespace Brelk {

class BrokerLink;
struct BrokerShared;

class BrokerClient : public QObject
{
    Q_OBJECT

public:
    // Seconds between keep-alive exchanges; also how long an answer to a connection may take.
    static constexpr int KeepAliveSeconds = 10;
    static constexpr int BatchMs = 25;
    // How long the destructor waits for the network thread to say goodbye to the broker.
    static constexpr int StopWaitMs = 1000;

    explicit BrokerClient(QObject *parent = nullptr);
    // Disconnects; waits at most StopWaitMs, leaving a connection attempt that still blocks behind.
    ~BrokerClient() override;

    // Connects (MQTT 5, clean start) with the host, port, user, password and CA file of `settings`
    // (its topic is unused), and subscribes `filters` with QoS 1 on every connection; retries with
    // a growing delay (1 s doubling to 30 s) while the broker is away. A filter that is not a valid
    // topic filter is left out, with a debug line. Replaces an earlier start.
    void start(const MqttSettings &settings, const QStringList &filters);
    void stop();
    bool isConnected() const;
    // "brelkcontrol-view-<host>-<pid>-<n>", the same for every connection of this client.
    QString clientId() const;
    // Adds a subscription now (if connected) and on every later connection; `lossy` at QoS 0,
    // for messages that the next one replaces, which spares an acknowledgement each.
    void subscribe(const QString &filter, bool lossy = false);
    // Publishes, not retained, QoS 1; with a response topic and correlation data (MQTT 5
    // properties) when given. False, publishing nothing, while not connected or when the library
    // refuses the topic, the payload or the properties.
    bool publish(const QString &topic, const QByteArray &payload,
                 const QString &responseTopic = QString(),
                 const QByteArray &correlation = QByteArray());

signals:
    // On connection, on its loss and on every attempt that failed; `error` says why in words
    // (empty on connection and on stop()).
    void connectedChanged(bool connected, const QString &error);
    // `retained`: the broker's stored message, sent because a subscription was made; a message
    // published while subscribed arrives unflagged.
    void messageArrived(const QString &topic, const QByteArray &payload, bool retained,
                        const QByteArray &correlation);
    // After the messages of one batch: what a reader gathered from them may be acted on once.
    void batchEnded();
    // The broker refused a publish on `topic` (PUBACK reason code >= 0x80, 0x87 not authorized).
    void publishRefused(const QString &topic, int reasonCode);

private:
    void retireLink();
    // Hands on the messages the network thread gathered.
    void takeArrived();

    const QString id;
    QStringList filters;
    QThread *thread = nullptr;
    BrokerLink *link = nullptr;
    std::shared_ptr<BrokerShared> shared;
    // Counts the links started: a queued signal of a retired link is recognised and dropped.
    int generation = 0;
    bool connected = false;
    // Messages are handed on at most every BatchMs: 320 readings a second wake this thread some
    // twenty times, not 320, and wait 25 ms at most.
    QTimer batch;
};

} // namespace Brelk

#endif // BROKERCLIENT_H
