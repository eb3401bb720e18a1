#include "groupramp.h"

#include "alarms.h"
#include "registermap.h"

#include <algorithm>
#include <cmath>

namespace Brelk {

namespace {

// A plan that needs more steps than this has gone wrong: 6000 V in steps of 1 V is fewer.
constexpr int MostSteps = 10000;

bool sameVolts(const QVector<double> &a, const QVector<double> &b)
{
    for (int i = 0; i < a.size(); ++i) {
        if (std::fabs(a.at(i) - b.at(i)) > 1e-9)
            return false;
    }
    return true;
}

} // namespace

// While two neighbours go from (a, b) to (a', b'), each at its own speed, the difference between
// them stays within the largest at the four corners (a, b), (a', b), (a, b'), (a', b'): the moves
// are held back until every corner keeps the difference. A pair further apart than the difference
// at the start keeps its own distance as its bound, so that it may only come closer.
QVector<double> nextGroupStep(const QVector<double> &current, const QVector<double> &targets,
                              double maxDifference)
{
    if (maxDifference <= 0)
        return targets;
    const int count = current.size();
    const auto bound = [&](int i, int j) {
        return std::max(maxDifference, std::fabs(current.at(i) - current.at(j)));
    };
    QVector<double> next(count);
    for (int i = 0; i < count; ++i) {
        const double move =
            std::clamp(targets.at(i) - current.at(i), -maxDifference, maxDifference);
        double volts = current.at(i) + move;
        for (int j : {i - 1, i + 1}) {
            if (j < 0 || j >= count)
                continue;
            volts = std::clamp(volts, current.at(j) - bound(i, j), current.at(j) + bound(i, j));
        }
        next[i] = volts;
    }
    // Where both neighbours arrive: a move is taken back towards where the channel stands, which
    // never breaks a corner that held.
    const auto pull = [&](int high, int low, double limit) {
        bool changed = false;
        if (next[high] - next[low] > limit && next[high] > current.at(high)) {
            next[high] = std::max(current.at(high), next[low] + limit);
            changed = true;
        }
        if (next[high] - next[low] > limit && next[low] < current.at(low)) {
            next[low] = std::min(current.at(low), next[high] - limit);
            changed = true;
        }
        return changed;
    };
    for (int round = 0; round < 4 * count; ++round) {
        bool changed = false;
        for (int i = 0; i + 1 < count; ++i) {
            changed = pull(i, i + 1, bound(i, i + 1)) || changed;
            changed = pull(i + 1, i, bound(i, i + 1)) || changed;
        }
        if (!changed)
            return next;
    }
    return current;
}

bool planGroupSteps(const QVector<double> &start, const QVector<double> &targets,
                    double maxDifference, QVector<QVector<double>> *steps)
{
    steps->clear();
    QVector<double> current = start;
    while (!sameVolts(current, targets)) {
        const QVector<double> next = nextGroupStep(current, targets, maxDifference);
        if (sameVolts(next, current) || steps->size() >= MostSteps)
            return false;
        steps->append(next);
        current = next;
    }
    return true;
}

bool groupStepReached(const QVector<double> &measured, const QVector<double> &step,
                      double configuredTolerance)
{
    for (int i = 0; i < step.size(); ++i) {
        if (!withinVoltageTolerance(measured.at(i), step.at(i), configuredTolerance))
            return false;
    }
    return true;
}

QString groupRampUpProblem(const ChannelGroup &group, const QVector<VoltageCeilings> &ceilings)
{
    if (group.targets.isEmpty())
        return QStringLiteral("group %1 has no Targets to ramp up to").arg(group.name);
    for (int i = 0; i < group.channels.size(); ++i) {
        const int ch = group.channels.at(i).channel;
        const std::optional<double> &ceiling = ceilings.at(i).volts[ch];
        if (ceiling && group.targets.at(i) > *ceiling)
            return QStringLiteral("%1 target %2 V is above the ceiling of %3")
                .arg(group.channels.at(i).text())
                .arg(group.targets.at(i))
                .arg(voltageCeilingText(ceilings.at(i), ch));
    }
    if (group.maxDifference > 0) {
        for (int i = 0; i + 1 < group.channels.size(); ++i) {
            if (std::fabs(group.targets.at(i) - group.targets.at(i + 1)) > group.maxDifference)
                return QStringLiteral("the targets of %1 and %2 (%3 V, %4 V) lie more than "
                                      "MaxDifference %5 V apart")
                    .arg(group.channels.at(i).text(), group.channels.at(i + 1).text())
                    .arg(group.targets.at(i))
                    .arg(group.targets.at(i + 1))
                    .arg(group.maxDifference);
        }
    }
    return QString();
}

WriteList groupStepWrites(const ChannelGroup &group, int channel, double volts)
{
    return setVoltageWrites(group.channels.at(channel).channel,
                            registerCount(volts / VoltsPerCount));
}

} // namespace Brelk
