#include "alarms.h"

#include "display.h"
#include "registermap.h"

#include <QStringList>

#include <cmath>

namespace Brelk {

namespace {

constexpr quint8 AmberEvents = EventQUA | EventVLIM;
constexpr double MinimumVoltageTolerance = 10.0;
constexpr double RelativeVoltageTolerance = 0.01;

} // namespace

AlarmLevel eventAlarm(quint8 latchedEvents)
{
    if (latchedEvents & RedEvents)
        return AlarmLevel::Red;
    if (latchedEvents & AmberEvents)
        return AlarmLevel::Amber;
    return AlarmLevel::None;
}

AlarmLevel stateAlarm(quint8 statusByte)
{
    return (statusByte & StatusError) ? AlarmLevel::Red : AlarmLevel::None;
}

double voltageTolerance(double setVolts, double configuredVolts)
{
    if (configuredVolts > 0)
        return configuredVolts;
    return std::max(MinimumVoltageTolerance, RelativeVoltageTolerance * setVolts);
}

AlarmLevel voltageDeviationAlarm(quint8 statusByte, double measuredVolts, double setVolts,
                                 double configuredTolerance)
{
    const bool stable = !(statusByte & (StatusError | StatusManual | StatusRamping));
    const bool hvOn = !(statusByte & StatusHvOff);
    if (!stable || !hvOn)
        return AlarmLevel::None;
    if (std::abs(measuredVolts - setVolts) > voltageTolerance(setVolts, configuredTolerance))
        return AlarmLevel::Amber;
    return AlarmLevel::None;
}

ChannelAlarms channelAlarms(quint8 statusByte, quint8 latchedEvents, double measuredVolts,
                            double setVolts, double configuredTolerance)
{
    ChannelAlarms alarms;
    alarms.events = eventAlarm(latchedEvents);
    alarms.state = stateAlarm(statusByte);
    alarms.voltageDeviation =
        voltageDeviationAlarm(statusByte, measuredVolts, setVolts, configuredTolerance);
    return alarms;
}

QString redAlarmText(quint8 statusByte, quint8 latchedEvents)
{
    QStringList red = eventNames(latchedEvents & RedEvents);
    if (stateAlarm(statusByte) == AlarmLevel::Red)
        red << QStringLiteral("Error");
    return red.join(QLatin1Char('+'));
}

double parseVoltageTolerance(const QString &text)
{
    bool ok = false;
    const double volts = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(volts) && volts > 0 ? volts : 0;
}

} // namespace Brelk
