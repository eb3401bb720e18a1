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
    if (mqtt.topic.isEmpty())
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
    if (topic.split(QLatin1Char('/')).contains(QString()))
        return QStringLiteral(
            "a topic prefix cannot have an empty level (\"//\" or a leading \"/\")");
    // A lone surrogate has no UTF-8 form; converting would publish something else.
    if (!QStringView(topic).isValidUtf16())
        return QStringLiteral("the topic prefix is not valid UTF-8 (a lone surrogate)");
    const QVector<uint> characters = topic.toUcs4();
    for (int i = 0; i < characters.size(); ++i) {
        const uint c = characters[i];
        const QString where =
            QStringLiteral(" (U+%1 at character %2)").arg(c, 4, 16, QLatin1Char('0')).arg(i + 1);
        if (c <= 0x1F || (c >= 0x7F && c <= 0x9F))
            return QStringLiteral("a topic prefix cannot hold a control character") + where;
        if (QChar::isNonCharacter(c))
            return QStringLiteral("a topic prefix cannot hold a Unicode non-character") + where;
    }
    if (topic.toUtf8().size() + MqttLongestSuffixBytes > 65535)
        return QStringLiteral("the topic prefix is longer than the %1 bytes MQTT allows")
            .arg(65535 - MqttLongestSuffixBytes);
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
