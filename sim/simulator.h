// The simulated crate behind a bridge: the configuration, the clock, the bridges that can be
// opened, the modules at their base addresses, and a log of every cycle the vendor library was
// asked for. Each stand-in library holds one of these; its vendor entry points translate calls and
// results into the vendor's conventions.
#ifndef SIMULATOR_H
#define SIMULATOR_H

#include "modulemodel.h"
#include "simclock.h"
#include "simconfig.h"

#include <cstdio>
#include <deque>
#include <memory>
#include <vector>

class Simulator
{
public:
    enum class Outcome {
        Done,
        // Nothing acknowledged the cycle on the VME bus; a read delivers all ones.
        BusError,
        // The cycle never reached the bus (the USB link failed); a read delivers nothing.
        LinkFailed,
    };

    struct Cycle
    {
        quint32 address;
        int addressModifier;
        quint16 data;
        bool write;
        int status;
    };

    // Reads the configuration from the environment. BRELKSIM_LOG names a file to which every
    // cycle is appended as it happens, so a test outside the process can watch the bus.
    Simulator();
    // The modules keep a pointer to the clock, so a simulator stays where it was made.
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // As after loading: configuration from the environment, the modules powered on afresh, every
    // bridge closed (handles a backend still holds no longer work), the clock on real time and
    // the log empty.
    void reset();
    // Applies one setting at once; the modules keep their state, and a module new in the crate
    // starts powered on.
    bool configure(const QByteArray &key, const QByteArray &value);
    const SimConfig &config() const { return settings; }
    SimClock &clock() { return time; }
    // The first module, the one the keys without an address configure.
    ModuleModel &module() { return models.front(); }
    // A VME system reset restarts every module in the crate.
    void powerOnAll();

    // Opens a bridge and returns its handle, the lowest one free; -1 when there is no such
    // bridge, it is open already, or the fault of a bridge that gives no handle is set.
    int openBridge(int bridge);
    // The bridges the vendor library lists: none while the cord is pulled.
    int listedBridges();
    bool closeBridge(int handle);
    bool isOpen(int handle) const;

    // One D16 cycle on the bus, taking the configured cycle time; only the module's address
    // modifier reaches a module, and only the module whose window holds the address.
    Outcome read16(quint32 address, int addressModifier, quint16 *word);
    Outcome write16(quint32 address, int addressModifier, quint16 word);

    void log(const Cycle &cycle);
    const std::deque<Cycle> &cycles() const { return cycleLog; }
    void clearLog() { cycleLog.clear(); }

private:
    // A module powered on afresh for each module in the configuration.
    void buildModules();
    // The index of the module that acknowledges the cycle, or -1.
    int answeringModule(quint32 address, int addressModifier) const;
    void waitCycleTime() const;
    // Whether the cord is pulled now; pulling it forgets every open handle.
    bool unplugged();

    SimConfig settings;
    bool wasUnplugged = false;
    SimClock time;
    // One per module in the configuration, in the same order.
    std::vector<ModuleModel> models;
    // Bridge number per handle, -1 for a free handle.
    std::vector<int> openBridges;
    std::deque<Cycle> cycleLog;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> logFile{nullptr, std::fclose};
};

#endif // SIMULATOR_H
