// The simulator of one stand-in library, created when the library is loaded, and the control
// functions through which tests drive it. The panel never resolves these.
#include "standin.h"

namespace {
Simulator simulator;
}

Simulator &standInSimulator()
{
    return simulator;
}

BRELKSIM_EXPORT void brelksim_reset(void)
{
    simulator.reset();
}

BRELKSIM_EXPORT int brelksim_configure(const char *key, const char *value)
{
    if (!key || !value)
        return -1;
    return simulator.configure(QByteArray(key), QByteArray(value)) ? 0 : -1;
}

BRELKSIM_EXPORT void brelksim_set_manual_clock(int on)
{
    simulator.clock().setManual(on != 0);
}

BRELKSIM_EXPORT void brelksim_advance_ms(int ms)
{
    simulator.clock().advance(ms);
}

BRELKSIM_EXPORT void brelksim_set_register(unsigned offset, unsigned word)
{
    simulator.module().force(offset, quint16(word));
}

BRELKSIM_EXPORT unsigned brelksim_register(unsigned offset)
{
    return simulator.module().read(offset);
}

BRELKSIM_EXPORT int brelksim_cycle_count(void)
{
    return int(simulator.cycles().size());
}

BRELKSIM_EXPORT int brelksim_cycle(int index, unsigned *address, int *addressModifier,
                                   unsigned *data, int *write, int *status)
{
    if (index < 0 || std::size_t(index) >= simulator.cycles().size())
        return -1;
    const Simulator::Cycle &cycle = simulator.cycles()[std::size_t(index)];
    if (address)
        *address = cycle.address;
    if (addressModifier)
        *addressModifier = cycle.addressModifier;
    if (data)
        *data = cycle.data;
    if (write)
        *write = cycle.write ? 1 : 0;
    if (status)
        *status = cycle.status;
    return 0;
}

BRELKSIM_EXPORT void brelksim_clear_log(void)
{
    simulator.clearLog();
}
