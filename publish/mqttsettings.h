// Where and how the panel publishes: the broker, the topic prefix, the credentials and TLS, as
// kept in the settings file under the Mqtt* keys.
#ifndef MQTTSETTINGS_H
#define MQTTSETTINGS_H

#include <QMetaType>
#include <QString>

namespace Brelk {

class Settings;

struct MqttSettings
{
    static constexpr int DefaultPort = 1883;

    QString host; // empty: publishing off
    int port = DefaultPort;
    QString topic; // prefix without a trailing "/"
    QString user;
    QString password;
    bool rememberPassword = false;
    QString caFile; // non-empty: TLS, verifying the broker against this CA
    // Why the stored settings cannot be used: a value in the file that is not valid UTF-8, named
    // by its key. Empty for settings that do not come from the file.
    QString fileProblem;

    bool enabled() const { return !host.isEmpty(); }
    bool operator==(const MqttSettings &other) const;
    bool operator!=(const MqttSettings &other) const { return !(*this == other); }
};

// "brelk/dd00": the prefix used when none is stored.
QString defaultMqttTopic(int baseAddress);

// Reads the Mqtt* keys; missing values and an unusable port take their defaults, so a file with
// only "MqttHost" publishes to port 1883 under the default prefix. A prefix the broker would
// refuse is kept as it is, for the publisher to report (see mqttTopicProblem); so is a value that
// is not valid UTF-8 (see MqttSettings::fileProblem).
MqttSettings loadMqttSettings(const Settings &settings, int baseAddress);
// Writes the keys; empty values and defaults are removed (a prefix equal to the default one
// follows the base address), and the password is written only when it is to be remembered, to a
// file that others cannot read (see Settings::store).
bool storeMqttSettings(Settings &settings, const MqttSettings &mqtt, int baseAddress);
// The broker settings of the file with a further module's prefix: the "MqttTopic" of its group,
// else the default prefix of its address.
MqttSettings loadModuleMqttSettings(const Settings &settings, quint32 baseAddress);

// "MqttCommands": "on" (in any case) allows remote commands; "off", no key or anything else does
// not. Stored as "on" or "off".
bool remoteCommandsAllowed(const Settings &settings);
bool storeRemoteCommandsAllowed(Settings &settings, bool allowed);

// "MqttCommandMaxAge": how far, in milliseconds, a command's "sent" time may lie from the clock
// either way; 2000 when the key is missing or not a number from 1 to 3600000.
qint64 remoteCommandMaxAgeMs(const Settings &settings);

// Every topic under the prefix, published or subscribed to: the worker and the publisher name
// their topics from these, and the prefix's length limit follows from the longest.
namespace MqttTopic {
constexpr const char ChannelA[] = "a";
constexpr const char ChannelB[] = "b";
constexpr const char Module[] = "module";
constexpr const char Status[] = "status";
constexpr const char CommandA[] = "a/set";
constexpr const char CommandB[] = "b/set";
constexpr const char ResultA[] = "a/result";
constexpr const char ResultB[] = "b/result";
// Requests for the trend store's columns, answered on each request's MQTT 5 response topic. Not
// among the topics that bound the prefix's length: a prefix too long for it only goes without.
constexpr const char HistoryGet[] = "history/get";
} // namespace MqttTopic

constexpr const char *const MqttSubtopics[] = {
    MqttTopic::ChannelA, MqttTopic::ChannelB, MqttTopic::Module,  MqttTopic::Status,
    MqttTopic::CommandA, MqttTopic::CommandB, MqttTopic::ResultA, MqttTopic::ResultB};

constexpr int longestMqttSubtopicBytes()
{
    int longest = 0;
    for (const char *subtopic : MqttSubtopics) {
        int length = 0;
        while (subtopic[length] != '\0')
            ++length;
        longest = length > longest ? length : longest;
    }
    return longest;
}

// The longest topic under the prefix adds this many bytes to it ("/" and the longest subtopic).
constexpr int MqttLongestSuffixBytes = 1 + longestMqttSubtopicBytes();

// Empty when the prefix can be published under; else why not, checked as MQTT checks a topic
// name: valid UTF-8 without control characters (U+0000-U+001F, U+007F-U+009F) or Unicode
// non-characters, no wildcard, no empty level, at most 65,535 bytes with the longest suffix
// (65,526 bytes of prefix with "/a/result").
QString mqttTopicProblem(const QString &topic);
// The prefix with surrounding blanks and trailing "/" removed.
QString normalizedMqttTopic(const QString &topic);

} // namespace Brelk

Q_DECLARE_METATYPE(Brelk::MqttSettings)

#endif // MQTTSETTINGS_H
