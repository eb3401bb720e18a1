#include "cvmusb.h"

#include <QDebug>

#include <cstring>

namespace {
// Room for as many bridges as the library may report.
const int deviceTableSize = 32;
const short firmwareRegister = 0;
// Status of a cycle that was not attempted: no library or no open device.
const int statusNotAttempted = -1;
} // namespace

CVmUsb::CVmUsb()
{
    VendorLibrary loader({QStringLiteral("libxxusb")});
    loader.addEntryPoint("xxusb_devices_find", "xxusbDevicesFind = %p", &xxusbDevicesFind);
    loader.addEntryPoint("xxusb_device_open", "xxusbDeviceOpen = %p", &xxusbDeviceOpen);
    loader.addEntryPoint("xxusb_device_close", "xxusbDeviceClose = %p", &xxusbDeviceClose);
    loader.addEntryPoint("xxusb_register_read", "xxusbRegisterRead = %p", &xxusbRegisterRead);
    loader.addEntryPoint("VME_read_16", "vmeRead16 = %p", &vmeRead16);
    loader.addEntryPoint("VME_write_16", "vmeWrite16 = %p", &vmeWrite16);
    library = loader.load(&errorText);
}

CVmUsb::~CVmUsb()
{
    if (library) {
        library->unload();
        delete library;
    }
}

bool CVmUsb::open(int index)
{
    if (!library)
        return false;

    DeviceRecord table[deviceTableSize] = {};
    const int count = xxusbDevicesFind(table);
    if (index < 0 || index >= count || index >= deviceTableSize) {
        errorText = QStringLiteral("No VM-USB controller # %1 found!").arg(index);
        return false;
    }

    const DeviceRecord &record = table[index];
    const QString serial = QString::fromLatin1(
        record.serialString, qstrnlen(record.serialString, sizeof record.serialString));
    device = xxusbDeviceOpen(record.usbDevice);
    if (!device) {
        // The bridge is listed but the library could not open it (in use, or no USB access).
        errorText = QStringLiteral("VM-USB controller # %1 (sn. %2) could not be opened!")
                        .arg(index)
                        .arg(serial);
        return false;
    }
    deviceSerial = serial;

    long firmware = 0;
    xxusbRegisterRead(device, firmwareRegister, &firmware);
    qDebug() << "VM-USB sn." << deviceSerial << "FW" << firmware;
    return true;
}

bool CVmUsb::close()
{
    if (library && device) {
        xxusbDeviceClose(device);
        device = nullptr;
    }
    return true;
}

QString CVmUsb::errorString()
{
    return errorText;
}

// The library passes on the USB layer's negative errno values.
QString CVmUsb::cycleStatusText(int status)
{
    if (status == statusNotAttempted)
        return QStringLiteral("the controller is not open");
    return QStringLiteral("%1 (error %2)")
        .arg(QString::fromLocal8Bit(std::strerror(-status)))
        .arg(status);
}

QString CVmUsb::name()
{
    return QStringLiteral("Wiener VM-USB");
}

QString CVmUsb::infoString()
{
    if (!library)
        return QStringLiteral("Not connected to Wiener XXUSB library!");
    return QStringLiteral("Connected to VME controller %1").arg(deviceSerial);
}

void CVmUsb::systemReset(int *)
{
    // The VM-USB offers no system reset through this library.
}

void CVmUsb::write16(quint32 address, int addressModifier, quint16 data, int *error)
{
    int status = statusNotAttempted;
    if (library && device)
        status = vmeWrite16(device, short(addressModifier), long(address), long(data));
    if (error)
        *error = status;
}

quint16 CVmUsb::read16(quint32 address, int addressModifier, int *error)
{
    long data = 0;
    int status = statusNotAttempted;
    if (library && device)
        status = vmeRead16(device, short(addressModifier), long(address), &data);
    if (error)
        *error = status;
    return quint16(data & 0xFFFF);
}
