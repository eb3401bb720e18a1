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
};
EntryRange entryRange(Quantity quantity, const ResolutionSelection &selection);

// An entry as the dialog's spin box holds it: rounded to the dialog's decimals.
double heldEntry(double entered, int decimals);

// Register counts, not yet truncated, for an entry in dialog units.
double entryCounts(Quantity quantity, double entered, const ResolutionSelection &selection);

// The writes for an entry in dialog units. `polled`: the module's last complete tick, whose set
// voltage follows a new ramp speed.
WriteList entryWrites(Quantity quantity, int channel, double entered,
                      const ResolutionSelection &selection, const Reading *polled);

enum class EntryProblem { None, OutOfRange, NotOffered };

struct CheckedEntry
{
    EntryProblem problem = EntryProblem::None;
    double entered = 0; // in dialog units, as the dialog would hold it
    EntryRange range;
};

// A value in volts, volts per second or amperes, checked as the dialog would take it: in its
// units, rounded to its decimals, inside its range, and only while the dialog is offered.
CheckedEntry checkEntry(Quantity quantity, double value, const ResolutionSelection &selection);

} // namespace Brelk

#endif // COMMANDENTRY_H
