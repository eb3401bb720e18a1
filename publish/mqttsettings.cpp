#include "mqttsettings.h"

#include "remotecommand.h"
#include "settings.h"

#include <initializer_list>

namespace Brelk {

namespace {

const char *const HostKey = "MqttHost";
const char *const PortKey = "MqttPort";
const char *const TopicKey = "MqttTopic";
const char *const UserKey = "MqttUser";
const char *const PasswordKey = "MqttPassword";
const char *const CaFileKey = "MqttCaFile";
const char *const CommandsKey = "MqttCommands";
const char *const CommandMaxAgeKey = "MqttCommandMaxAge";
constexpr qint64 LongestCommandMaxAgeMs = 3600000;

// The first of `keys` whose value in the file is not valid UTF-8, as what is wrong; else empty.
QString utf8Problem(const Settings &settings, std::initializer_list<const char *> keys)
{
    for (const char *key : keys) {
        const QString problem = settings.utf8Problem(QLatin1String(key));
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}

// An empty value removes the key.
void setOrRemove(QVariantMap &values, const char *key, const QString &value)
{
    values.insert(QLatin1String(key), value.isEmpty() ? QVariant() : QVariant(value));
}

} // namespace

bool MqttSettings::operator==(const MqttSettings &other) const
{
    return host == other.host && port == other.port && topic == other.topic && user == other.user &&
           password == other.password && rememberPassword == other.rememberPassword &&
           caFile == other.caFile && fileProblem == other.fileProblem;
}

QString defaultMqttTopic(int baseAddress)
{
    return QStringLiteral("brelk/") + QString::asprintf("%04x", unsigned(baseAddress) & 0xFFFF);
}

MqttSettings loadMqttSettings(const Settings &settings, int baseAddress)
{
    const auto text = [&settings](const char *key) {
        return settings.value(QLatin1String(key)).toString();
    };
    MqttSettings mqtt;
    mqtt.host = text(HostKey).trimmed();
    bool ok = false;
    const int port = text(PortKey).trimmed().toInt(&ok);
    mqtt.port = ok && port > 0 && port < 65536 ? port : MqttSettings::DefaultPort;
    mqtt.topic = normalizedMqttTopic(text(TopicKey));
    if (mqtt.topic.isEmpty())
        mqtt.topic = defaultMqttTopic(baseAddress);
    mqtt.user = text(UserKey);
    mqtt.password = text(PasswordKey);
    mqtt.rememberPassword = settings.contains(QLatin1String(PasswordKey));
    mqtt.caFile = text(CaFileKey).trimmed();
    mqtt.fileProblem =
        utf8Problem(settings, {HostKey, PortKey, TopicKey, UserKey, PasswordKey, CaFileKey});
    return mqtt;
}

MqttSettings loadModuleMqttSettings(const Settings &settings, quint32 baseAddress)
{
    MqttSettings mqtt = loadMqttSettings(settings, int(baseAddress));
    const Settings group = settings.moduleGroup(baseAddress);
    mqtt.topic = normalizedMqttTopic(group.value(QLatin1String(TopicKey)).toString());
    // The first module's prefix is not this module's.
    mqtt.fileProblem = utf8Problem(settings, {HostKey, PortKey, UserKey, PasswordKey, CaFileKey});
    if (mqtt.fileProblem.isEmpty())
        mqtt.fileProblem = utf8Problem(group, {TopicKey});
    if (mqtt.topic.isEmpty())
        mqtt.topic = defaultMqttTopic(int(baseAddress));
    return mqtt;
}

bool storeMqttSettings(Settings &settings, const MqttSettings &mqtt, int baseAddress)
{
    QVariantMap values;
    setOrRemove(values, HostKey, mqtt.host);
    setOrRemove(values, PortKey,
                mqtt.port == MqttSettings::DefaultPort ? QString() : QString::number(mqtt.port));
    setOrRemove(values, TopicKey,
                mqtt.topic == defaultMqttTopic(baseAddress) ? QString() : mqtt.topic);
    setOrRemove(values, UserKey, mqtt.user);
    values.insert(QLatin1String(PasswordKey),
                  mqtt.rememberPassword ? QVariant(mqtt.password) : QVariant());
    setOrRemove(values, CaFileKey, mqtt.caFile);
    // The password is kept in clear: others lose every permission on the file before it is
    // written, and later writes keep the mode.
    return settings.store(values, mqtt.rememberPassword);
}

bool remoteCommandsAllowed(const Settings &settings)
{
    return settings.value(QLatin1String(CommandsKey)).toString().trimmed().toLower() ==
           QLatin1String("on");
}

bool storeRemoteCommandsAllowed(Settings &settings, bool allowed)
{
    return settings.store(
        {{QLatin1String(CommandsKey), allowed ? QStringLiteral("on") : QStringLiteral("off")}});
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

qint64 remoteCommandMaxAgeMs(const Settings &settings)
{
    bool ok = false;
    const qint64 ms =
        settings.value(QLatin1String(CommandMaxAgeKey)).toString().trimmed().toLongLong(&ok);
    return ok && ms >= 1 && ms <= LongestCommandMaxAgeMs ? ms : DefaultCommandMaxAgeMs;
}

} // namespace Brelk
