#include "modulesession.h"

#include "bridge.h"
#include "channelgroup.h"
#include "display.h"

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
    recentTicks.clear();
    if (newAddress == oldAddress)
        return;
    lastAnswerMs = 0;
    freshness.addressChanged(QDateTime::currentMSecsSinceEpoch());
    updateStale();
    emit baseAddressChanged(int(oldAddress), int(newAddress));
}

QString ModuleSession::linePrefix() const
{
    return furtherModule ? moduleLinePrefix(moduleName, address) : QString();
}

void ModuleSession::connected()
{
    recentTicks.clear();
    latch = 0;
    freshness.connected(QDateTime::currentMSecsSinceEpoch());
}

void ModuleSession::connectionFailed()
{
    recentTicks.clear();
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
    const qint64 started = monotonicMs();
    if (!takeReading(&reading)) {
        if (freshness.missedTick())
            emit noAnswer(freshness.silentSince());
        updateStale();
        return false;
    }
    freshness.completeTick(reading.time);
    lastAnswerMs = reading.time;
    // The module reports an event only while it lasts; the session keeps it until cleared.
    latch |= reading.events;
    newest = reading;
    recentTicks.add(started, monotonicMs());
    emit readingTaken(reading);
    takeRedAlarms(reading);
    updateStale();
    return true;
}

void ModuleSession::takeRedAlarms(const Reading &reading)
{
    const QStringList newlyRed = redAlarms.take(reading.status, latch);
    for (const QString &line : newlyRed)
        qDebug().noquote() << linePrefix() + line;
    if (!newlyRed.isEmpty())
        emit alarmRaised();
}

void ModuleSession::setRemoteLink(const RemoteLink &link)
{
    remote = link;
    updateStale();
}

void ModuleSession::takeRemoteReading(const Reading &reading, quint16 latched, bool stale)
{
    serial = reading.serialNumber;
    latch = latched;
    lastAnswerMs = reading.time;
    newest = reading;
    const qint64 now = monotonicMs();
    recentTicks.add(now, now);
    freshness.completeTick(reading.time);
    remoteStale = stale;
    emit readingTaken(reading);
    takeRedAlarms(reading);
    updateStale();
}

void ModuleSession::remoteSilent()
{
    remoteStale = true;
    updateStale();
}

void ModuleSession::setCommandBlock(const QString &why)
{
    if (why == blockedBecause)
        return;
    blockedBecause = why;
    emit commandBlockChanged(why);
}

void ModuleSession::clearEvents(int channel)
{
    if (isRemote()) {
        remote.clearEvents(channel);
        return;
    }
    latch &= channel == 0 ? 0xFF00 : 0x00FF;
}

CommandFreshness ModuleSession::commandFreshness(qint64 receivedMs) const
{
    return Brelk::commandFreshness(freshness.isStale(), recentTicks, receivedMs, monotonicMs());
}

namespace {

QString registerText(Register reg)
{
    return QStringLiteral("0x") +
           QString::number(uint(reg), 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

int channelOf(Register setVoltageWrite)
{
    return setVoltageWrite == regVsetWrite[1] ? 1 : 0;
}

} // namespace

CommandOutcome ModuleSession::execute(const WriteList &writes)
{
    CommandOutcome outcome;
    if (isRemote()) {
        // Not done yet: the service writes it, and its answer comes as a note or a failure.
        outcome.done = false;
        outcome.sent = !writes.isEmpty() && blockedBecause.isEmpty();
        outcome.refused = !blockedBecause.isEmpty();
        outcome.failure = blockedBecause;
        if (!writes.isEmpty())
            remote.execute(writes);
        return outcome;
    }
    // Not counted among the failed commands: the bus was never asked.
    const QString aboveCeiling = ceilingProblem(writes, ceilings);
    if (!aboveCeiling.isEmpty()) {
        outcome.done = false;
        outcome.refused = true;
        outcome.failure = aboveCeiling.at(0).toUpper() + aboveCeiling.mid(1) +
                          QStringLiteral("; nothing was written");
        emit commandFailed(outcome.failure);
        return outcome;
    }
    const auto fail = [&](Register reg, bool read, int status) {
        outcome.done = false;
        outcome.failedRegister = reg;
        outcome.failedRead = read;
        outcome.failure =
            (read ? QStringLiteral("Read from the module at %1 failed (register %2): %3; nothing "
                                   "was written")
                  : QStringLiteral("Write to the module at %1 failed (register %2): %3"))
                .arg(baseAddressText(address), registerText(reg), bridge->statusText(status));
        ++failures;
        lastFailureText = outcome.failure;
        emit commandFailed(outcome.failure);
        return outcome;
    };

    // What the module holds now, for the channels whose set voltage a ramp speed re-sends: read
    // before the first write, so that a failed read leaves the module untouched.
    bool resends[2] = {false, false};
    for (const RegisterWrite &write : writes) {
        if (write.resendsSetVoltage)
            resends[channelOf(write.reg)] = true;
    }
    quint16 heldSetVoltage[2] = {0, 0};
    bool tripped[2] = {false, false};
    if (resends[0] || resends[1]) {
        int status = 0;
        const quint16 statusWord = readRegister(regStatus, &status);
        if (status < 0)
            return fail(regStatus, true, status);
        const quint16 events = readRegister(regStatus2, &status);
        if (status < 0)
            return fail(regStatus2, true, status);
        // The module reports an event only while it lasts; the latch keeps it like a tick's.
        latch |= events;
        for (int ch = 0; ch < 2; ++ch) {
            if (!resends[ch])
                continue;
            heldSetVoltage[ch] = readRegister(regVset[ch], &status);
            if (status < 0)
                return fail(regVset[ch], true, status);
            tripped[ch] = channelTripped(statusWord, latch, ch);
        }
    }

    for (RegisterWrite write : writes) {
        const int ch = channelOf(write.reg);
        if (write.resendsSetVoltage) {
            // A set voltage switches a tripped channel back on: only the operator's own does.
            if (tripped[ch]) {
                outcome.notes << QStringLiteral("Ramp speed stored; channel %1 stays off until a "
                                                "new set voltage")
                                     .arg(QChar('A' + ch));
                continue;
            }
            write.word = heldSetVoltage[ch];
            write.resendsSetVoltage = false;
        }
        const int status = bridge->write16(address + write.reg, AddressModifier, write.word);
        if (status < 0)
            return fail(write.reg, false, status);
        outcome.written.append(write);
        if (write.reg == regVsetWrite[ch]) {
            heldSetVoltage[ch] = write.word;
            // An explicit set voltage is what switches a tripped channel on again.
            tripped[ch] = false;
        }
    }
    for (const QString &note : qAsConst(outcome.notes))
        emit commandNote(note);
    return outcome;
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

bool ModuleSession::newestTickEnd(qint64 *monotonic) const
{
    if (!recentTicks.newestCompleted(monotonic))
        return false;
    if (isRemote() && !isStale())
        *monotonic = monotonicMs();
    return true;
}

bool ModuleSession::isStale() const
{
    return isRemote() ? remoteStale : freshness.isStale();
}

void ModuleSession::updateStale()
{
    if (isStale() == staleShown)
        return;
    staleShown = isStale();
    emit staleChanged(staleShown);
}

} // namespace Brelk
