// Channels of several modules that feed the electrodes of one detector, in the order of the
// electrodes: a `[Group_GEM1]` section of the settings file, the checks that make a group safe to
// act on, and what a trip of one channel makes the others do. When one electrode trips to 0 V
// while its neighbour stays at 3 kV, the foil or the wires between them see the full difference:
// the group's other channels are brought down in the same tick. Pure: no bus, no file.
#ifndef CHANNELGROUP_H
#define CHANNELGROUP_H

#include "commands.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

namespace Brelk {

// One channel of the crate: "DD00A" is channel A of the module at 0xDD00.
struct GroupChannel
{
    quint32 address = 0;
    int channel = 0;

    QString text() const;
    bool operator==(const GroupChannel &other) const
    {
        return address == other.address && channel == other.channel;
    }
};

// What the other channels of a group do when one of them trips.
enum class OnTrip {
    // The trip ramp speed, then set voltage 0.
    RampDown,
    // Set voltage 0 at the ramp speed the module holds.
    Off,
    None,
};

struct ChannelGroup
{
    QString name;
    QVector<GroupChannel> channels;
    // Volts between neighbours in the order of `channels`; 0 when the group sets none.
    double maxDifference = 0;
    OnTrip onTrip = OnTrip::RampDown;
    // Volts per second for OnTrip::RampDown: by default the fastest the module allows.
    double tripRamp = RampSpeedMaximum;
    // Set voltages, one per channel; empty when the group has none.
    QVector<double> targets;
};

// "DD00A" or "dd00b"; false for anything else, an address that is no multiple of 0x100 included.
bool parseGroupChannel(const QString &text, GroupChannel *channel);

// A group from its section's keys ("Channels", "MaxDifference", "OnTrip", "TripRamp", "Targets").
// Empty on success, else why the group is refused: a key it does not know, a value it cannot
// take, fewer than two channels, a channel named twice, or targets that do not match the channels.
QString parseChannelGroup(const QString &name, const QHash<QString, QString> &keys,
                          ChannelGroup *group);

// The groups a crate with the modules at `addresses` can act on: a group that names a channel of
// a module that is not configured, or a channel that an earlier group holds, is left out with a
// line in `problems` naming it and why.
QVector<ChannelGroup> groupsOfCrate(const QVector<ChannelGroup> &groups,
                                    const QVector<quint32> &addresses, QStringList *problems);

// A channel counts as tripped while TRP or INH is latched or its state is "Error".
bool channelTripped(quint16 statusWord, quint16 latchedEvents, int channel);

// The group's other channels in the order they are brought down after a trip of `tripped`: the
// nearest electrodes first, the one before the one after at equal distance.
QVector<int> outwardOrder(int count, int tripped);

// The writes that bring one channel of the group down after a trip of another.
WriteList tripWrites(const ChannelGroup &group, int channel);

// The line of a trip: "Group GEM1: channel DD00A tripped, ramping DD00B, DC00A down", with the
// channels that could not be brought down after it.
QString tripLine(const ChannelGroup &group, int tripped, const QVector<int> &broughtDown,
                 const QStringList &notBroughtDown);

} // namespace Brelk

#endif // CHANNELGROUP_H
