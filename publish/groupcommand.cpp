#include "groupcommand.h"

#include "display.h"

#include <QRegularExpression>

namespace Brelk {

namespace {

const int LoggedPayloadBytes = 200;

GroupCommand invalid(GroupCommand command, const QString &message)
{
    command.error = QLatin1String(RemoteError::Invalid);
    command.message = message;
    return command;
}

} // namespace

GroupCommand parseGroupCommand(const QByteArray &payload)
{
    GroupCommand command;
    CommandEnvelope envelope;
    const QString problem = parseCommandEnvelope(payload, &envelope);
    command.id = envelope.id;
    command.sentMs = envelope.sentMs;
    if (!problem.isEmpty())
        return invalid(command, problem);
    const QJsonObject &object = envelope.object;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.key() != QLatin1String("id") && it.key() != QLatin1String("sent") &&
            it.key() != QLatin1String("ramp_to"))
            return invalid(command, QStringLiteral("unknown key \"%1\"").arg(it.key().left(40)));
    }
    const QString rampTo = object.value(QLatin1String("ramp_to")).toString();
    if (rampTo != QLatin1String("targets") && rampTo != QLatin1String("zero") &&
        rampTo != QLatin1String("stop"))
        return invalid(command, QStringLiteral("\"ramp_to\" takes \"targets\", \"zero\" or "
                                               "\"stop\""));
    command.rampTo = rampTo;
    return command;
}

QString groupOfCommandTopic(const QString &subtopic)
{
    static const QRegularExpression pattern(QStringLiteral("^group/([^/]+)/set$"));
    return pattern.match(subtopic).captured(1);
}

QString groupResultTopic(const QString &group)
{
    return QStringLiteral("group/%1/result").arg(group);
}

GroupCommandResult takeGroupCommand(const QString &group, const QByteArray &payload,
                                    const RemoteConditions &conditions, CommandRate *rate,
                                    qint64 nowMs, const GroupAction &act)
{
    const GroupCommand command = parseGroupCommand(payload);
    // The channel commands' rules that depend on no channel, judged on a command without one.
    RemoteCommand common;
    common.error = command.error;
    common.message = command.message;
    common.sentMs = command.sentMs;
    RemoteVerdict verdict = judgeRemoteCommand(common, conditions, rate, nowMs);
    if (verdict.error.isEmpty())
        verdict = act(group, command.rampTo);

    GroupCommandResult result;
    result.refused = !verdict.error.isEmpty();
    result.answer.insert(QStringLiteral("id"), command.id);
    if (result.refused) {
        result.answer.insert(QStringLiteral("ok"), false);
        result.answer.insert(QStringLiteral("error"), verdict.error);
        result.answer.insert(QStringLiteral("message"), verdict.message);
    } else {
        result.answer.insert(QStringLiteral("ok"), true);
        if (!verdict.message.isEmpty())
            result.answer.insert(QStringLiteral("message"), verdict.message);
        result.answer.insert(QStringLiteral("command"), QStringLiteral("ramp_to"));
        result.answer.insert(QStringLiteral("value"), command.rampTo);
        result.takenText =
            QStringLiteral("Remote command: group %1 ramp to %2").arg(group, command.rampTo);
        if (!verdict.message.isEmpty())
            result.takenText += QStringLiteral("; ") + verdict.message;
    }

    QString what;
    if (!command.error.isEmpty())
        what = payload.size() <= LoggedPayloadBytes
                   ? escapedForLog(QString::fromUtf8(payload))
                   : QStringLiteral("a payload of %1 bytes").arg(payload.size());
    else
        what = QStringLiteral("ramp_to %1").arg(command.rampTo);
    QString outcome;
    if (verdict.error == QLatin1String(RemoteError::WriteFailed))
        outcome = QStringLiteral("failed, %1: %2").arg(verdict.error, verdict.message);
    else if (result.refused)
        outcome = QStringLiteral("refused, %1: %2").arg(verdict.error, verdict.message);
    else if (!verdict.message.isEmpty())
        outcome = QStringLiteral("done; %1").arg(verdict.message);
    else
        outcome = QStringLiteral("done");
    result.logLine = QStringLiteral("Remote command: group %1 %2: %3")
                         .arg(escapedForLog(group.left(64)), what, escapedForLog(outcome));
    return result;
}

} // namespace Brelk
