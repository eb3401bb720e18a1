#include "simclock.h"

#include <chrono>

SimClock::SimClock() : offset(-steadyMilliseconds()) {}

qint64 SimClock::milliseconds() const
{
    return manual ? manualTime : steadyMilliseconds() + offset;
}

void SimClock::setManual(bool on)
{
    if (on == manual)
        return;
    if (on)
        manualTime = milliseconds();
    else
        offset = manualTime - steadyMilliseconds();
    manual = on;
}

void SimClock::advance(int ms)
{
    if (ms <= 0)
        return;
    if (manual)
        manualTime += ms;
    else
        offset += ms;
}

qint64 SimClock::steadyMilliseconds()
{
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count();
}
