// The operator's commands as data: the conversions of dialog entries into register words, the
// dialog ranges that keep every word inside the module's 16-bit registers, and the exact list of
// register writes each command makes. Whoever asks (a dialog, a set-point restore), the module
// sees the same writes; the module session executes the lists.
#ifndef COMMANDS_H
#define COMMANDS_H

#include "reading.h"
#include "registermap.h"

#include <QString>
#include <QVector>

#include <optional>

namespace Brelk {

// Set voltage and ramp speed dialog ranges.
constexpr double SetVoltageMaximum = 6000;
constexpr double RampSpeedMinimum = 2;
constexpr double RampSpeedMaximum = 255;
constexpr int DialogDecimals = 1;

// A value becomes a register word by truncation toward zero. A value that is a whole count up
// to floating-point rounding (0.3 uA / 10 nA = 29.999999999999996) is that count, not one less.
// Values outside 0...65535 are held at the nearest end rather than wrapped.
quint16 registerCount(double value);

// The first-range software-limit dialog: it works in mA at 1 uA resolution and in uA otherwise,
// up to 6 mA, but never beyond what 65535 counts of the resolution can hold.
struct SoftLimitDialogScale
{
    QString unit;   // "mA" or "uA"
    double factor;  // display units per ampere
    double maximum; // in display units
};
SoftLimitDialogScale softLimitIScale(CurrentResolution resolution);

// Counts for a limit entered in the dialog's display units (not yet truncated).
double softLimitICounts(double entered, const SoftLimitDialogScale &scale,
                        CurrentResolution resolution);

// The second-range limit dialog works in uA up to 65500 counts: 6.55 uA at 100 pA, 65.5 uA at
// 1 nA. Only offered while a second range is selected.
double secondRangeLimitMaximum(SecondRange range);
// Two decimals at 100 pA, so that the dialog's own maximum of 6.55 uA can be entered; one
// decimal at 1 nA.
int secondRangeLimitDecimals(SecondRange range);
double secondRangeLimitCounts(double enteredMicroamps, SecondRange range);

// One 16-bit write to a register of the module.
struct RegisterWrite
{
    Register reg;
    quint16 word;
    // The module takes a new ramp speed with the next set voltage, so a ramp speed is followed by
    // the channel's set voltage as the module holds it at that moment: the session reads it back
    // on the bus just before the write (or takes the one this list wrote), and `word` is unused.
    // On a tripped channel the session leaves it out, since a set voltage switches it back on.
    bool resendsSetVoltage = false;

    bool operator==(const RegisterWrite &o) const
    {
        return reg == o.reg && resendsSetVoltage == o.resendsSetVoltage &&
               (resendsSetVoltage || word == o.word);
    }
};
using WriteList = QVector<RegisterWrite>;

WriteList setVoltageWrites(int channel, quint16 count);
// The speed, then the channel's set voltage as the module holds it when it is written.
WriteList rampSpeedWrites(int channel, quint16 count);
RegisterWrite setVoltageResend(int channel);
WriteList softLimitIWrites(int channel, quint16 count);
WriteList softLimitI2Writes(int channel, quint16 count);

// The highest set voltage the operator allows on each channel, in volts. The module's own limit
// lies far above what a detector takes; with a ceiling a typo of 15000 for 1500 is refused by the
// program and never reaches the module. A channel without one is bounded by the dialog's range.
struct VoltageCeilings
{
    std::optional<double> volts[2];

    bool operator==(const VoltageCeilings &o) const
    {
        return volts[0] == o.volts[0] && volts[1] == o.volts[1];
    }
    bool operator!=(const VoltageCeilings &o) const { return !(*this == o); }
};

// The settings keys of the channels' ceilings, which every refusal names so that the operator
// knows where to change them.
constexpr const char *VoltageCeilingKeys[2] = {"VsetMaxA", "VsetMaxB"};
// "1500 V (VsetMaxA)"; empty for a channel without a ceiling.
QString voltageCeilingText(const VoltageCeilings &ceilings, int channel);
// Empty when no set voltage of the list is above its channel's ceiling; else, for the first that
// is, "channel A Vset 1600 V is above the ceiling of 1500 V (VsetMaxA)". A re-sent set voltage is
// the one the module holds already and sets nothing new, so it is not judged.
QString ceilingProblem(const WriteList &writes, const VoltageCeilings &ceilings);

} // namespace Brelk

#endif // COMMANDS_H
