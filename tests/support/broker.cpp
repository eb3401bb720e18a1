#include "broker.h"

#include "loopback.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <sys/socket.h>
#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

QStringList clientArguments(quint16 port, const QString &topic)
{
    return {QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
            QStringLiteral("-p"), QString::number(port),
            QStringLiteral("-q"), QStringLiteral("1"),
            QStringLiteral("-t"), topic};
}

} // namespace

Broker::Broker(quint16 port) : port(port != 0 ? port : freePort()) {}

bool Broker::start()
{
    return launch("listener " + QByteArray::number(port) +
                  " 127.0.0.1\npersistence false\nallow_anonymous true\n");
}

bool Broker::startGuarded(const QList<QPair<QString, QString>> &users, const QByteArray &acl,
                          const QByteArray &listenerOptions)
{
    // The broker reads them as the user it changes to.
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFileDevice::ReadOther |
                                          QFileDevice::ExeOther);
    const QString passwords = dir.filePath(QStringLiteral("passwords"));
    for (const auto &user : users) {
        QStringList arguments{QStringLiteral("-b"), passwords, user.first, user.second};
        if (user == users.first())
            arguments.prepend(QStringLiteral("-c"));
        if (QProcess::execute(QStringLiteral(BRELK_MOSQUITTO_PASSWD), arguments) != 0)
            return false;
    }
    const QString aclFile = dir.filePath(QStringLiteral("acl"));
    return writeFile(aclFile, acl) &&
           launch("listener " + QByteArray::number(port) + " 127.0.0.1\n" + listenerOptions +
                  "persistence false\nallow_anonymous false\npassword_file " + passwords.toUtf8() +
                  "\nacl_file " + aclFile.toUtf8() + "\n");
}

bool Broker::launch(const QByteArray &conf)
{
    const QString confFile = dir.filePath(QStringLiteral("mosquitto.conf"));
    if (!writeFile(confFile, conf))
        return false;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(BRELK_MOSQUITTO_BROKER), {QStringLiteral("-c"), confFile});
    if (!process.waitForStarted(5000))
        return false;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 5000) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool up = connectToLoopback(fd, port);
        ::close(fd);
        if (up)
            return true;
        QTest::qWait(20);
    }
    return false;
}

void Broker::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}

QByteArray Broker::log()
{
    output += process.readAll();
    return output;
}

bool Broker::waitForLog(const QRegularExpression &pattern, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    do {
        if (pattern.match(QString::fromUtf8(log())).hasMatch())
            return true;
        QTest::qWait(20);
    } while (waited.elapsed() < timeoutMs);
    return false;
}

bool Broker::clientLeftCleanly()
{
    const QRegularExpression clean(QStringLiteral("Client brelkcontrol-\\S+ disconnected\\."));
    const QRegularExpression will(QStringLiteral("Client brelkcontrol-\\S+ closed its connection"));
    return waitForLog(clean, 2000) && !will.match(QString::fromUtf8(log())).hasMatch();
}

bool any(const Message &)
{
    return true;
}

MessageTest payloadIs(const QByteArray &payload)
{
    return [payload](const Message &m) { return m.payload == payload; };
}

MessageTest jsonHas(const QString &key, const QJsonValue &value)
{
    return [key, value](const Message &m) { return m.json().value(key) == value; };
}

bool publishLines(quint16 port, const QString &prefix, const QString &subtopic,
                  const QByteArray &payloads, const QStringList &options)
{
    QProcess client;
    client.start(QStringLiteral(BRELK_MOSQUITTO_PUB),
                 clientArguments(port, prefix + QLatin1Char('/') + subtopic) +
                     QStringList{QStringLiteral("-l")} + options);
    if (!client.waitForStarted(5000))
        return false;
    client.write(payloads + '\n');
    client.closeWriteChannel();
    // The poll goes on meanwhile: a command is judged by the ticks just before it arrives.
    QElapsedTimer waited;
    waited.start();
    while (client.state() != QProcess::NotRunning && waited.elapsed() < 10000)
        QTest::qWait(5);
    return client.state() == QProcess::NotRunning && client.exitStatus() == QProcess::NormalExit &&
           client.exitCode() == 0;
}

Subscriber::Subscriber(quint16 port, const QString &prefix, const QStringList &options)
    : port(port), prefix(prefix)
{
    process.start(QStringLiteral(BRELK_MOSQUITTO_SUB),
                  clientArguments(port, prefix + QStringLiteral("/#")) +
                      QStringList{QStringLiteral("-F"), QStringLiteral("%r %t %p")} + options);
    process.waitForStarted(5000);
}

Subscriber::~Subscriber()
{
    process.kill();
    process.waitForFinished(5000);
}

QVector<Message> Subscriber::messages()
{
    buffer += process.readAllStandardOutput();
    int end;
    while ((end = buffer.indexOf('\n')) >= 0) {
        const QByteArray line = buffer.left(end);
        buffer.remove(0, end + 1);
        const int first = line.indexOf(' ');
        const int second = line.indexOf(' ', first + 1);
        received.append(Message{line.left(first) == "1",
                                QString::fromUtf8(line.mid(first + 1, second - first - 1)),
                                line.mid(second + 1)});
    }
    return received;
}

bool Subscriber::waitFor(const QString &topic, const MessageTest &accept, Message *found,
                         int timeoutMs, int from)
{
    const QString full = prefix + QLatin1Char('/') + topic;
    QElapsedTimer waited;
    waited.start();
    do {
        const QVector<Message> all = messages();
        for (int i = from; i < all.size(); ++i) {
            if (all[i].topic == full && accept(all[i])) {
                *found = all[i];
                return true;
            }
        }
        QTest::qWait(20);
    } while (waited.elapsed() < timeoutMs);
    return false;
}

QVector<QJsonObject> Subscriber::answers(const QString &channel)
{
    const QString ending = QLatin1Char('/') + channel + QStringLiteral("/result");
    QVector<QJsonObject> found;
    for (const Message &m : messages()) {
        if (m.topic.endsWith(ending))
            found << m.json();
    }
    return found;
}

bool Subscriber::command(const QString &channel, const QByteArray &payload, Message *answer,
                         const QStringList &options)
{
    const int from = messages().size();
    return publishLines(port, prefix, channel + QStringLiteral("/set"), payload, options) &&
           waitFor(channel + QStringLiteral("/result"), any, answer, 5000, from);
}

QByteArray readmeAcl(const QString &readmePath)
{
    QFile readme(readmePath);
    if (!readme.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray text = readme.readAll();
    const int start = text.indexOf("# /etc/mosquitto/acl\n");
    const int end = text.indexOf("```", start);
    return start < 0 || end < 0 ? QByteArray() : text.mid(start, end - start);
}
