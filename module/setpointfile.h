// Set-point files: a module's working point (set voltages, ramp speeds, software current limits)
// as a hand-editable INI file, the complete check of such a file against what the command
// dialogs allow, and the ordered register writes that bring a module to it. No widgets: the
// dialogs that choose files and confirm a restore live with the main window.
#ifndef SETPOINTFILE_H
#define SETPOINTFILE_H

#include "commands.h"
#include "reading.h"
#include "registermap.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace Brelk {

// The contents of a set-point file. Counts are register words; they are what a restore writes.
struct SetPoints
{
    QString serialText;  // as the status bar shows it, e.g. "2101"
    QString baseAddress; // e.g. "0xDD00"
    QString saved;       // ISO-8601 local time of the tick the values come from
    ResolutionSelection selection;
    quint16 vset[2] = {0, 0};
    quint16 ramp[2] = {0, 0};
    quint16 limitI[2] = {0, 0};
    // Saved with a second range selected; after reading, true only when the file has them and
    // the panel has a second range selected, so that they are checked and restored.
    bool hasLimitI2 = false;
    quint16 limitI2[2] = {0, 0};
};

// The values of one complete tick, to be saved.
SetPoints setPointsOf(const Reading &reading, quint32 baseAddress);

// Writes the file, replacing whatever it held, whether or not that was an INI file. False with
// `problem` giving the reason when it could not be written; the file is then as it was.
bool writeSetPointFile(const QString &path, const SetPoints &setPoints, QString *problem);

// Reads and checks the whole file under the panel's current resolution selection: no entry set
// on two lines, Format=1, known resolution names, every count present and written as a whole
// decimal number within the command dialogs' ranges. The values are taken as the file's lines
// spell them. False with `problem` naming the first offending entry ("[A] RampCount ...").
bool readSetPointFile(const QString &path, const ResolutionSelection &panel, SetPoints *setPoints,
                      QString *problem);

// Empty when both set voltages of the file are within the channels' ceilings; else the first
// that is not, as "[A] VsetCount = 1600 is above the ceiling of 1500 V (VsetMaxA)."
QString setPointCeilingProblem(const SetPoints &setPoints, const VoltageCeilings &ceilings);

// Largest counts the command dialogs can produce under a resolution selection.
quint16 maximumVsetCount();
quint16 minimumRampCount();
quint16 maximumRampCount();
quint16 maximumLimitICount(CurrentResolution resolution);
quint16 maximumLimitI2Count(SecondRange range);

enum class SetPointQuantity { SecondRangeLimit, Limit, RampSpeed, SetVoltage };

// One register a restore would change: its value in the last complete tick and from the file.
struct SetPointChange
{
    int channel;
    SetPointQuantity quantity;
    quint16 now;
    quint16 after;

    bool operator==(const SetPointChange &o) const
    {
        return channel == o.channel && quantity == o.quantity && now == o.now && after == o.after;
    }
};

// What a restore does to the module as it was in one tick: the rows the operator confirms and
// the writes that follow. Two plans are equal exactly when the module would see the same writes
// for the same confirmed rows.
struct RestorePlan
{
    QVector<SetPointChange> changes;
    WriteList writes;

    bool isEmpty() const { return changes.isEmpty(); }
    bool operator==(const RestorePlan &o) const
    {
        return changes == o.changes && writes == o.writes;
    }
    bool operator!=(const RestorePlan &o) const { return !(*this == o); }
};

// Second-range limits first, then first-range limits, ramp speeds, set voltages, channel A
// before B within each step, so that the limits are in place before any voltage moves. A changed
// ramp speed is followed at once by the channel's set voltage as the module holds it, which makes
// the module take the new speed (left out on a tripped channel: see RegisterWrite).
RestorePlan planRestore(const SetPoints &setPoints, const Reading &reading);

// The warning lines of a restore confirmation: a resolution selection or a serial number that
// differs from the file's (a working point may be moved to a spare module), and the second-range
// limits when they are left as they are.
QStringList restoreNotes(const SetPoints &setPoints, const ResolutionSelection &panel,
                         quint16 serialNumber);

// "Set voltage", "Ramp speed", "Current limit", "Current limit 2nd range".
QString quantityName(SetPointQuantity quantity);
// A count as the panel shows it, with its unit, under a resolution selection.
QString quantityText(SetPointQuantity quantity, quint16 count,
                     const ResolutionSelection &selection);

} // namespace Brelk

#endif // SETPOINTFILE_H
