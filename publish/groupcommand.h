// Commands that arrive over MQTT on `<prefix>/group/<name>/set` for a channel group, where
// `<prefix>` is the prefix of the module of the group's first channel: `{"ramp_to": "targets"}`,
// `{"ramp_to": "zero"}` or `{"ramp_to": "stop"}`, with the channel commands' optional "id" and
// "sent". The payload parsed, judged by the channel commands' rules that do not depend on one
// channel, carried out by whoever holds the groups, and answered on `<prefix>/group/<name>/result`
// in the channel commands' form. Pure functions; the publisher carries them out.
#ifndef GROUPCOMMAND_H
#define GROUPCOMMAND_H

#include "remotecommand.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>

namespace Brelk {

// Refusal codes of the group commands beside the channel commands' ones: a channel of the group
// is tripped, and only the operator switches it on again; a channel's HV switch is off, so that it
// could never reach a step of a ramp up.
namespace RemoteError {
constexpr const char *Tripped = "tripped";
constexpr const char *HvOff = "hv_off";
} // namespace RemoteError

struct GroupCommand
{
    QJsonValue id;  // as RemoteCommand::id
    QString rampTo; // "targets", "zero" or "stop"
    qint64 sentMs = -1;
    QString error; // empty when the payload is one well-formed group command, else "invalid"
    QString message;
};

GroupCommand parseGroupCommand(const QByteArray &payload);

// "GEM1" for the subtopic "group/GEM1/set"; empty for any other.
QString groupOfCommandTopic(const QString &subtopic);
// "group/GEM1/result".
QString groupResultTopic(const QString &group);

// What the holder of the groups did with an accepted command: an empty error when it was carried
// out (`message` then says what the operator must know, if anything).
using GroupAction = std::function<RemoteVerdict(const QString &group, const QString &rampTo)>;

struct GroupCommandResult
{
    QJsonObject answer;
    // The debug line, and whether it tells of a refusal (which the publisher may hold back).
    QString logLine;
    bool refused = false;
    // For the status bar when carried out: "Remote command: group GEM1 ramp to targets".
    QString takenText;
};

// Refusals in this order: conflict, disabled, retained, invalid, expired, stale (the module whose
// prefix the command came under), busy, then those of `act` (an unknown group, a tripped
// channel, out_of_range, stale for another module of the group, write_failed). `conditions`:
// those of the module under whose prefix the command came; its channel and ceilings are unused.
GroupCommandResult takeGroupCommand(const QString &group, const QByteArray &payload,
                                    const RemoteConditions &conditions, CommandRate *rate,
                                    qint64 nowMs, const GroupAction &act);

} // namespace Brelk

#endif // GROUPCOMMAND_H
