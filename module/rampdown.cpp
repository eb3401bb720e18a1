#include "rampdown.h"

#include "display.h"

namespace Brelk {

RampDownPlan planRampDown(const QVector<RampDownModule> &modules, qint64 nowMs)
{
    RampDownPlan plan;
    for (int m = 0; m < modules.size(); ++m) {
        const RampDownModule &module = modules.at(m);
        const Reading *reading = module.reading;
        if (!reading || module.stale || nowMs - module.tickEndMs > RampDownAnswerWindowMs) {
            plan.notAnswering.push_back(m);
            continue;
        }
        for (int ch = 0; ch < 2; ++ch) {
            const double volts = setVolts(*reading, ch);
            if (volts > 0)
                plan.channels.push_back({m, ch, voltsText(volts)});
        }
    }
    return plan;
}

QString rampDownQuestion(const QVector<RampDownModule> &modules, const RampDownPlan &plan)
{
    QStringList lines;
    if (plan.channels.isEmpty()) {
        lines << tr("No channel of an answering module has a set voltage above 0 V.");
    } else {
        lines << tr("Set the voltage of these channels to 0 V?");
        for (const RampDownPlan::Channel &channel : plan.channels) {
            lines << tr("%1, channel %2: %3")
                         .arg(modules.at(channel.module).label,
                              QString(QLatin1Char(char('A' + channel.channel))),
                              channel.setVoltage);
        }
    }
    if (!plan.notAnswering.isEmpty()) {
        lines << QString() << tr("Skipped, not answering:");
        for (int m : plan.notAnswering)
            lines << modules.at(m).label;
    }
    return lines.join(QLatin1Char('\n'));
}

WriteList rampDownWrites(const RampDownPlan::Channel &channel)
{
    return setVoltageWrites(channel.channel, 0);
}

QString moduleLabel(const QString &name, quint32 address)
{
    if (name.isEmpty())
        return baseAddressText(address);
    return tr("%1 (%2)").arg(name, baseAddressText(address));
}

} // namespace Brelk
