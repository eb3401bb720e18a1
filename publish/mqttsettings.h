// The topics under a module's MQTT prefix, and whether a prefix can be published under. The broker
// settings themselves are keys of the settings file (settings.h).
#ifndef MQTTSETTINGS_H
#define MQTTSETTINGS_H

#include "settings.h"

#include <QString>

namespace Brelk {

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

// Empty when services can be found under the topic filters (one, or several separated by commas),
// else why not: each a topic as above in which "+" may stand for a whole level; no "#", as the
// services' topics follow it.
QString mqttFilterProblem(const QString &filters);

} // namespace Brelk

#endif // MQTTSETTINGS_H
