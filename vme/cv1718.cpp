#include "cv1718.h"

#include <QDebug>

namespace {
// CAEN's codes for the bridge model and the data width of a cycle.
const int boardTypeV1718 = 0;
const int dataWidthD16 = 2;
// CAEN's "generic error", reported when no library is there to attempt a cycle.
const int statusNoLibrary = -3;
// A read that nothing answers delivers all ones on the VME data lines.
const quint16 wordNotAnswered = 0xFFFF;
const int releaseTextSize = 256;
} // namespace

CV1718::CV1718()
{
    QStringList fileNames{QStringLiteral("CAENVMElib")};
#ifndef Q_OS_WIN
    // CAEN installs the library on Linux as libCAENVME.so.
    fileNames << QStringLiteral("CAENVME");
#endif
    VendorLibrary loader(fileNames);
    loader.addEntryPoint("CAENVME_SWRelease", "softwareRelease = %p", &softwareRelease);
    loader.addEntryPoint("CAENVME_Init", "init = %p", &init);
    loader.addEntryPoint("CAENVME_End", "end = %p", &end);
    loader.addEntryPoint("CAENVME_BoardFWRelease", "boardFirmwareRelease = %p",
                         &boardFirmwareRelease);
    loader.addEntryPoint("CAENVME_ReadCycle", "readCycle = %p", &readCycle);
    loader.addEntryPoint("CAENVME_WriteCycle", "writeCycle = %p", &writeCycle);
    loader.addEntryPoint("CAENVME_SetTimeout", "setTimeout = %p", &setTimeout);
    loader.addEntryPoint("CAENVME_SystemReset", "systemReset = %p", &resetSystem);
    library = loader.load(&errorText);

    if (library)
        qDebug("softwareRelease returns: %s", qPrintable(softwareReleaseText()));
}

CV1718::~CV1718()
{
    if (library) {
        library->unload();
        delete library;
    }
}

bool CV1718::open(int index)
{
    if (!library)
        return false;
    if (init(boardTypeV1718, 0, short(index), &handle) != 0)
        return false;
    connected = true;
    return true;
}

bool CV1718::close()
{
    if (!library || !connected)
        return false;
    const int result = end(handle);
    handle = 0;
    connected = false;
    return result == 0;
}

QString CV1718::errorString()
{
    return errorText;
}

QString CV1718::cycleStatusText(int status)
{
    switch (status) {
    case -1:
        return QStringLiteral("VME bus error");
    case -2:
        return QStringLiteral("communication error");
    case statusNoLibrary:
        return QStringLiteral("generic error");
    case -4:
        return QStringLiteral("invalid parameter");
    case -5:
        return QStringLiteral("timeout");
    default:
        break;
    }
    return QStringLiteral("error %1").arg(status);
}

QString CV1718::name()
{
    return QStringLiteral("CAEN V1718");
}

QString CV1718::infoString()
{
    if (!library)
        return QStringLiteral("Not connected to CAEN VME library!");
    return QStringLiteral("CAEN VME library version %1").arg(softwareReleaseText());
}

void CV1718::systemReset(int *error)
{
    const int status = library ? resetSystem(handle) : statusNoLibrary;
    if (error)
        *error = status;
}

void CV1718::write16(quint32 address, int addressModifier, quint16 data, int *error)
{
    int status = statusNoLibrary;
    if (library)
        status = writeCycle(handle, address, &data, addressModifier, dataWidthD16);
    if (error)
        *error = status;
}

quint16 CV1718::read16(quint32 address, int addressModifier, int *error)
{
    quint16 data = wordNotAnswered;
    int status = statusNoLibrary;
    if (library)
        status = readCycle(handle, address, &data, addressModifier, dataWidthD16);
    if (error)
        *error = status;
    return data;
}

QString CV1718::softwareReleaseText()
{
    char text[releaseTextSize] = {};
    softwareRelease(text);
    text[releaseTextSize - 1] = '\0';
    return QString::fromLatin1(text);
}
