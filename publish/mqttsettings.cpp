#include "mqttsettings.h"

#include <QFile>
#include <QSettings>

namespace Brelk {

namespace {

const char *const HostKey = "MqttHost";
const char *const PortKey = "MqttPort";
const char *const TopicKey = "MqttTopic";
const char *const UserKey = "MqttUser";
const char *const PasswordKey = "MqttPassword";
const char *const CaFileKey = "MqttCaFile";

void setOrRemove(QSettings &settings, const char *key, const QString &value)
{
    if (value.isEmpty())
        settings.remove(QLatin1String(key));
    else
        settings.setValue(QLatin1String(key), value);
}

} // namespace

bool MqttSettings::operator==(const MqttSettings &other) const
{
    return host == other.host && port == other.port && topic == other.topic && user == other.user &&
           password == other.password && rememberPassword == other.rememberPassword &&
           caFile == other.caFile;
}

QString defaultMqttTopic(int baseAddress)
{
    return QStringLiteral("brelk/") + QString::asprintf("%04x", unsigned(baseAddress) & 0xFFFF);
}

MqttSettings loadMqttSettings(QSettings &settings, int baseAddress)
{
    MqttSettings mqtt;
    mqtt.host = settings.value(QLatin1String(HostKey)).toString().trimmed();
    bool ok = false;
    const int port = settings.value(QLatin1String(PortKey)).toString().trimmed().toInt(&ok);
    mqtt.port = ok && port > 0 && port < 65536 ? port : MqttSettings::DefaultPort;
    mqtt.topic = normalizedMqttTopic(settings.value(QLatin1String(TopicKey)).toString());
    if (mqtt.topic.isEmpty() || !mqttTopicProblem(mqtt.topic).isEmpty())
        mqtt.topic = defaultMqttTopic(baseAddress);
    mqtt.user = settings.value(QLatin1String(UserKey)).toString();
    mqtt.password = settings.value(QLatin1String(PasswordKey)).toString();
    mqtt.rememberPassword = settings.contains(QLatin1String(PasswordKey));
    mqtt.caFile = settings.value(QLatin1String(CaFileKey)).toString().trimmed();
    return mqtt;
}

void storeMqttSettings(QSettings &settings, const MqttSettings &mqtt, int baseAddress)
{
    setOrRemove(settings, HostKey, mqtt.host);
    if (mqtt.port == MqttSettings::DefaultPort)
        settings.remove(QLatin1String(PortKey));
    else
        settings.setValue(QLatin1String(PortKey), mqtt.port);
    setOrRemove(settings, TopicKey,
                mqtt.topic == defaultMqttTopic(baseAddress) ? QString() : mqtt.topic);
    setOrRemove(settings, UserKey, mqtt.user);
    if (mqtt.rememberPassword)
        settings.setValue(QLatin1String(PasswordKey), mqtt.password);
    else
        settings.remove(QLatin1String(PasswordKey));
    setOrRemove(settings, CaFileKey, mqtt.caFile);
    settings.sync();
    // The password is kept in clear; later writes of the file keep these permissions.
    if (mqtt.rememberPassword)
        QFile::setPermissions(settings.fileName(), QFile::ReadOwner | QFile::WriteOwner);
}

QString mqttTopicProblem(const QString &topic)
{
    if (topic.isEmpty())
        return QStringLiteral("the topic prefix is empty");
    if (topic.contains(QLatin1Char('+')) || topic.contains(QLatin1Char('#')))
        return QStringLiteral("a topic prefix cannot hold the wildcards + or #");
    if (topic.contains(QChar(0)))
        return QStringLiteral("a topic prefix cannot hold a NUL character");
    if (topic.toUtf8().size() > 60000)
        return QStringLiteral("the topic prefix is too long");
    return QString();
}

QString normalizedMqttTopic(const QString &topic)
{
    QString text = topic.trimmed();
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}

} // namespace Brelk
