// The MQTT client on a thread of its own: connects to the broker (libmosquitto's connect blocks
// while it resolves the host and opens the socket), retries with a growing delay, runs the
// client's network loop and keeps the latest retained message of every topic so that a new
// connection brings the broker up to date at once. Every connection subscribes to the channels'
// command topics and the history requests, whose messages go to the panel as they are. The panel
// reaches it through queued signals only.
#ifndef MQTTWORKER_H
#define MQTTWORKER_H

#include "mqttsettings.h"
#include "schedule.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>

#include <atomic>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
typedef struct mqtt5__property mosquitto_property;
class QSocketNotifier;
class QTimer;

namespace Brelk {

// BadPrefix is the publisher's own: a refused topic prefix is never handed to a worker.
// BadConfiguration: settings that cannot work as they are (a value of the file that is not valid
// UTF-8, found by the publisher; a user name, CA file or last will that the library refuses,
// found by the worker); nothing is retried until new settings are applied.
enum class MqttState { Connecting, Connected, Retrying, BadPrefix, BadConfiguration };

class MqttWorker : public QObject
{
    Q_OBJECT

public:
    // Seconds between keep-alive exchanges; also how long an answer to a connection may take.
    static constexpr int KeepAliveSeconds = 10;
    // How long a clean stop waits for the broker to acknowledge "offline".
    static constexpr int OfflineAckMs = 800;

    MqttWorker();
    ~MqttWorker() override;

    // Set from the panel's thread just before it queues stop(): whatever blocking call the
    // worker returns from, it then goes straight to its stop.
    std::atomic<bool> stopRequested{false};
    // The number of the connection to the broker that is open now (1 for the first), 0 while
    // none is: a command that came on another connection is answered on none and is dropped.
    std::atomic<int> liveConnection{0};

public slots:
    void start(const Brelk::MqttSettings &settings, const QString &clientId);
    // Publishes `payload` on `<prefix>/<subtopic>`, retained, QoS 1 (now or on connection).
    void publish(const QString &subtopic, const QByteArray &payload);
    // Publishes `payload` on `<prefix>/<subtopic>`, not retained, QoS 1, if connected; an answer
    // that finds no connection is dropped, as its command would be delivered again.
    void answer(const QString &subtopic, const QByteArray &payload);
    // Publishes `payload` on the whole topic `responseTopic` with the request's correlation data,
    // not retained, QoS 1, if connected. A topic the library refuses is written as a debug line
    // and costs the connection nothing.
    void respond(const QByteArray &responseTopic, const QByteArray &correlation,
                 const QByteArray &payload);
    // Publishes "offline" if connected, waits briefly for its acknowledgement, disconnects and
    // ends the thread's event loop.
    void stop();

signals:
    void stateChanged(int state, const QString &error);
    // A message on one of the command topics, `subtopic` "a/set", "b/set" or a group's
    // "group/<name>/set", that came on
    // connection number `connection` at `receivedMs` on the monotonic clock.
    void commandArrived(const QString &subtopic, const QByteArray &payload, bool retained,
                        int connection, qint64 receivedMs);
    // A request on `<prefix>/history/get`; `responseTopic` and `correlation` are the request's
    // response topic and correlation data, empty when it has none.
    void historyRequested(const QByteArray &payload, const QByteArray &responseTopic,
                          const QByteArray &correlation);
    // A message on `<prefix>/module`: the own one, or another program's under the same prefix.
    void moduleMessageSeen(const QByteArray &payload);
    // "offline" on `<prefix>/status` while connected: a program that shared the prefix is gone
    // (the own "online" is put back at once).
    void offlineSeen();

private:
    void attempt();
    void loopOnce();
    void dropSession(const QString &reason);
    void closeSession();
    void setState(MqttState state, const QString &error);
    // False, with `failure` set, when the library refuses the message.
    bool send(const QString &subtopic, const QByteArray &payload, int *messageId = nullptr,
              bool retain = true);

    static void onConnect(mosquitto *client, void *worker, int code);
    static void onDisconnect(mosquitto *client, void *worker, int code);
    static void onPublish(mosquitto *client, void *worker, int messageId);
    static void onMessage(mosquitto *client, void *worker, const struct mosquitto_message *message,
                          const mosquitto_property *properties);

    MqttSettings settings;
    QString clientId;
    mosquitto *client = nullptr;
    QTimer *loopTimer = nullptr;
    QTimer *retryTimer = nullptr;
    // Runs the loop as soon as the broker sends something, so that a command waits for no timer.
    QSocketNotifier *incoming = nullptr;
    Backoff backoff;
    MqttState state = MqttState::Connecting;
    bool stopping = false;
    // Set by the library's callbacks, acted upon once its loop has returned.
    QString failure;
    bool connackSeen = false;
    int ackedMessageId = -1;
    int connections = 0;
    QElapsedTimer sinceConnect;
    QMap<QString, QByteArray> retained;
};

QString mqttStateText(MqttState state);

} // namespace Brelk

#endif // MQTTWORKER_H
