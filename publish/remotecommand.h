// Commands that arrive over MQTT on `<prefix>/a/set` and `<prefix>/b/set`: the payload parsed
// into one command, the panel's verdict on it (in the order the refusals are checked), the
// answer published on `<prefix>/<channel>/result`, the debug line and the status-bar text.
// Pure functions and one small rate counter; the publisher carries them out.
#ifndef REMOTECOMMAND_H
#define REMOTECOMMAND_H

#include "commandentry.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

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
} // namespace RemoteError

struct RemoteCommand
{
    QJsonValue id; // a string or a number, echoed in the answer; null when absent or unusable
    QString key;   // "vset", "ramp", "limit_i", "limit_i2" or "clear"; empty when unknown
    RemoteAction action = RemoteAction::Clear;
    double value = 0; // volts, volts per second or amperes; unused for "clear"
    // Empty when the payload is one well-formed command; else "invalid" and why.
    QString error;
    QString message;
};

// One compact JSON object with exactly one command key and an optional "id".
RemoteCommand parseRemoteCommand(const QByteArray &payload);

// At most this many accepted commands in any one second, per module.
class CommandRate
{
public:
    static constexpr int PerSecond = 5;
    // True, and counted, when a command at `nowMs` keeps within the limit.
    bool take(qint64 nowMs);

private:
    qint64 accepted[PerSecond] = {};
    int taken = 0; // how many of `accepted` hold a time
    int next = 0;  // the oldest entry once all hold one
};

struct RemoteConditions
{
    bool allowed = false;  // the operator's "Allow Remote Commands"
    bool retained = false; // the broker delivered a retained message
    // The readings are stale, or no tick completed since the connection or the address change.
    bool stale = true;
    ResolutionSelection selection;
};

struct RemoteVerdict
{
    QString error; // empty: execute
    QString message;
    CheckedEntry entry; // the value as the dialog would take it; not for "clear"
};

// Refusals in this order: disabled, retained, invalid, out_of_range, stale, busy. Only a
// command that passes everything else is counted against `rate` at `nowMs`.
RemoteVerdict judgeRemoteCommand(const RemoteCommand &command, const RemoteConditions &conditions,
                                 CommandRate *rate, qint64 nowMs);

// The writes of an accepted command; empty for "clear", which the session does on its latch.
WriteList remoteCommandWrites(const RemoteCommand &command, const RemoteVerdict &verdict,
                              int channel, const ResolutionSelection &selection,
                              const Reading *polled);

// The value the module was given, in volts, volts per second or amperes.
double writtenValue(const RemoteCommand &command, const WriteList &writes,
                    const ResolutionSelection &selection);

// {"id": ..., "ok": true, "command": ..., "value": ...} or
// {"id": ..., "ok": false, "error": ..., "message": ...}.
QJsonObject remoteAnswer(const RemoteCommand &command, const RemoteVerdict &verdict,
                         double written);

// "channel A Vset 1500 V", in the units of the command's dialog.
QString remoteCommandText(const RemoteCommand &command, int channel, const RemoteVerdict &verdict,
                          double written);

// One debug line per command: module, channel, command, value and result. A payload that is not
// a command shows itself only up to 200 bytes.
QString remoteLogLine(quint32 baseAddress, int channel, const RemoteCommand &command,
                      const QByteArray &payload, const RemoteVerdict &verdict);

} // namespace Brelk

#endif // REMOTECOMMAND_H
