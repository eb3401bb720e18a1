// Commands that arrive over MQTT on `<prefix>/a/set` and `<prefix>/b/set`: the payload parsed
// into one command, the panel's verdict on it (in the order the refusals are checked), the
// answer published on `<prefix>/<channel>/result`, the debug line and the status-bar text.
// Pure functions and one small rate counter; the publisher carries them out.
#ifndef REMOTECOMMAND_H
#define REMOTECOMMAND_H

#include "commandentry.h"
#include "freshness.h"
#include "settings.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QVector>

namespace Brelk {

enum class RemoteAction { SetVoltage, RampSpeed, SoftLimitI, SoftLimitI2, Clear };

// The refusal codes of the answers.
namespace RemoteError {
constexpr const char *Disabled = "disabled";
constexpr const char *Retained = "retained";
constexpr const char *Invalid = "invalid";
constexpr const char *OutOfRange = "out_of_range";
constexpr const char *Stale = "stale";
constexpr const char *Busy = "busy";
constexpr const char *Expired = "expired";
constexpr const char *Conflict = "conflict";
constexpr const char *WrongModule = "wrong_module";
constexpr const char *WriteFailed = "write_failed";
} // namespace RemoteError

// What every command's payload holds besides its action: one JSON object in which each key stands
// once, with the optional "id" (a string or a number) and "sent" (milliseconds since 1970 UTC).
struct CommandEnvelope
{
    QJsonObject object;
    // Set whenever the payload's id is usable, so that even a refusal echoes it; else null.
    QJsonValue id = QJsonValue(QJsonValue::Null);
    qint64 sentMs = -1;
};

// Empty when the envelope is well-formed, else why not (the refusal is "invalid").
QString parseCommandEnvelope(const QByteArray &payload, CommandEnvelope *envelope);

struct RemoteCommand
{
    QJsonValue id; // a string or a number, echoed in the answer; null when absent or unusable
    QString key;   // "vset", "ramp", "limit_i", "limit_i2" or "clear"; empty when unknown
    RemoteAction action = RemoteAction::Clear;
    double value = 0; // volts, volts per second or amperes; unused for "clear"
    // "sent": when the client sent it, in milliseconds since 1970 UTC; -1 when absent.
    qint64 sentMs = -1;
    // "serial": the serial number of the module it is meant for, in hexadecimal as the module
    // message gives it; empty when absent.
    QString serial;
    // Empty when the payload is one well-formed command; else "invalid" and why.
    QString error;
    QString message;
};

// One compact JSON object with exactly one command key and the optional "id", "sent" and
// "serial".
RemoteCommand parseRemoteCommand(const QByteArray &payload);

// At most so many events in any one second: accepted commands per module (5), refusal lines per
// module (10).
class CommandRate
{
public:
    static constexpr int PerSecond = 5;
    static constexpr int MostPerSecond = 16;
    explicit CommandRate(int perSecond = PerSecond) : limit(qBound(1, perSecond, MostPerSecond)) {}
    // True, and counted, when an event at `nowMs` keeps within the limit.
    bool take(qint64 nowMs);

private:
    int limit;
    qint64 accepted[MostPerSecond] = {};
    int taken = 0; // how many of `accepted` hold a time
    int next = 0;  // the oldest entry once all hold one
};

struct RemoteConditions
{
    bool allowed = false;  // the operator's "Allow Remote Commands"
    bool retained = false; // the broker delivered a retained message
    // Another program publishes under the same prefix (its host name); empty when none.
    QString conflictHost;
    // Whether the newest reading may carry a command (see ModuleSession::commandFreshness).
    CommandFreshness freshness = CommandFreshness::NoTick;
    // The module's serial number from the newest tick; -1 before one.
    int serialNumber = -1;
    // The wall clock at judgement and the largest allowed distance of "sent" from it.
    qint64 wallClockMs = 0;
    qint64 maxAgeMs = DefaultCommandMaxAgeMs;
    ResolutionSelection selection;
    // The command's channel (0 = A) and the module's ceilings: a set voltage above the channel's
    // is refused as the dialog would not take it.
    int channel = 0;
    VoltageCeilings ceilings;
};

struct RemoteVerdict
{
    QString error; // empty: execute
    // Why it was refused or failed; for a command carried out, what the operator must know.
    QString message;
    CheckedEntry entry; // the value as the dialog would take it; not for "clear"
};

// Refusals in this order: conflict, disabled, retained, invalid, expired, wrong_module,
// out_of_range, stale, busy. Only a command that passes everything else is counted against
// `rate` at `nowMs` (monotonic).
RemoteVerdict judgeRemoteCommand(const RemoteCommand &command, const RemoteConditions &conditions,
                                 CommandRate *rate, qint64 nowMs);

// The writes of an accepted command; empty for "clear", which the session does on its latch.
WriteList remoteCommandWrites(const RemoteCommand &command, const RemoteVerdict &verdict,
                              int channel, const ResolutionSelection &selection);

// The value the module was given, in volts, volts per second or amperes.
double writtenValue(const RemoteCommand &command, const WriteList &writes,
                    const ResolutionSelection &selection);

// {"id": ..., "ok": true, "command": ..., "value": ...} (with "message" when the verdict has
// one) or {"id": ..., "ok": false, "error": ..., "message": ...}.
QJsonObject remoteAnswer(const RemoteCommand &command, const RemoteVerdict &verdict,
                         double written);

// "channel A Vset 1500 V", in the units of the command's dialog.
QString remoteCommandText(const RemoteCommand &command, int channel, const RemoteVerdict &verdict,
                          double written);

// One debug line per command: module, channel, command, value and result. A payload that is not
// a command shows itself only up to 200 bytes; every text from the network is escaped.
QString remoteLogLine(quint32 baseAddress, int channel, const RemoteCommand &command,
                      const QByteArray &payload, const RemoteVerdict &verdict);

// A command an attached panel sends to a module's service: what the local dialog's writes would
// be, as the values the service turns back into the same register words.
struct OutgoingCommand
{
    int channel = 0;
    RemoteCommand command;
};

// The commands that make the service write `writes`: a set voltage, a ramp speed (with the
// set voltage it re-sends), a current limit in amperes of the selection's resolution. A re-sent
// set voltage on its own is no command.
QVector<OutgoingCommand> outgoingCommands(const WriteList &writes,
                                          const ResolutionSelection &selection);
OutgoingCommand outgoingClear(int channel);
// One compact JSON object with the command's key, its "id", "sent" and the module's "serial" in
// hexadecimal as the module message gives it.
QByteArray outgoingPayload(const RemoteCommand &command, qint64 sentMs, quint16 serialNumber);
// "channel A Vset 1500 V", as the service's status bar says it when the command is done.
QString outgoingText(const OutgoingCommand &outgoing, const ResolutionSelection &selection);

} // namespace Brelk

#endif // REMOTECOMMAND_H
