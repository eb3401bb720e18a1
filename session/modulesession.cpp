#include "modulesession.h"

#include "bridge.h"

#include <QDateTime>
#include <QDebug>

namespace Brelk {

ModuleSession::ModuleSession(Bridge *bridge, quint32 baseAddress, QObject *parent)
    : QObject(parent), bridge(bridge), address(baseAddress)
{
}

void ModuleSession::setBaseAddress(quint32 newAddress)
{
    const quint32 oldAddress = address;
    address = newAddress;
    readSinceConnect = false;
    if (newAddress == oldAddress)
        return;
    freshness.addressChanged(QDateTime::currentMSecsSinceEpoch());
    updateStale();
    emit baseAddressChanged(int(oldAddress), int(newAddress));
}

void ModuleSession::connected()
{
    readSinceConnect = false;
    latch = 0;
    freshness.connected(QDateTime::currentMSecsSinceEpoch());
}

void ModuleSession::connectionFailed()
{
    readSinceConnect = false;
    freshness.connectionFailed();
    updateStale();
}

void ModuleSession::pollStopped()
{
    freshness.pollStopped();
    updateStale();
}

bool ModuleSession::poll()
{
    Reading reading;
    if (!takeReading(&reading)) {
        if (freshness.missedTick())
            emit noAnswer(freshness.silentSince());
        updateStale();
        return false;
    }
    freshness.completeTick(reading.time);
    // The module reports an event only while it lasts; the session keeps it until cleared.
    latch |= reading.events;
    newest = reading;
    readSinceConnect = true;
    emit readingTaken(reading);
    const QStringList newlyRed = redAlarms.take(reading.status, latch);
    for (const QString &line : newlyRed)
        qDebug().noquote() << line;
    if (!newlyRed.isEmpty())
        emit alarmRaised();
    updateStale();
    return true;
}

void ModuleSession::clearEvents(int channel)
{
    latch &= channel == 0 ? 0xFF00 : 0x00FF;
}

void ModuleSession::execute(const WriteList &writes)
{
    for (const RegisterWrite &write : writes)
        bridge->write16(address + write.reg, AddressModifier, write.word);
}

// Reads one tick's registers in the module's order. False when the tick did not complete: the
// serial-number cycle failed (no module delivered anything, for example a controller that is not
// open: nothing else is decoded) or read 0xFFFF (nothing answers at the base address).
bool ModuleSession::takeReading(Reading *reading)
{
    int serialStatus = 0;
    const quint16 word = readRegister(regSerialNumber, &serialStatus);
    if (serialStatus < 0)
        return false;
    serial = word;
    if (word == NoModule)
        return false;

    reading->time = QDateTime::currentMSecsSinceEpoch();
    reading->serialNumber = word;
    reading->fineVoltage = options.fineVoltage;
    reading->currentResolution = options.currentResolution;
    reading->secondRange = options.secondRange;

    for (int ch = 0; ch < 2; ++ch)
        reading->vset[ch] = readRegister(regVset[ch]);
    for (int ch = 0; ch < 2; ++ch)
        reading->ramp[ch] = readRegister(regRamp[ch]);
    for (int ch = 0; ch < 2; ++ch)
        reading->vmeas[ch] = readRegister(reading->fineVoltage ? regVmeasFine[ch] : regVmeas[ch]);
    for (int ch = 0; ch < 2; ++ch)
        reading->imeas[ch] = readRegister(regImeas[ch]);
    // Without a second range its measured currents are not read at all.
    for (int ch = 0; ch < 2; ++ch) {
        if (reading->secondRange == SecondRange::nA1)
            reading->imeas2[ch] = readRegister(regImeas2_1nA[ch]);
        else if (reading->secondRange == SecondRange::pA100)
            reading->imeas2[ch] = readRegister(regImeas2_100pA[ch]);
    }
    reading->status = readRegister(regStatus);
    reading->events = readRegister(regStatus2);
    for (int ch = 0; ch < 2; ++ch)
        reading->limits[ch] = readRegister(regLimits[ch]);
    for (int ch = 0; ch < 2; ++ch)
        reading->softLimitI[ch] = readRegister(regSoftLimitI[ch]);
    // The second-range limits are read even without a second range.
    for (int ch = 0; ch < 2; ++ch)
        reading->softLimitI2[ch] = readRegister(regSoftLimitI2[ch]);
    return true;
}

quint16 ModuleSession::readRegister(Register reg, int *status)
{
    return bridge->read16(address + reg, AddressModifier, status);
}

void ModuleSession::updateStale()
{
    if (freshness.isStale() == staleShown)
        return;
    staleShown = freshness.isStale();
    emit staleChanged(staleShown);
}

} // namespace Brelk
