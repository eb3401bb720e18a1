// The simulated module's hardware option and the inputs an operator sets on the module itself:
// what a real module has built in or wired to its front panel, and no register can change.
#ifndef MODULECONFIG_H
#define MODULECONFIG_H

#include "registermap.h"

struct ChannelConfig
{
    // Resistance between the output and ground; 0 leaves the output open, so no current flows.
    double loadOhms = 100e6;
    bool positive = true;
    bool hvOn = true;
    bool killEnabled = false;
    bool manual = false;
    bool inhibit = false;
    // Fault: switched on, the channel trips at once as a kill by its current limit would trip it
    // (ILIM and TRP, output at 0 V until a new set voltage); switched on again after off, again.
    bool trip = false;
    // Front-panel limits in percent of full scale; the module reports them in steps of 10 %.
    int voltageLimitPercent = 100;
    int currentLimitPercent = 100;
    // Set voltage and ramp speed the module starts with after power-on.
    int setVoltage = 1000;
    int rampSpeed = 50;
};

struct ModuleConfig
{
    ModuleConfig()
    {
        channels[1].loadOhms = 50e6;
        channels[1].setVoltage = 500;
        channels[1].rampSpeed = 25;
    }

    quint16 serialNumber = 0x2101;
    bool fineVoltage = false;
    Brelk::CurrentResolution currentResolution = Brelk::CurrentResolution::uA1;
    Brelk::SecondRange secondRange = Brelk::SecondRange::None;
    ChannelConfig channels[2];
};

#endif // MODULECONFIG_H
