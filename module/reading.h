// One complete poll tick as a value: the raw register words the tick read and the resolution
// selection under which it read them. The form, the history, the data log and the publisher all
// take the tick from here and never read the bus themselves; every conversion below is the one the
// panel uses, so a count converts to exactly what the panel shows.
#ifndef READING_H
#define READING_H

#include "registermap.h"

#include <QMetaType>
#include <QString>
#include <QStringList>

namespace Brelk {

struct Reading
{
    qint64 time = 0; // milliseconds since the epoch, UTC
    quint16 serialNumber = 0;
    quint16 vset[2] = {0, 0};
    quint16 ramp[2] = {0, 0};
    quint16 vmeas[2] = {0, 0}; // regVmeasFine_* when `fineVoltage`, else regVmeas_*
    quint16 imeas[2] = {0, 0};
    quint16 imeas2[2] = {0, 0}; // not read, and 0, without a second range
    quint16 status = 0;
    quint16 events = 0; // the module's own regStatus2 word of this tick, not the panel's latch
    quint16 limits[2] = {0, 0};
    quint16 softLimitI[2] = {0, 0};
    quint16 softLimitI2[2] = {0, 0};
    bool fineVoltage = false;
    CurrentResolution currentResolution = CurrentResolution::uA1;
    SecondRange secondRange = SecondRange::None;
};

// The module's hardware options as the panel is told them (the radio-button groups, or the
// settings file): how register words are scaled.
struct ResolutionSelection
{
    bool fineVoltage = false;
    CurrentResolution currentResolution = CurrentResolution::uA1;
    SecondRange secondRange = SecondRange::None;

    bool operator==(const ResolutionSelection &o) const
    {
        return fineVoltage == o.fineVoltage && currentResolution == o.currentResolution &&
               secondRange == o.secondRange;
    }
    bool operator!=(const ResolutionSelection &o) const { return !(*this == o); }
};

ResolutionSelection selectionOf(const Reading &reading);
// Whether two ticks read the same words under the same selection, whenever they were taken: a
// screen that showed `a` shows `b` without a change.
bool sameWords(const Reading &a, const Reading &b);
// "1V / 1uA / none"
QString selectionText(const ResolutionSelection &selection);

double setVolts(const Reading &reading, int channel);
double rampVoltsPerSecond(const Reading &reading, int channel);
double measuredVolts(const Reading &reading, int channel);
double measuredAmperes(const Reading &reading, int channel);
// 0 without a second range.
double secondRangeAmperes(const Reading &reading, int channel);
double softLimitAmperes(const Reading &reading, int channel);
// 0 without a second range.
double secondRangeLimitAmperes(const Reading &reading, int channel);

// The same quantities as exact decimal texts in volts and amperes, computed from the count in
// decimal arithmetic ("1234.5", "0.000007"): no binary rounding, no exponent, no trailing zeros.
// The second-range texts are empty without a second range.
QString setVoltsDecimal(const Reading &reading, int channel);
QString rampDecimal(const Reading &reading, int channel);
QString measuredVoltsDecimal(const Reading &reading, int channel);
QString measuredAmperesDecimal(const Reading &reading, int channel);
QString secondRangeAmperesDecimal(const Reading &reading, int channel);
QString softLimitAmperesDecimal(const Reading &reading, int channel);
QString secondRangeLimitAmperesDecimal(const Reading &reading, int channel);

// count × 10^exponent in plain decimal notation without trailing zeros: (12345, -1) → "1234.5",
// (7, -6) → "0.000007", (1000, 0) → "1000".
QString decimalText(qint64 count, int exponent);
// A fixed-point number without the zeros that end its fraction: "12.50" -> "12.5", "1.00" -> "1".
QString withoutTrailingZeros(QString text);

// ISO-8601 local time with milliseconds and always a numeric UTC offset, never "Z":
// "2026-12-07T10:42:13.123+01:00".
QString isoLocalTime(qint64 msecsSinceEpoch);

// The names the resolution options go by in files and messages: "1V"/"100mV",
// "1uA"/"100nA"/"10nA"/"1nA", "none"/"1nA"/"100pA". The parsers return false on any other text.
QString voltageResolutionName(bool fineVoltage);
QString currentResolutionName(CurrentResolution resolution);
QString secondRangeName(SecondRange range);
bool parseVoltageResolution(const QString &name, bool *fineVoltage);
bool parseCurrentResolution(const QString &name, CurrentResolution *resolution);
bool parseSecondRange(const QString &name, SecondRange *range);

} // namespace Brelk

Q_DECLARE_METATYPE(Brelk::Reading)

#endif // READING_H
