// Ramp Down All, planned before anything is written: which channels of the crate get a set
// voltage of 0, and which modules are passed over because they have not answered lately. A
// module's set voltages are known only from a recent complete tick; one older than a second may
// no longer hold, and a write to a module that does not answer would go nowhere. The age of a
// tick is measured on the monotonic clock, so that a step of the wall clock misjudges no module.
#ifndef RAMPDOWN_H
#define RAMPDOWN_H

#include "commands.h"
#include "reading.h"

#include <QString>
#include <QVector>

namespace Brelk {

// A module as the plan sees it, in the order of the tick.
struct RampDownModule
{
    // How the operator knows it: "Drift chamber (0xDC00)", or "0xDC00" without a name.
    QString label;
    // Its last complete tick at its current address on this connection; null before one.
    const Reading *reading = nullptr;
    // When that tick ended, on the monotonic clock (see monotonicMs).
    qint64 tickEndMs = 0;
    // Its readings are marked stale: ticks missed, the poll stopped or the connection lost.
    bool stale = false;
};

struct RampDownPlan
{
    struct Channel
    {
        int module; // index into the modules the plan was made from
        int channel;
        QString setVoltage; // as the form shows it: "1500 V"
    };
    // First module first, channel A before B.
    QVector<Channel> channels;
    // Indexes of the modules without a complete tick in the last second, or with stale readings.
    QVector<int> notAnswering;
};

// A complete tick at most this old counts as the module answering.
constexpr qint64 RampDownAnswerWindowMs = 1000;

// Every channel with a set voltage above 0 of every module that answered within the last second;
// `nowMs` on the monotonic clock.
RampDownPlan planRampDown(const QVector<RampDownModule> &modules, qint64 nowMs);

// The confirmation's text: one line per channel, then the modules that are skipped.
QString rampDownQuestion(const QVector<RampDownModule> &modules, const RampDownPlan &plan);

// The writes of one planned channel.
WriteList rampDownWrites(const RampDownPlan::Channel &channel);

// "Drift chamber (0xDC00)", or "0xDC00" for a module without a name.
QString moduleLabel(const QString &name, quint32 address);

} // namespace Brelk

#endif // RAMPDOWN_H
