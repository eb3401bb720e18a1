// A channel group ramped to its targets or to zero in steps, so that no two neighbouring
// electrodes (in the order of the group's channels) ever stand further apart than the group's
// MaxDifference, not at a step and not on the way between two steps, whatever ramp speed each
// module holds. The steps are planned before anything is written; the runtime writes a step once
// every channel's measured voltage has reached the one before. Pure: no bus, no clock.
#ifndef GROUPRAMP_H
#define GROUPRAMP_H

#include "channelgroup.h"
#include "commands.h"

#include <QString>
#include <QVector>

namespace Brelk {

enum class GroupRampDirection { Up, Down };

// The set voltages of the step after `current` on the way to `targets`, in volts, one per
// channel: each channel moves towards its target by at most `maxDifference`, and no further than
// keeps it within `maxDifference` of its neighbours both where they stand and where they go. Two
// neighbours that stand further apart already may not move apart any further. Without a
// difference (0), the targets at once.
QVector<double> nextGroupStep(const QVector<double> &current, const QVector<double> &targets,
                              double maxDifference);

// Every step from `start` to `targets`, the targets last; none when the group stands at its
// targets already. False when the neighbours' rule leaves no way on (targets of two neighbours
// further apart than `maxDifference`): `steps` then holds the steps up to where it sticks.
bool planGroupSteps(const QVector<double> &start, const QVector<double> &targets,
                    double maxDifference, QVector<QVector<double>> *steps);

// Every channel's measured voltage lies within the voltage deviation alarm's tolerance of its
// step's set voltage (see withinVoltageTolerance).
bool groupStepReached(const QVector<double> &measured, const QVector<double> &step,
                      double configuredTolerance);

// Why the group may not ramp up to its targets; empty when it may. `ceilings`: per channel of
// the group, the ceilings of its module. A group without Targets, a target above its channel's
// ceiling (VsetMaxA, VsetMaxB), and two neighbours' targets further apart than MaxDifference
// are refused before anything is written.
QString groupRampUpProblem(const ChannelGroup &group, const QVector<VoltageCeilings> &ceilings);

// The writes of one channel's set voltage at a step, in the module's counts.
WriteList groupStepWrites(const ChannelGroup &group, int channel, double volts);

} // namespace Brelk

#endif // GROUPRAMP_H
