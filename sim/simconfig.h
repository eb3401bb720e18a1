// Everything the simulator can be told from outside: the modules in the crate, each with its
// hardware option and inputs at its own base address, how many bridges are plugged in, how long a
// bus cycle takes, and the faults to play. Each setting has one BRELKSIM_ key, read from the
// environment when the library loads and accepted later through the test control functions.
//
// The keys that describe a module (serial number, resolutions, channel inputs, the missing-module
// fault) configure the first module; the same key with the module's base address in four hex
// digits after BRELKSIM_ configures the module there, e.g. BRELKSIM_DC00_SERIAL.
#ifndef SIMCONFIG_H
#define SIMCONFIG_H

#include "moduleconfig.h"

#include <QByteArray>

#include <vector>

struct SimModule
{
    quint32 baseAddress = 0xDD00;
    // Fault: nothing answers in this module's address window.
    bool absent = false;
    // Without a serial number of its own, a further module takes the first module's plus its
    // index in the crate, so that modules are told apart.
    bool ownSerial = false;
    ModuleConfig module;
};

struct SimConfig
{
    // The module decodes 128 bytes of A16 space from its base address.
    static constexpr quint32 moduleWindow = 0x80;

    int bridges = 1;
    // Every bus cycle takes this long on the bridge.
    int cycleMicroseconds = 0;
    // Faults: the bridge is listed but opening it gives no handle; every cycle fails between the
    // computer and the bridge.
    bool openGivesNoHandle = false;
    bool cyclesFail = false;
    // Fault: no module acknowledges a write cycle (a bus error); reads still work.
    bool writesFail = false;
    // The bridge's USB cord is pulled: no bridge is listed or opens, every cycle fails, and a
    // handle opened before stays useless after the cord is plugged back in. The file, when named,
    // pulls the cord while it exists, so that a test outside the process can pull and replug it.
    bool unplugged = false;
    QByteArray unplugFile;
    // In BRELKSIM_MODULES order; never empty, and no two windows overlap.
    std::vector<SimModule> modules{1};

    // False for an unknown key, a value the key does not accept, or a module address that is not
    // in the crate; the settings are then unchanged.
    bool set(const QByteArray &key, const QByteArray &value);
    // Applies every BRELKSIM_ key that is set in the environment, skipping bad values with a
    // warning on stderr. BRELKSIM_MODULES comes after BRELKSIM_BASE, so its first address wins,
    // and a module's own keys come after the keys of the first module.
    void readEnvironment();

    // The index of the module whose window holds the address, or -1.
    int moduleAt(quint32 address) const;

private:
    bool windowsOverlap() const;
    void deriveSerials();
};

#endif // SIMCONFIG_H
