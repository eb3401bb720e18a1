#include "remotecommand.h"

#include "display.h"
#include "reading.h"
#include "registermap.h"

#include <QJsonDocument>
#include <QStringList>

#include <cmath>

namespace Brelk {

namespace {

struct CommandKey
{
    const char *key;
    RemoteAction action;
    Quantity quantity;
    const char *name; // as the window names the value
};

const CommandKey CommandKeys[] = {
    {"vset", RemoteAction::SetVoltage, Quantity::SetVoltage, "Vset"},
    {"ramp", RemoteAction::RampSpeed, Quantity::RampSpeed, "Ramp"},
    {"limit_i", RemoteAction::SoftLimitI, Quantity::SoftLimitI, "Limit I"},
    {"limit_i2", RemoteAction::SoftLimitI2, Quantity::SoftLimitI2, "Limit I2"},
    {"clear", RemoteAction::Clear, Quantity::SetVoltage, "Clear events"},
};

const CommandKey &commandKey(RemoteAction action)
{
    for (const CommandKey &key : CommandKeys) {
        if (key.action == action)
            return key;
    }
    return CommandKeys[0];
}

const int LoggedPayloadBytes = 200;

// The members of the top-level object as written, counted on text that is known to be valid
// JSON: the parsed object keeps only one of two equal keys.
int writtenMemberCount(const QByteArray &json)
{
    int depth = 0;
    int members = 0;
    bool inString = false;
    for (int i = 0; i < json.size(); ++i) {
        const char c = json.at(i);
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '{':
        case '[':
            ++depth;
            break;
        case '}':
        case ']':
            --depth;
            break;
        case ':':
            if (depth == 1)
                ++members;
            break;
        default:
            break;
        }
    }
    return members;
}

RemoteCommand invalid(RemoteCommand command, const QString &message)
{
    command.error = QLatin1String(RemoteError::Invalid);
    command.message = message;
    return command;
}

} // namespace

QString parseCommandEnvelope(const QByteArray &payload, CommandEnvelope *envelope)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return QStringLiteral("not JSON: %1").arg(parseError.errorString());
    if (!document.isObject())
        return QStringLiteral("not a JSON object");
    envelope->object = document.object();
    const QJsonValue id = envelope->object.value(QLatin1String("id"));
    const bool usableId = id.isString() || id.isDouble();
    if (usableId)
        envelope->id = id;
    if (writtenMemberCount(payload) != envelope->object.size())
        return QStringLiteral("a key appears more than once");
    if (!id.isUndefined() && !usableId)
        return QStringLiteral("\"id\" must be a string or a number");
    const QJsonValue sent = envelope->object.value(QLatin1String("sent"));
    if (!sent.isUndefined()) {
        const double sentMs = sent.toDouble(-1);
        if (!sent.isDouble() || !(sentMs >= 0 && sentMs < 1e15) || sentMs != std::floor(sentMs))
            return QStringLiteral("\"sent\" takes milliseconds since 1970 UTC");
        envelope->sentMs = qint64(sentMs);
    }
    return QString();
}

RemoteCommand parseRemoteCommand(const QByteArray &payload)
{
    RemoteCommand command;
    CommandEnvelope envelope;
    const QString problem = parseCommandEnvelope(payload, &envelope);
    command.id = envelope.id;
    command.sentMs = envelope.sentMs;
    if (!problem.isEmpty())
        return invalid(command, problem);
    const QJsonObject &object = envelope.object;
    const QJsonValue serial = object.value(QLatin1String("serial"));
    if (!serial.isUndefined()) {
        bool hex = false;
        const QString text = serial.toString();
        text.toUInt(&hex, 16);
        if (!serial.isString() || !hex || text.size() > 4 || text.startsWith(QLatin1Char('+')) ||
            text.startsWith(QLatin1Char('-')) ||
            text.contains(QLatin1Char('x'), Qt::CaseInsensitive))
            return invalid(command, QStringLiteral("\"serial\" takes the module's serial number "
                                                   "in hexadecimal, as \"2101\""));
        command.serial = text;
    }

    QStringList found;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.key() == QLatin1String("id") || it.key() == QLatin1String("sent") ||
            it.key() == QLatin1String("serial"))
            continue;
        bool known = false;
        for (const CommandKey &key : CommandKeys)
            known = known || it.key() == QLatin1String(key.key);
        if (!known)
            return invalid(command, QStringLiteral("unknown key \"%1\"").arg(it.key().left(40)));
        found << it.key();
    }
    if (found.isEmpty())
        return invalid(command, QStringLiteral("no command key (vset, ramp, limit_i, limit_i2 "
                                               "or clear)"));
    if (found.size() > 1)
        return invalid(
            command,
            QStringLiteral("more than one command: %1").arg(found.join(QStringLiteral(", "))));

    command.key = found.first();
    for (const CommandKey &key : CommandKeys) {
        if (command.key == QLatin1String(key.key))
            command.action = key.action;
    }
    const QJsonValue value = object.value(command.key);
    if (command.action == RemoteAction::Clear) {
        if (value != QJsonValue(true))
            return invalid(command, QStringLiteral("\"clear\" takes true"));
        return command;
    }
    if (!value.isDouble())
        return invalid(command, QStringLiteral("\"%1\" takes a number").arg(command.key));
    command.value = value.toDouble();
    if (!std::isfinite(command.value))
        return invalid(command, QStringLiteral("\"%1\" is not a finite number").arg(command.key));
    return command;
}

bool CommandRate::take(qint64 nowMs)
{
    if (taken == limit) {
        if (nowMs - accepted[next] < 1000)
            return false;
        accepted[next] = nowMs;
        next = (next + 1) % limit;
        return true;
    }
    accepted[taken++] = nowMs;
    return true;
}

RemoteVerdict judgeRemoteCommand(const RemoteCommand &command, const RemoteConditions &conditions,
                                 CommandRate *rate, qint64 nowMs)
{
    RemoteVerdict verdict;
    const auto refuse = [&verdict](const char *error, const QString &message) {
        verdict.error = QLatin1String(error);
        verdict.message = message;
        return verdict;
    };
    // Both programs under the prefix answer the same command: both say why neither acts.
    if (!conditions.conflictHost.isEmpty())
        return refuse(RemoteError::Conflict,
                      QStringLiteral("the prefix is also used by %1; no module under it takes "
                                     "commands until one of them is gone")
                          .arg(conditions.conflictHost));
    if (!conditions.allowed)
        return refuse(RemoteError::Disabled,
                      QStringLiteral("remote commands are not allowed at the panel"));
    if (conditions.retained)
        return refuse(RemoteError::Retained,
                      QStringLiteral("a retained command is never executed; publish it without "
                                     "the retain flag"));
    if (!command.error.isEmpty())
        return refuse(RemoteError::Invalid, command.message);
    if (command.sentMs >= 0) {
        const qint64 age = conditions.wallClockMs - command.sentMs;
        if (age > conditions.maxAgeMs || -age > conditions.maxAgeMs)
            return refuse(RemoteError::Expired,
                          QStringLiteral("sent %1 ms %2 this clock; at most %3 ms are allowed")
                              .arg(qAbs(age))
                              .arg(age > 0 ? QStringLiteral("before") : QStringLiteral("after"))
                              .arg(conditions.maxAgeMs));
    }
    if (!command.serial.isEmpty() &&
        (conditions.serialNumber < 0 ||
         command.serial.toUInt(nullptr, 16) != uint(conditions.serialNumber)))
        return refuse(RemoteError::WrongModule,
                      conditions.serialNumber < 0
                          ? QStringLiteral("the module's serial number is not known yet")
                          : QStringLiteral("the module here has serial number %1")
                                .arg(QString::number(conditions.serialNumber, 16)));
    if (command.action != RemoteAction::Clear) {
        verdict.entry = checkEntry(commandKey(command.action).quantity, command.value,
                                   conditions.selection, conditions.ceilings, conditions.channel);
        if (verdict.entry.problem == EntryProblem::NotOffered)
            return refuse(RemoteError::OutOfRange,
                          QStringLiteral("no second current range is selected at the panel"));
        if (verdict.entry.problem != EntryProblem::None)
            return refuse(RemoteError::OutOfRange, entryProblemText(verdict.entry, command.key));
    }
    switch (conditions.freshness) {
    case CommandFreshness::Current:
        break;
    case CommandFreshness::NoTick:
        return refuse(RemoteError::Stale,
                      QStringLiteral("the module has not been read since the connection or the "
                                     "address change"));
    case CommandFreshness::TickTooOld:
        return refuse(RemoteError::Stale, QStringLiteral("the module's readings are not current"));
    case CommandFreshness::WaitedTooLong:
        return refuse(
            RemoteError::Stale,
            QStringLiteral("the command waited more than %1 ms in the program").arg(CommandWaitMs));
    }
    if (rate && !rate->take(nowMs))
        return refuse(
            RemoteError::Busy,
            QStringLiteral("more than %1 commands in one second").arg(CommandRate::PerSecond));
    return verdict;
}

WriteList remoteCommandWrites(const RemoteCommand &command, const RemoteVerdict &verdict,
                              int channel, const ResolutionSelection &selection)
{
    if (!verdict.error.isEmpty() || command.action == RemoteAction::Clear)
        return WriteList();
    return entryWrites(commandKey(command.action).quantity, channel, verdict.entry.entered,
                       selection);
}

double writtenValue(const RemoteCommand &command, const WriteList &writes,
                    const ResolutionSelection &selection)
{
    if (writes.isEmpty())
        return 0;
    const double count = writes.first().word;
    switch (command.action) {
    case RemoteAction::SetVoltage:
    case RemoteAction::RampSpeed:
        return count;
    case RemoteAction::SoftLimitI:
        return count * amperesPerCount(selection.currentResolution);
    case RemoteAction::SoftLimitI2:
        return count * amperesPerCount(selection.secondRange);
    case RemoteAction::Clear:
        break;
    }
    return 0;
}

QJsonObject remoteAnswer(const RemoteCommand &command, const RemoteVerdict &verdict, double written)
{
    QJsonObject answer{{QStringLiteral("id"), command.id}};
    if (!verdict.error.isEmpty()) {
        answer.insert(QStringLiteral("ok"), false);
        answer.insert(QStringLiteral("error"), verdict.error);
        answer.insert(QStringLiteral("message"), verdict.message);
        return answer;
    }
    answer.insert(QStringLiteral("ok"), true);
    if (!verdict.message.isEmpty())
        answer.insert(QStringLiteral("message"), verdict.message);
    answer.insert(QStringLiteral("command"), command.key);
    answer.insert(QStringLiteral("value"),
                  command.action == RemoteAction::Clear ? QJsonValue(true) : QJsonValue(written));
    return answer;
}

QString remoteCommandText(const RemoteCommand &command, int channel, const RemoteVerdict &verdict,
                          double written)
{
    QString text = QStringLiteral("channel %1 %2")
                       .arg(QChar('A' + channel))
                       .arg(QLatin1String(commandKey(command.action).name));
    if (command.action == RemoteAction::Clear)
        return text;
    const EntryRange &range = verdict.entry.range;
    return text + QLatin1Char(' ') + shortNumber(written * range.factor, range.decimals + 3) +
           QLatin1Char(' ') + range.unit;
}

QString remoteLogLine(quint32 baseAddress, int channel, const RemoteCommand &command,
                      const QByteArray &payload, const RemoteVerdict &verdict)
{
    QString what;
    if (command.key.isEmpty() || !command.error.isEmpty()) {
        what = payload.size() <= LoggedPayloadBytes
                   ? escapedForLog(QString::fromUtf8(payload))
                   : QStringLiteral("a payload of %1 bytes").arg(payload.size());
    } else if (command.action == RemoteAction::Clear) {
        what = command.key;
    } else {
        what = QStringLiteral("%1 %2").arg(command.key).arg(command.value, 0, 'g', 12);
    }
    QString result;
    if (verdict.error == QLatin1String(RemoteError::WriteFailed))
        result = QStringLiteral("failed, %1: %2").arg(verdict.error, verdict.message);
    else if (!verdict.error.isEmpty())
        result = QStringLiteral("refused, %1: %2").arg(verdict.error, verdict.message);
    else if (!verdict.message.isEmpty())
        result = QStringLiteral("done; %1").arg(verdict.message);
    else
        result = QStringLiteral("done");
    result = escapedForLog(result);
    return QStringLiteral("Remote command: module 0x%1 channel %2 %3: %4")
        .arg(QString::number(baseAddress, 16).toUpper())
        .arg(QChar('A' + channel))
        .arg(what, result);
}

QVector<OutgoingCommand> outgoingCommands(const WriteList &writes,
                                          const ResolutionSelection &selection)
{
    QVector<OutgoingCommand> commands;
    for (const RegisterWrite &write : writes) {
        OutgoingCommand outgoing;
        RemoteCommand &command = outgoing.command;
        bool found = false;
        for (int ch = 0; ch < 2 && !found; ++ch) {
            outgoing.channel = ch;
            found = true;
            if (write.reg == regVsetWrite[ch] && !write.resendsSetVoltage) {
                command.action = RemoteAction::SetVoltage;
                command.value = write.word;
            } else if (write.reg == regRamp[ch]) {
                command.action = RemoteAction::RampSpeed;
                command.value = write.word;
            } else if (write.reg == regSoftLimitI[ch]) {
                command.action = RemoteAction::SoftLimitI;
                command.value = write.word * amperesPerCount(selection.currentResolution);
            } else if (write.reg == regSoftLimitI2[ch]) {
                command.action = RemoteAction::SoftLimitI2;
                command.value = write.word * amperesPerCount(selection.secondRange);
            } else {
                found = false;
            }
        }
        if (!found)
            continue;
        command.key = QLatin1String(commandKey(command.action).key);
        commands.push_back(outgoing);
    }
    return commands;
}

OutgoingCommand outgoingClear(int channel)
{
    OutgoingCommand outgoing;
    outgoing.channel = channel;
    outgoing.command.action = RemoteAction::Clear;
    outgoing.command.key = QLatin1String(commandKey(RemoteAction::Clear).key);
    return outgoing;
}

QByteArray outgoingPayload(const RemoteCommand &command, qint64 sentMs, quint16 serialNumber)
{
    QJsonObject object{{QStringLiteral("sent"), double(sentMs)},
                       {QStringLiteral("serial"), QString::number(serialNumber, 16)}};
    if (!command.id.isNull())
        object.insert(QStringLiteral("id"), command.id);
    if (command.action == RemoteAction::Clear) {
        object.insert(command.key, true);
    } else {
        // Twelve significant digits: a count times the resolution, such as 123 x 1 uA, reads back
        // as 0.000123 and not as the binary neighbour that rounds down to 122 counts.
        object.insert(command.key, QString::number(command.value, 'g', 12).toDouble());
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString outgoingText(const OutgoingCommand &outgoing, const ResolutionSelection &selection)
{
    RemoteVerdict verdict;
    if (outgoing.command.action != RemoteAction::Clear)
        verdict.entry.range = entryRange(commandKey(outgoing.command.action).quantity, selection);
    return remoteCommandText(outgoing.command, outgoing.channel, verdict, outgoing.command.value);
}

} // namespace Brelk
