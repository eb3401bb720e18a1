#include "alarms.h"

#include "display.h"
#include "registermap.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace Brelk {

namespace {

constexpr quint8 AmberEvents = EventQUA | EventVLIM;
constexpr double MinimumVoltageTolerance = 10.0;
// The relative tolerance is 1 %: one hundredth of the set voltage.
constexpr qint64 RelativeToleranceDivisor = 100;

// Every voltage on the module's scales is a whole number of 100 mV, and a configured tolerance
// finer than a millivolt means nothing: in whole millivolts the comparison is exact, so that a
// deviation of exactly the tolerance is never an alarm by a rounding error.
qint64 millivolts(double volts)
{
    // A tolerance beyond any module's range stays beyond it without overflowing.
    return std::llround(std::clamp(volts, -1e9, 1e9) * 1000);
}

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

bool withinVoltageTolerance(double measuredVolts, double setVolts, double configuredTolerance)
{
    const qint64 deviation = std::llabs(millivolts(measuredVolts) - millivolts(setVolts));
    if (configuredTolerance > 0)
        return deviation <= millivolts(configuredTolerance);
    return deviation <= millivolts(MinimumVoltageTolerance) ||
           deviation * RelativeToleranceDivisor <= millivolts(setVolts);
}

AlarmLevel voltageDeviationAlarm(quint8 statusByte, double measuredVolts, double setVolts,
                                 double configuredTolerance)
{
    const bool stable = !(statusByte & (StatusError | StatusManual | StatusRamping));
    const bool hvOn = !(statusByte & StatusHvOff);
    if (!stable || !hvOn)
        return AlarmLevel::None;
    return withinVoltageTolerance(measuredVolts, setVolts, configuredTolerance) ? AlarmLevel::None
                                                                                : AlarmLevel::Amber;
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

QStringList RedAlarmWatch::take(quint16 statusWord, quint16 latchedEvents)
{
    constexpr quint16 ErrorFlag = 0x100;
    QStringList newlyRed;
    for (int ch = 0; ch < 2; ++ch) {
        const quint8 status = channelByte(statusWord, ch);
        const quint8 latched = channelByte(latchedEvents, ch);
        quint16 red = latched & RedEvents;
        if (stateAlarm(status) == AlarmLevel::Red)
            red |= ErrorFlag;
        if (red & ~redShown[ch]) {
            newlyRed << QStringLiteral("Channel %1 alarm: %2")
                            .arg(QChar('A' + ch), redAlarmText(status, latched));
        }
        redShown[ch] = red;
    }
    return newlyRed;
}

double parseVoltageTolerance(const QString &text)
{
    bool ok = false;
    const double volts = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(volts) && volts > 0 ? volts : 0;
}

} // namespace Brelk
