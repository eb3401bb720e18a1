// Debian's MQTT broker and its command-line clients, for the tests that publish: a broker started
// on 127.0.0.1 with a configuration written here (nothing kept on disk), optionally with accounts,
// an access-control list and TLS; mosquitto_sub collecting what is published under a prefix; and
// mosquitto_pub sending lines. The programs' paths come from the test's build.
#ifndef BROKER_H
#define BROKER_H

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <functional>

class Broker
{
public:
    // Port 0: a free one.
    explicit Broker(quint16 port = 0);
    ~Broker() { stop(); }

    bool start();
    // Users (name, password) in a password file made by mosquitto_passwd, an access-control
    // list, and further options of the listener (TLS).
    bool startGuarded(const QList<QPair<QString, QString>> &users, const QByteArray &acl,
                      const QByteArray &listenerOptions = QByteArray());
    // Any configuration; ready once the broker accepts a connection.
    bool launch(const QByteArray &conf);
    void stop();

    QString filePath(const QString &name) const { return dir.filePath(name); }
    QString path() const { return dir.path(); }

    // What the broker wrote so far: one line per connection, disconnection and will.
    QByteArray log();
    bool waitForLog(const QRegularExpression &pattern, int timeoutMs);
    // The client said goodbye with a DISCONNECT, so its last will did not fire.
    bool clientLeftCleanly();

    const quint16 port;

private:
    QTemporaryDir dir;
    QProcess process;
    QByteArray output;
};

struct Message
{
    bool retained;
    QString topic;
    QByteArray payload;
    QJsonObject json() const { return QJsonDocument::fromJson(payload).object(); }
};

using MessageTest = std::function<bool(const Message &)>;
bool any(const Message &);
MessageTest payloadIs(const QByteArray &payload);
// The JSON payload's `key` holds `value`.
MessageTest jsonHas(const QString &key, const QJsonValue &value);

// mosquitto_pub: each line of `payloads` one message on `<prefix>/<subtopic>`, QoS 1, waiting
// with the event loop running until it has sent them. `options`: credentials, TLS, "-r" for a
// retained message.
bool publishLines(quint16 port, const QString &prefix, const QString &subtopic,
                  const QByteArray &payloads, const QStringList &options = QStringList());

// mosquitto_sub on `<prefix>/#`, one message a line: retain flag, topic, payload.
class Subscriber
{
public:
    // `options`: further options of mosquitto_sub (credentials, TLS).
    explicit Subscriber(quint16 port, const QString &prefix = QStringLiteral("brelk/dd00"),
                        const QStringList &options = QStringList());
    ~Subscriber();

    QVector<Message> messages();
    // The first message since `from` (an index into messages()) on `<prefix>/<topic>` that
    // `accept` takes, waiting up to `timeoutMs`.
    bool waitFor(const QString &topic, const MessageTest &accept, Message *found,
                 int timeoutMs = 5000, int from = 0);
    // The answers so far on topics under the prefix that end in `/<channel>/result`.
    QVector<QJsonObject> answers(const QString &channel);
    // Sends `payload` (one command a line) to `<prefix>/<channel>/set` and waits for the first
    // answer after it.
    bool command(const QString &channel, const QByteArray &payload, Message *answer,
                 const QStringList &options = QStringList());

private:
    quint16 port;
    QString prefix;
    QProcess process;
    QByteArray buffer;
    QVector<Message> received;
};

// The access-control list of the README at `readmePath`, as the README shows it; empty when the
// file cannot be read or holds none.
QByteArray readmeAcl(const QString &readmePath);

#endif // BROKER_H
