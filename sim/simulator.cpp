#include "simulator.h"

#include "registermap.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
// Enough for several minutes of polling; the oldest cycles go first.
const std::size_t logCapacity = 100000;

SimConfig configFromEnvironment()
{
    SimConfig config;
    config.readEnvironment();
    return config;
}
} // namespace

Simulator::Simulator() : settings(configFromEnvironment())
{
    buildModules();
    const QByteArray logPath = qgetenv("BRELKSIM_LOG");
    if (!logPath.isEmpty())
        logFile.reset(std::fopen(logPath.constData(), "a"));
}

void Simulator::reset()
{
    settings = configFromEnvironment();
    time = SimClock();
    buildModules();
    openBridges.clear();
    wasUnplugged = false;
    cycleLog.clear();
}

bool Simulator::configure(const QByteArray &key, const QByteArray &value)
{
    const SimConfig before = settings;
    if (!settings.set(key, value))
        return false;
    // The first module stays the first one, even when it moved; a further module is found by its
    // address.
    auto previousIndex = [&before](quint32 baseAddress) {
        std::size_t old = 1;
        while (old < before.modules.size() && before.modules[old].baseAddress != baseAddress)
            ++old;
        return old;
    };
    std::vector<ModuleModel> kept;
    for (std::size_t i = 0; i < settings.modules.size(); ++i) {
        const SimModule &module = settings.modules[i];
        const std::size_t old = i == 0 ? 0 : previousIndex(module.baseAddress);
        if (old < before.modules.size()) {
            kept.push_back(models[old]);
            kept.back().applyConfig(module.module);
        } else {
            kept.emplace_back(module.module, &time);
        }
    }
    models = kept;
    return true;
}

void Simulator::buildModules()
{
    models.clear();
    for (const SimModule &module : settings.modules)
        models.emplace_back(module.module, &time);
}

void Simulator::powerOnAll()
{
    for (ModuleModel &model : models)
        model.powerOn();
}

int Simulator::listedBridges()
{
    return unplugged() ? 0 : settings.bridges;
}

bool Simulator::unplugged()
{
    const bool pulled =
        settings.unplugged || (!settings.unplugFile.isEmpty() &&
                               QFileInfo::exists(QString::fromLocal8Bit(settings.unplugFile)));
    if (pulled && !wasUnplugged)
        std::fill(openBridges.begin(), openBridges.end(), -1);
    wasUnplugged = pulled;
    return pulled;
}

int Simulator::openBridge(int bridge)
{
    if (unplugged() || bridge < 0 || bridge >= settings.bridges || settings.openGivesNoHandle)
        return -1;
    if (std::find(openBridges.begin(), openBridges.end(), bridge) != openBridges.end())
        return -1;
    const auto freeHandle = std::find(openBridges.begin(), openBridges.end(), -1);
    if (freeHandle != openBridges.end()) {
        *freeHandle = bridge;
        return int(freeHandle - openBridges.begin());
    }
    openBridges.push_back(bridge);
    return int(openBridges.size()) - 1;
}

bool Simulator::closeBridge(int handle)
{
    if (!isOpen(handle))
        return false;
    openBridges[std::size_t(handle)] = -1;
    return true;
}

bool Simulator::isOpen(int handle) const
{
    return handle >= 0 && std::size_t(handle) < openBridges.size() &&
           openBridges[std::size_t(handle)] >= 0;
}

Simulator::Outcome Simulator::read16(quint32 address, int addressModifier, quint16 *word)
{
    waitCycleTime();
    if (settings.cyclesFail || unplugged())
        return Outcome::LinkFailed;
    const int module = answeringModule(address, addressModifier);
    if (module < 0) {
        *word = 0xFFFF;
        return Outcome::BusError;
    }
    *word = models[std::size_t(module)].read(address -
                                             settings.modules[std::size_t(module)].baseAddress);
    return Outcome::Done;
}

Simulator::Outcome Simulator::write16(quint32 address, int addressModifier, quint16 word)
{
    waitCycleTime();
    if (settings.cyclesFail || unplugged())
        return Outcome::LinkFailed;
    const int module = answeringModule(address, addressModifier);
    if (module < 0 || settings.writesFail)
        return Outcome::BusError;
    models[std::size_t(module)].write(address - settings.modules[std::size_t(module)].baseAddress,
                                      word);
    return Outcome::Done;
}

void Simulator::log(const Cycle &cycle)
{
    if (cycleLog.size() >= logCapacity)
        cycleLog.pop_front();
    cycleLog.push_back(cycle);
    // One line per cycle: address, address modifier, data, R or W, status, wall-clock time in
    // milliseconds since the epoch; flushed at once, as the reader may be waiting on it.
    if (logFile) {
        std::fprintf(logFile.get(), "0x%X 0x%X 0x%04X %c %d %lld\n", cycle.address,
                     unsigned(cycle.addressModifier), cycle.data, cycle.write ? 'W' : 'R',
                     cycle.status, static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
        std::fflush(logFile.get());
    }
}

// A D16 cycle needs an even address; a module answers only to A16 non-privileged data access.
int Simulator::answeringModule(quint32 address, int addressModifier) const
{
    if (addressModifier != Brelk::AddressModifier || address % 2 != 0)
        return -1;
    const int module = settings.moduleAt(address);
    return module >= 0 && !settings.modules[std::size_t(module)].absent ? module : -1;
}

// The bridge blocks for the cycle rather than spinning, so the time costs no processor.
void Simulator::waitCycleTime() const
{
    if (settings.cycleMicroseconds > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(settings.cycleMicroseconds));
}
