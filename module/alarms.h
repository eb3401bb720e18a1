// Which of a channel's fields carry an alarm colour, decided from the decoded values of a tick.
// Red means the channel was switched off or is limited, amber that it deserves a look.
#ifndef ALARMS_H
#define ALARMS_H

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace Brelk {

enum class AlarmLevel { None, Amber, Red };

struct ChannelAlarms
{
    AlarmLevel events = AlarmLevel::None;           // the "Status 2" field
    AlarmLevel state = AlarmLevel::None;            // the channel-state field
    AlarmLevel voltageDeviation = AlarmLevel::None; // the measured-voltage field

    bool operator==(const ChannelAlarms &other) const
    {
        return events == other.events && state == other.state &&
               voltageDeviation == other.voltageDeviation;
    }
    bool operator!=(const ChannelAlarms &other) const { return !(*this == other); }
};

// Red for a latched TRP, ILIM or INH; amber for QUA or VLIM alone.
AlarmLevel eventAlarm(quint8 latchedEvents);
// Red while the channel reports an error.
AlarmLevel stateAlarm(quint8 statusByte);

// Whether a measured voltage lies within the tolerance of its set voltage. The tolerance is the
// configured one when it is a positive number of volts, else the larger of 10 V and 1 % of the
// set voltage; a deviation of exactly the tolerance is within it.
bool withinVoltageTolerance(double measuredVolts, double setVolts, double configuredTolerance);

// Amber while the channel is stable with HV on and its measured voltage is off by more than the
// tolerance; a ramping channel is expected to be away from its set voltage.
AlarmLevel voltageDeviationAlarm(quint8 statusByte, double measuredVolts, double setVolts,
                                 double configuredTolerance);

ChannelAlarms channelAlarms(quint8 statusByte, quint8 latchedEvents, double measuredVolts,
                            double setVolts, double configuredTolerance);

// What makes a channel red, for the debug line: the red events in the panel's order, then
// "Error"; joined by "+" ("ILIM+TRP", "Error"). Empty when nothing is red.
QString redAlarmText(quint8 statusByte, quint8 latchedEvents);

// Which channels newly turn red from one complete tick to the next, so that a trip is told once
// and not at every tick while it lasts.
class RedAlarmWatch
{
public:
    // One line per channel that newly shows red ("Channel A alarm: ILIM+TRP").
    QStringList take(quint16 statusWord, quint16 latchedEvents);

private:
    // What each channel showed in red at the last tick: red event bits, and a flag above them for
    // "Error".
    quint16 redShown[2] = {0, 0};
};

// The voltage tolerance as stored in the settings: a positive number of volts, or 0 (the default
// rule) for anything else.
double parseVoltageTolerance(const QString &text);

} // namespace Brelk

#endif // ALARMS_H
