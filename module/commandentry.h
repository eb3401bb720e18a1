// What each command dialog accepts under a resolution selection, and how an entry becomes the
// command's register writes. The window's dialogs and commands that arrive from elsewhere (MQTT)
// both go through here, so that a value is rounded, range-checked and converted the same way
// whoever typed it.
#ifndef COMMANDENTRY_H
#define COMMANDENTRY_H

#include "commands.h"
#include "reading.h"

#include <QString>

namespace Brelk {

enum class Quantity { SetVoltage, RampSpeed, SoftLimitI, SoftLimitI2 };

struct EntryRange
{
    double factor = 1;  // dialog units per volt, volt per second or ampere
    QString unit;       // "V", "V/s", "mA" or "uA"
    double minimum = 0; // in dialog units
    double maximum = 0;
    int decimals = DialogDecimals;
    // False for the second-range limit while no second range is selected: no dialog is offered.
    bool offered = true;
    // "1500 V (VsetMaxA)" when the maximum is the channel's ceiling rather than the module's.
    QString ceiling;
};
EntryRange entryRange(Quantity quantity, const ResolutionSelection &selection);
// The range of one channel's dialog: a set voltage's maximum is lowered to the channel's ceiling
// (to the dialog's step below it), when the ceiling is below the module's own.
EntryRange entryRange(Quantity quantity, const ResolutionSelection &selection,
                      const VoltageCeilings &ceilings, int channel);

// An entry as the dialog's spin box holds it: rounded to the dialog's decimals.
double heldEntry(double entered, int decimals);

// Register counts, not yet truncated, for an entry in dialog units.
double entryCounts(Quantity quantity, double entered, const ResolutionSelection &selection);

// The writes for an entry in dialog units.
WriteList entryWrites(Quantity quantity, int channel, double entered,
                      const ResolutionSelection &selection);

// A software current limit is a protection: whatever the entry, the written limit is never looser
// than the one asked for. It is rounded down to the dialog's step, and 0 (no limit at all) is
// written only when 0 was asked.
bool isCurrentLimit(Quantity quantity);

enum class EntryProblem {
    None,
    OutOfRange,
    NotOffered,
    // A current limit above 0 but below one step of the dialog, or below 0.
    BelowOneStep,
    Negative,
    // A set voltage above the channel's ceiling.
    AboveCeiling,
};

struct CheckedEntry
{
    Quantity quantity = Quantity::SetVoltage;
    EntryProblem problem = EntryProblem::None;
    double entered = 0; // in dialog units, as the dialog would hold it
    EntryRange range;
};

// A value in volts, volts per second or amperes, checked as the dialog would take it: in its
// units, rounded to its decimals (a current limit rounded down), inside its range, and only while
// the dialog is offered.
CheckedEntry checkEntry(Quantity quantity, double value, const ResolutionSelection &selection);
// The same for one channel, whose set voltage is held to its ceiling.
CheckedEntry checkEntry(Quantity quantity, double value, const ResolutionSelection &selection,
                        const VoltageCeilings &ceilings, int channel);

// At most `decimals` places, without trailing zeros: "1500", "0.5", "6.55".
QString shortNumber(double value, int decimals);

// Why a checked entry is refused, as "limit_i takes 0 (no limit) or 0.1 to 6 mA" or "vset 1600 V
// is above the ceiling of 1500 V (VsetMaxA)"; `name` is how the caller calls the value. Empty for
// an entry without a problem.
QString entryProblemText(const CheckedEntry &entry, const QString &name);

} // namespace Brelk

#endif // COMMANDENTRY_H
