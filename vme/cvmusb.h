// The Wiener VM-USB USB-to-VME bridge, driven through Wiener's xxusb library, which is loaded at
// run time. Without the library or an open device every bus operation fails with -1.
#ifndef CVMUSB_H
#define CVMUSB_H

#include "cvmecontroller.h"
#include "vendorlibrary.h"

class CVmUsb : public CVmeController
{
public:
    CVmUsb();
    ~CVmUsb() override;

    bool open(int index) override;
    bool close() override;
    QString errorString() override;
    QString name() override;
    QString infoString() override;
    void systemReset(int *error = nullptr) override;
    void write16(quint32 address, int addressModifier, quint16 data, int *error = nullptr) override;
    quint16 read16(quint32 address, int addressModifier, int *error = nullptr) override;

    // What a failed cycle's status means, in the library's own terms.
    static QString cycleStatusText(int status);

private:
    // One record of the library's device table: the USB device and its serial number text.
    struct DeviceRecord
    {
        void *usbDevice;
        char serialString[7];
    };

    // The xxusb entry points. The cycle functions return the number of bytes moved, negative on
    // failure; `long` is whatever the platform's C compiler makes of it (64 bits on Linux).
    typedef short(VENDOR_CALL *DevicesFind)(DeviceRecord *table);
    typedef void *(VENDOR_CALL *DeviceOpen)(void *usbDevice);
    typedef short(VENDOR_CALL *DeviceClose)(void *device);
    typedef short(VENDOR_CALL *RegisterRead)(void *device, short reg, long *value);
    typedef short(VENDOR_CALL *Read16)(void *device, short addressModifier, long address,
                                       long *data);
    typedef short(VENDOR_CALL *Write16)(void *device, short addressModifier, long address,
                                        long data);

    QLibrary *library = nullptr;
    void *device = nullptr;
    QString deviceSerial;
    QString errorText;

    DevicesFind xxusbDevicesFind = nullptr;
    DeviceOpen xxusbDeviceOpen = nullptr;
    DeviceClose xxusbDeviceClose = nullptr;
    RegisterRead xxusbRegisterRead = nullptr;
    Read16 vmeRead16 = nullptr;
    Write16 vmeWrite16 = nullptr;
};

#endif // CVMUSB_H
