// The number dialogs of the operator's commands: each asks for one channel's value, starting at
// the value the form shows, and turns OK into the command's register writes; Cancel is no write.
#ifndef COMMANDDIALOGS_H
#define COMMANDDIALOGS_H

#include "commands.h"
#include "readingform.h"

class QWidget;

namespace Brelk {

WriteList askSetVoltage(QWidget *window, int channel, const ReadingForm::Values &shown);
// The speed, then the set voltage the module holds when it is written (see RegisterWrite).
WriteList askRampSpeed(QWidget *window, int channel, const ReadingForm::Values &shown);
WriteList askSoftLimitI(QWidget *window, int channel, const ReadingForm::Values &shown,
                        CurrentResolution resolution);
WriteList askSoftLimitI2(QWidget *window, int channel, const ReadingForm::Values &shown,
                         SecondRange range);

} // namespace Brelk

#endif // COMMANDDIALOGS_H
