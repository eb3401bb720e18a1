// Stand-in for Wiener's xxusb library: the entry points the VM-USB backend resolves, with the
// library's own signatures, over this library's simulator. Cycle functions return the number of
// bytes moved, or libusb's negative error number as the genuine library passes it on.
#include "standin.h"

#include <cstdio>

// The library's opaque types; callers only pass pointers to them around.
struct usb_device
{
    int bridge;
};

struct usb_dev_handle
{
    int handle;
};

struct xxusb_device_type
{
    struct usb_device *usbdev;
    char SerialString[7];
};

namespace {

const int maxBridges = 32;
usb_device devices[maxBridges];
usb_dev_handle deviceHandles[maxBridges];

const short statusDone = 2;
const short statusRegisterDone = 4;
const short statusIoError = -5;
const short statusNoDevice = -19;
const short statusInvalid = -22;
const short statusTimedOut = -110;

// 'S' 'I' 'M' and firmware revision 1, so the debug output shows which bridge answered.
const long firmwareId = 0x53494D01;

int handleNumber(usb_dev_handle *device)
{
    for (int h = 0; h < maxBridges; ++h) {
        if (device == &deviceHandles[h])
            return standInSimulator().isOpen(h) ? h : -1;
    }
    return -1;
}

short cycleStatus(Simulator::Outcome outcome)
{
    switch (outcome) {
    case Simulator::Outcome::Done:
        return statusDone;
    case Simulator::Outcome::BusError:
        return statusIoError;
    case Simulator::Outcome::LinkFailed:
        break;
    }
    return statusTimedOut;
}

} // namespace

BRELKSIM_EXPORT short BRELKSIM_VENDOR_CALL xxusb_devices_find(xxusb_device_type *table)
{
    const int count = standInSimulator().listedBridges();
    for (int i = 0; i < count; ++i) {
        devices[i].bridge = i;
        table[i].usbdev = &devices[i];
        std::snprintf(table[i].SerialString, sizeof table[i].SerialString, "SIM%03d",
                      (i + 1) % 1000);
    }
    return short(count);
}

BRELKSIM_EXPORT usb_dev_handle *BRELKSIM_VENDOR_CALL xxusb_device_open(usb_device *dev)
{
    if (!dev || dev < devices || dev >= devices + maxBridges)
        return nullptr;
    const int handle = standInSimulator().openBridge(dev->bridge);
    if (handle < 0)
        return nullptr;
    deviceHandles[handle].handle = handle;
    return &deviceHandles[handle];
}

BRELKSIM_EXPORT short BRELKSIM_VENDOR_CALL xxusb_device_close(usb_dev_handle *hDev)
{
    return standInSimulator().closeBridge(handleNumber(hDev)) ? 0 : statusNoDevice;
}

// The variant without this entry point tests how the panel treats an incomplete library.
#ifndef BRELKSIM_INCOMPLETE
BRELKSIM_EXPORT short BRELKSIM_VENDOR_CALL xxusb_register_read(usb_dev_handle *hDev, short RegAddr,
                                                               long *RegData)
{
    if (handleNumber(hDev) < 0)
        return statusNoDevice;
    if (!RegData)
        return statusInvalid;
    *RegData = RegAddr == 0 ? firmwareId : 0;
    return statusRegisterDone;
}
#endif

BRELKSIM_EXPORT short BRELKSIM_VENDOR_CALL VME_read_16(usb_dev_handle *hdev, short Address_Modifier,
                                                       long VME_Address, long *Data)
{
    if (!Data)
        return statusInvalid;
    Simulator &simulator = standInSimulator();
    const quint32 address = quint32(VME_Address);
    short status = statusNoDevice;
    if (handleNumber(hdev) >= 0) {
        quint16 word = 0;
        const Simulator::Outcome outcome = simulator.read16(address, Address_Modifier, &word);
        if (outcome != Simulator::Outcome::LinkFailed)
            *Data = word;
        status = cycleStatus(outcome);
    }
    simulator.log({address, Address_Modifier, quint16(*Data), false, status});
    return status;
}

BRELKSIM_EXPORT short BRELKSIM_VENDOR_CALL VME_write_16(usb_dev_handle *hdev,
                                                        short Address_Modifier, long VME_Address,
                                                        long Data)
{
    Simulator &simulator = standInSimulator();
    const quint32 address = quint32(VME_Address);
    short status = statusNoDevice;
    if (handleNumber(hdev) >= 0)
        status = cycleStatus(simulator.write16(address, Address_Modifier, quint16(Data)));
    simulator.log({address, Address_Modifier, quint16(Data), true, status});
    return status;
}
