#include "simulator.h"

#include "registermap.h"

#include <QDateTime>

#include <algorithm>

namespace {
// The module decodes 128 bytes of A16 space from its base address.
const quint32 moduleWindow = 0x80;
// Enough for several minutes of polling; the oldest cycles go first.
const std::size_t logCapacity = 100000;

SimConfig configFromEnvironment()
{
    SimConfig config;
    config.readEnvironment();
    return config;
}
} // namespace

Simulator::Simulator() : settings(configFromEnvironment()), model(settings.module, &time)
{
    const QByteArray logPath = qgetenv("BRELKSIM_LOG");
    if (!logPath.isEmpty())
        logFile.reset(std::fopen(logPath.constData(), "a"));
}

void Simulator::reset()
{
    settings = configFromEnvironment();
    time = SimClock();
    model = ModuleModel(settings.module, &time);
    openBridges.clear();
    cycleLog.clear();
}

bool Simulator::configure(const QByteArray &key, const QByteArray &value)
{
    if (!settings.set(key, value))
        return false;
    model.applyConfig(settings.module);
    return true;
}

int Simulator::openBridge(int bridge)
{
    if (bridge < 0 || bridge >= settings.bridges || settings.openGivesNoHandle)
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
    if (settings.cyclesFail)
        return Outcome::LinkFailed;
    if (!moduleAnswers(address, addressModifier)) {
        *word = 0xFFFF;
        return Outcome::BusError;
    }
    *word = model.read(address - settings.baseAddress);
    return Outcome::Done;
}

Simulator::Outcome Simulator::write16(quint32 address, int addressModifier, quint16 word)
{
    if (settings.cyclesFail)
        return Outcome::LinkFailed;
    if (!moduleAnswers(address, addressModifier))
        return Outcome::BusError;
    model.write(address - settings.baseAddress, word);
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

// A D16 cycle needs an even address; the module answers only to A16 non-privileged data access.
bool Simulator::moduleAnswers(quint32 address, int addressModifier) const
{
    return !settings.noModule && addressModifier == Brelk::AddressModifier &&
           address >= settings.baseAddress && address < settings.baseAddress + moduleWindow &&
           address % 2 == 0;
}
