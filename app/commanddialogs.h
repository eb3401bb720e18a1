// The number dialogs of the operator's commands: each asks for one channel's value, starting at
// the value the form shows, and turns OK into the command's register writes; Cancel is no write.
#ifndef COMMANDDIALOGS_H
#define COMMANDDIALOGS_H

#include "commands.h"
#include "readingform.h"

class QWidget;

namespace Brelk {

// The dialog's maximum is the channel's ceiling when it has one below the module's own.
WriteList askSetVoltage(QWidget *window, int channel, const ReadingForm::Values &shown,
                        const VoltageCeilings &ceilings = VoltageCeilings());
// "Highest set voltage: 1500 V (VsetMaxA)" for the Set Voltage button of a channel whose ceiling
// lowers the dialog's maximum; empty otherwise.
QString setVoltageToolTip(int channel, const VoltageCeilings &ceilings);
// The speed, then the set voltage the module holds when it is written (see RegisterWrite).
WriteList askRampSpeed(QWidget *window, int channel, const ReadingForm::Values &shown);
WriteList askSoftLimitI(QWidget *window, int channel, const ReadingForm::Values &shown,
                        CurrentResolution resolution);
WriteList askSoftLimitI2(QWidget *window, int channel, const ReadingForm::Values &shown,
                         SecondRange range);

} // namespace Brelk

#endif // COMMANDDIALOGS_H
