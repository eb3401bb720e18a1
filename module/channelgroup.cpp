#include "channelgroup.h"

#include "registermap.h"

#include <QRegularExpression>

namespace Brelk {

namespace {

const QStringList GroupKeys{QStringLiteral("Channels"), QStringLiteral("MaxDifference"),
                            QStringLiteral("OnTrip"), QStringLiteral("TripRamp"),
                            QStringLiteral("Targets")};

QStringList listOf(const QString &value)
{
    QStringList items;
    for (const QString &item : value.split(QLatin1Char(','))) {
        if (!item.trimmed().isEmpty() || value.contains(QLatin1Char(',')))
            items << item.trimmed();
    }
    return items;
}

bool parseVolts(const QString &text, double *volts)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !(value >= 0) || value > SetVoltageMaximum)
        return false;
    *volts = value;
    return true;
}

} // namespace

QString GroupChannel::text() const
{
    return QStringLiteral("%1%2")
        .arg(address, 4, 16, QLatin1Char('0'))
        .toUpper()
        .arg(QChar('A' + channel));
}

bool parseGroupChannel(const QString &text, GroupChannel *channel)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9A-Fa-f]{2})00([ABab])$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    channel->address = match.captured(1).toUInt(nullptr, 16) << 8;
    channel->channel = match.captured(2).toUpper() == QLatin1String("A") ? 0 : 1;
    return true;
}

QString parseChannelGroup(const QString &name, const QHash<QString, QString> &keys,
                          ChannelGroup *group)
{
    // The name is a level of the group's MQTT topic.
    static const QRegularExpression nameRule(QStringLiteral("^[A-Za-z0-9_-]+$"));
    if (!nameRule.match(name).hasMatch())
        return QStringLiteral("a group's name takes letters, digits, - and _ only");
    ChannelGroup parsed;
    parsed.name = name;
    for (auto key = keys.cbegin(); key != keys.cend(); ++key) {
        if (!GroupKeys.contains(key.key()))
            return QStringLiteral("unknown key %1").arg(key.key());
    }
    for (const QString &item : listOf(keys.value(QStringLiteral("Channels")))) {
        GroupChannel channel;
        if (!parseGroupChannel(item, &channel))
            return QStringLiteral("Channels: \"%1\" is no channel such as DD00A").arg(item);
        if (parsed.channels.contains(channel))
            return QStringLiteral("Channels: %1 is named twice").arg(channel.text());
        parsed.channels << channel;
    }
    if (parsed.channels.size() < 2)
        return QStringLiteral("Channels must name at least two channels");
    if (keys.contains(QStringLiteral("MaxDifference")) &&
        (!parseVolts(keys.value(QStringLiteral("MaxDifference")), &parsed.maxDifference) ||
         parsed.maxDifference <= 0))
        return QStringLiteral("MaxDifference takes volts above 0, not \"%1\"")
            .arg(keys.value(QStringLiteral("MaxDifference")));
    const QString onTrip =
        keys.value(QStringLiteral("OnTrip"), QStringLiteral("rampdown")).trimmed();
    if (onTrip == QLatin1String("rampdown"))
        parsed.onTrip = OnTrip::RampDown;
    else if (onTrip == QLatin1String("off"))
        parsed.onTrip = OnTrip::Off;
    else if (onTrip == QLatin1String("none"))
        parsed.onTrip = OnTrip::None;
    else
        return QStringLiteral("OnTrip takes rampdown, off or none, not \"%1\"").arg(onTrip);
    if (keys.contains(QStringLiteral("TripRamp"))) {
        bool ok = false;
        const double speed = keys.value(QStringLiteral("TripRamp")).trimmed().toDouble(&ok);
        if (!ok || speed < RampSpeedMinimum || speed > RampSpeedMaximum)
            return QStringLiteral("TripRamp takes %1 to %2 V/s, not \"%3\"")
                .arg(RampSpeedMinimum)
                .arg(RampSpeedMaximum)
                .arg(keys.value(QStringLiteral("TripRamp")));
        parsed.tripRamp = speed;
    }
    if (keys.contains(QStringLiteral("Targets"))) {
        const QStringList targets = listOf(keys.value(QStringLiteral("Targets")));
        if (targets.size() != parsed.channels.size())
            return QStringLiteral("Targets names %1 set voltages for %2 channels")
                .arg(targets.size())
                .arg(parsed.channels.size());
        for (const QString &target : targets) {
            double volts = 0;
            if (!parseVolts(target, &volts))
                return QStringLiteral("Targets: \"%1\" is no set voltage").arg(target);
            parsed.targets << volts;
        }
    }
    *group = parsed;
    return QString();
}

QVector<ChannelGroup> groupsOfCrate(const QVector<ChannelGroup> &groups,
                                    const QVector<quint32> &addresses, QStringList *problems)
{
    QVector<ChannelGroup> kept;
    QHash<QString, QString> holders;
    for (const ChannelGroup &group : groups) {
        QString problem;
        for (const GroupChannel &channel : group.channels) {
            if (!addresses.contains(channel.address)) {
                problem =
                    QStringLiteral("channel %1 is on no configured module").arg(channel.text());
                break;
            }
            if (holders.contains(channel.text())) {
                problem = QStringLiteral("channel %1 is in group %2 already")
                              .arg(channel.text(), holders.value(channel.text()));
                break;
            }
        }
        if (!problem.isEmpty()) {
            problems->append(QStringLiteral("Group %1 is ignored: %2").arg(group.name, problem));
            continue;
        }
        for (const GroupChannel &channel : group.channels)
            holders.insert(channel.text(), group.name);
        kept << group;
    }
    return kept;
}

bool channelTripped(quint16 statusWord, quint16 latchedEvents, int channel)
{
    return (channelByte(latchedEvents, channel) & (EventTRP | EventINH)) ||
           (channelByte(statusWord, channel) & StatusError);
}

QVector<int> outwardOrder(int count, int tripped)
{
    QVector<int> order;
    for (int distance = 1; distance < count; ++distance) {
        if (tripped - distance >= 0)
            order << tripped - distance;
        if (tripped + distance < count)
            order << tripped + distance;
    }
    return order;
}

WriteList tripWrites(const ChannelGroup &group, int channel)
{
    const int ch = group.channels.at(channel).channel;
    // The module takes a new ramp speed with the next set voltage: the 0 V that follows.
    WriteList writes;
    if (group.onTrip == OnTrip::RampDown)
        writes << RegisterWrite{regRamp[ch], registerCount(group.tripRamp)};
    if (group.onTrip != OnTrip::None)
        writes << setVoltageWrites(ch, 0);
    return writes;
}

QString tripLine(const ChannelGroup &group, int tripped, const QVector<int> &broughtDown,
                 const QStringList &notBroughtDown)
{
    QString line = QStringLiteral("Group %1: channel %2 tripped")
                       .arg(group.name, group.channels.at(tripped).text());
    QStringList channels;
    for (int index : broughtDown)
        channels << group.channels.at(index).text();
    if (!channels.isEmpty()) {
        line +=
            group.onTrip == OnTrip::RampDown
                ? QStringLiteral(", ramping %1 down").arg(channels.join(QStringLiteral(", ")))
                : QStringLiteral(", setting %1 to 0 V").arg(channels.join(QStringLiteral(", ")));
    }
    for (const QString &reason : notBroughtDown)
        line += QStringLiteral("; ") + reason;
    return line;
}

} // namespace Brelk
