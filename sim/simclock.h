// The simulator's time base. It follows the steady system clock so the panel sees voltages ramp
// in real time; tests switch it to manual, and then time moves only when they advance it.
#ifndef SIMCLOCK_H
#define SIMCLOCK_H

#include <QtGlobal>

class SimClock
{
public:
    SimClock();

    qint64 milliseconds() const;
    // Switching keeps the time continuous: manual time starts where real time stood, and real
    // time resumes from the last manual time.
    void setManual(bool on);
    bool isManual() const { return manual; }
    void advance(int ms);

private:
    static qint64 steadyMilliseconds();

    bool manual = false;
    qint64 manualTime = 0;
    // Added to the steady clock while not manual.
    qint64 offset = 0;
};

#endif // SIMCLOCK_H
