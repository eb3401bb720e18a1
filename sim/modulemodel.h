// The two-channel high-voltage module as seen from the VME bus: its registers, and behind them
// outputs that ramp towards the set voltage at the ramp speed, drive current through a load, and
// latch events until power-on. Time comes from an injected clock and is caught up lazily on every
// register access, so a manual clock makes the module fully deterministic.
#ifndef MODULEMODEL_H
#define MODULEMODEL_H

#include "moduleconfig.h"
#include "simclock.h"

#include <map>

class ModuleModel
{
public:
    // The module's largest set voltage; larger words are taken as this.
    static constexpr int maximumVoltage = 6000;

    ModuleModel(const ModuleConfig &config, const SimClock *clock);

    // Starts afresh from the configuration: set voltages and ramp speeds from it, outputs at 0 V,
    // limits off, no events, no forced registers.
    void powerOn();
    // Takes new options and inputs while running; a changed set voltage or ramp speed in the
    // configuration is applied as if written.
    void applyConfig(const ModuleConfig &newConfig);

    quint16 read(quint32 offset);
    void write(quint32 offset, quint16 word);
    // Makes a register report `word`: stored registers (set voltage, ramp speed, software limits,
    // event flags) take the word as their content; the other registers report it instead of
    // their measured value until power-on.
    void force(quint32 offset, quint16 word);

private:
    struct Channel
    {
        int setVoltage = 0;
        quint16 rampSpeed = 0;
        quint16 softLimitI = 0;
        quint16 softLimitI2 = 0;
        // Magnitude of the output voltage in volts.
        double voltage = 0;
        // Killed by the current limit; stays off until a new set voltage is written.
        bool tripped = false;
        // Held below the set voltage by a current limit without kill.
        bool currentLimited = false;
        quint8 events = 0;
    };

    void update();
    void advance(int channel, double seconds);
    void setVoltage(int channel, int volts);
    double targetVoltage(int channel) const;
    double hardwareVoltageLimit(int channel) const;
    double currentLimit(int channel) const;
    double current(int channel) const;
    quint8 statusBits(int channel) const;
    quint16 measuredRegister(quint32 offset) const;

    ModuleConfig config;
    const SimClock *clock;
    qint64 lastUpdate = 0;
    Channel channels[2];
    std::map<quint32, quint16> forced;
};

#endif // MODULEMODEL_H
