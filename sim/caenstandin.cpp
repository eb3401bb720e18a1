// Stand-in for CAEN's VME library: the entry points the V1718 backend resolves, with the
// library's own signatures, over this library's simulator. Every entry point returns CAEN's
// error code: 0 for success, negative for failure.
#include "standin.h"

#include <cstdint>
#include <cstring>

namespace {

const int cvSuccess = 0;
const int cvBusError = -1;
const int cvCommError = -2;
const int cvInvalidParam = -4;

const int cvV1718 = 0;
const int cvD16 = 2;

const char releaseText[] = "SIM-1.0";

int cycleStatus(Simulator::Outcome outcome)
{
    switch (outcome) {
    case Simulator::Outcome::Done:
        return cvSuccess;
    case Simulator::Outcome::BusError:
        return cvBusError;
    case Simulator::Outcome::LinkFailed:
        break;
    }
    return cvCommError;
}

// Data widths are CAEN's codes, which are the byte counts (D8, D16, D32, D64).
bool isDataWidth(int dataWidth)
{
    return dataWidth == 1 || dataWidth == 2 || dataWidth == 4 || dataWidth == 8;
}

} // namespace

BRELKSIM_EXPORT int BRELKSIM_VENDOR_CALL CAENVME_SWRelease(char *SwRel)
{
    if (!SwRel)
        return cvInvalidParam;
    std::strcpy(SwRel, releaseText);
    return cvSuccess;
}

BRELKSIM_EXPORT int BRELKSIM_VENDOR_CALL CAENVME_Init(int BdType, short Link, short BdNum,
                                                      int32_t *Handle)
{
    if (!Handle)
        return cvInvalidParam;
    if (BdType != cvV1718 || Link != 0)
        return cvCommError;
    const int handle = standInSimulator().openBridge(BdNum);
    if (handle < 0)
        return cvCommError;
    *Handle = handle;
    return cvSuccess;
}

BRELKSIM_EXPORT int BRELKSIM_VENDOR_CALL CAENVME_End(int32_t Handle)
{
    return standInSimulator().closeBridge(Handle) ? cvSuccess : cvInvalidParam;
}

BRELKSIM_EXPORT int BRELKSIM_VENDOR_CALL CAENVME_BoardFWRelease(int32_t Handle, char *FWRel)
{
    if (!standInSimulator().isOpen(Handle) || !FWRel)
        return cvInvalidParam;
    std::strcpy(FWRel, releaseText);
    return cvSuccess;
}

BRELKSIM_EXPORT int BRELKSIM_VENDOR_CALL CAENVME_ReadCycle(int32_t Handle, uint32_t Address,
                                                           void *Data, int AM, int DW)
{
    if (!Data || !isDataWidth(DW))
        return cvInvalidParam;
    Simulator &simulator = standInSimulator();
    int status = cvInvalidParam;
    if (simulator.isOpen(Handle)) {
        if (DW == cvD16) {
            quint16 word = 0;
            const Simulator::Outcome outcome = simulator.read16(Address, AM, &word);
            if (outcome != Simulator::Outcome::LinkFailed)
                std::memcpy(Data, &word, sizeof word);
            status = cycleStatus(outcome);
        } else {
            // Only D16 reaches the module; anything else is not acknowledged.
            std::memset(Data, 0xFF, std::size_t(DW));
            status = cvBusError;
        }
    }
    quint16 logged = 0;
    std::memcpy(&logged, Data, DW == 1 ? 1 : sizeof logged);
    simulator.log({Address, AM, logged, false, status});
    return status;
}

BRELKSIM_EXPORT int BRELKSIM_VENDOR_CALL CAENVME_WriteCycle(int32_t Handle, uint32_t Address,
                                                            void *Data, int AM, int DW)
{
    if (!Data || !isDataWidth(DW))
        return cvInvalidParam;
    Simulator &simulator = standInSimulator();
    quint16 word = 0;
    std::memcpy(&word, Data, DW == 1 ? 1 : sizeof word);
    int status = cvInvalidParam;
    if (simulator.isOpen(Handle))
        status = DW == cvD16 ? cycleStatus(simulator.write16(Address, AM, word)) : cvBusError;
    simulator.log({Address, AM, word, true, status});
    return status;
}

// The variant without this entry point tests how the panel treats an incomplete library.
#ifndef BRELKSIM_INCOMPLETE
BRELKSIM_EXPORT int BRELKSIM_VENDOR_CALL CAENVME_SetTimeout(int32_t Handle, int Timeout)
{
    if (!standInSimulator().isOpen(Handle) || Timeout < 0)
        return cvInvalidParam;
    return cvSuccess;
}
#endif

// A VME system reset restarts every module in the crate.
BRELKSIM_EXPORT int BRELKSIM_VENDOR_CALL CAENVME_SystemReset(int32_t Handle)
{
    if (!standInSimulator().isOpen(Handle))
        return cvInvalidParam;
    standInSimulator().powerOnAll();
    return cvSuccess;
}
