// Everything the simulator can be told from outside: the module's hardware option and inputs,
// where it sits on the bus, how many bridges are plugged in, and the faults to play. Each setting
// has one BRELKSIM_ key, read from the environment when the library loads and accepted later
// through the test control functions.
#ifndef SIMCONFIG_H
#define SIMCONFIG_H

#include "moduleconfig.h"

#include <QByteArray>

struct SimConfig
{
    quint32 baseAddress = 0xDD00;
    int bridges = 1;
    // Faults: the bridge is listed but opening it gives no handle; nothing answers at the base
    // address; every cycle fails between the computer and the bridge.
    bool openGivesNoHandle = false;
    bool noModule = false;
    bool cyclesFail = false;
    ModuleConfig module;

    // False for an unknown key or a value the key does not accept; the setting is then unchanged.
    bool set(const QByteArray &key, const QByteArray &value);
    // Applies every BRELKSIM_ key that is set in the environment, skipping bad values with a
    // warning on stderr.
    void readEnvironment();
};

#endif // SIMCONFIG_H
