#include "modulemodel.h"

#include <algorithm>
#include <cmath>

using namespace Brelk;

namespace {

quint16 saturatedCount(double value)
{
    return quint16(std::min(std::lround(value), 0xFFFFL));
}

// The front-panel limits act, and are reported, in steps of 10 % of full scale.
double limitFraction(int percent)
{
    return (percent / LimitsPercentPerStep) * LimitsPercentPerStep / 100.0;
}

} // namespace

ModuleModel::ModuleModel(const ModuleConfig &config, const SimClock *clock)
    : config(config), clock(clock)
{
    powerOn();
}

void ModuleModel::powerOn()
{
    forced.clear();
    lastUpdate = clock->milliseconds();
    for (int c = 0; c < 2; ++c) {
        channels[c] = Channel();
        channels[c].rampSpeed = quint16(config.channels[c].rampSpeed);
        setVoltage(c, config.channels[c].setVoltage);
    }
    update();
}

void ModuleModel::applyConfig(const ModuleConfig &newConfig)
{
    update();
    const ModuleConfig old = config;
    config = newConfig;
    for (int c = 0; c < 2; ++c) {
        if (newConfig.channels[c].setVoltage != old.channels[c].setVoltage)
            setVoltage(c, newConfig.channels[c].setVoltage);
        if (newConfig.channels[c].rampSpeed != old.channels[c].rampSpeed)
            channels[c].rampSpeed = quint16(newConfig.channels[c].rampSpeed);
        if (newConfig.channels[c].trip && !old.channels[c].trip) {
            channels[c].tripped = true;
            channels[c].events |= EventILIM | EventTRP;
            channels[c].voltage = 0;
        }
    }
    update();
}

quint16 ModuleModel::read(quint32 offset)
{
    update();
    const auto forcedWord = forced.find(offset);
    if (forcedWord != forced.end())
        return forcedWord->second;

    switch (offset) {
    case regStatus:
        return quint16(statusBits(0) | statusBits(1) << 8);
    case regStatus2:
        return quint16(channels[0].events | channels[1].events << 8);
    case regSerialNumber:
        return config.serialNumber;
    default:
        break;
    }
    for (int c = 0; c < 2; ++c) {
        if (offset == regVset[c])
            return quint16(channels[c].setVoltage);
        if (offset == regRamp[c])
            return channels[c].rampSpeed;
        if (offset == regSoftLimitI[c])
            return channels[c].softLimitI;
        if (offset == regSoftLimitI2[c])
            return channels[c].softLimitI2;
    }
    return measuredRegister(offset);
}

void ModuleModel::write(quint32 offset, quint16 word)
{
    update();
    for (int c = 0; c < 2; ++c) {
        if (offset == regVsetWrite[c])
            setVoltage(c, word);
        else if (offset == regRamp[c])
            channels[c].rampSpeed = word;
        else if (offset == regSoftLimitI[c])
            channels[c].softLimitI = word;
        else if (offset == regSoftLimitI2[c])
            channels[c].softLimitI2 = word;
    }
    // A lowered limit acts at once, not only when time has passed.
    update();
}

void ModuleModel::force(quint32 offset, quint16 word)
{
    update();
    if (offset == regStatus2) {
        channels[0].events = channelByte(word, 0);
        channels[1].events = channelByte(word, 1);
        return;
    }
    for (int c = 0; c < 2; ++c) {
        if (offset == regVset[c] || offset == regVsetWrite[c]) {
            channels[c].setVoltage = word;
            return;
        }
        if (offset == regRamp[c] || offset == regSoftLimitI[c] || offset == regSoftLimitI2[c]) {
            write(offset, word);
            return;
        }
    }
    forced[offset] = word;
}

void ModuleModel::update()
{
    const qint64 now = clock->milliseconds();
    const double seconds = (now - lastUpdate) / 1000.0;
    lastUpdate = now;
    for (int c = 0; c < 2; ++c)
        advance(c, seconds);
}

void ModuleModel::advance(int channel, double seconds)
{
    Channel &ch = channels[channel];
    const ChannelConfig &input = config.channels[channel];
    ch.currentLimited = false;
    // The inhibit input switches the output off at once, without a ramp.
    if (input.inhibit) {
        ch.voltage = 0;
        ch.events |= EventINH;
        return;
    }

    const double target = targetVoltage(channel);
    const double step = ch.rampSpeed * VoltsPerSecondPerCount * seconds;
    const double remaining = target - ch.voltage;
    if (std::fabs(remaining) <= step)
        ch.voltage = target;
    else
        ch.voltage += remaining > 0 ? step : -step;

    if (input.loadOhms <= 0 || ch.voltage <= 0)
        return;
    const double voltageAtLimit = currentLimit(channel) * input.loadOhms;
    if (ch.voltage < voltageAtLimit)
        return;
    ch.events |= EventILIM;
    if (input.killEnabled) {
        ch.tripped = true;
        ch.events |= EventTRP;
        ch.voltage = 0;
    } else {
        ch.voltage = voltageAtLimit;
        ch.currentLimited = true;
    }
}

void ModuleModel::setVoltage(int channel, int volts)
{
    Channel &ch = channels[channel];
    ch.setVoltage = std::min(volts, maximumVoltage);
    ch.tripped = false;
    if (ch.setVoltage > hardwareVoltageLimit(channel))
        ch.events |= EventVLIM;
}

// Where the output is heading: the set voltage, held back by the hardware limit, or 0 while the
// high voltage is switched off or the channel has tripped.
double ModuleModel::targetVoltage(int channel) const
{
    const Channel &ch = channels[channel];
    if (!config.channels[channel].hvOn || ch.tripped)
        return 0;
    return std::min(double(ch.setVoltage), hardwareVoltageLimit(channel));
}

double ModuleModel::hardwareVoltageLimit(int channel) const
{
    return limitFraction(config.channels[channel].voltageLimitPercent) * maximumVoltage;
}

// The lowest of the hardware current limit (a fraction of the first range's full scale) and the
// software limits that are set; a software limit of 0 is off.
double ModuleModel::currentLimit(int channel) const
{
    const Channel &ch = channels[channel];
    const double firstRange = amperesPerCount(config.currentResolution);
    double limit =
        limitFraction(config.channels[channel].currentLimitPercent) * 0xFFFF * firstRange;
    if (ch.softLimitI > 0)
        limit = std::min(limit, ch.softLimitI * firstRange);
    if (ch.softLimitI2 > 0 && config.secondRange != SecondRange::None)
        limit = std::min(limit, ch.softLimitI2 * amperesPerCount(config.secondRange));
    return limit;
}

double ModuleModel::current(int channel) const
{
    const double load = config.channels[channel].loadOhms;
    return load > 0 ? channels[channel].voltage / load : 0;
}

quint8 ModuleModel::statusBits(int channel) const
{
    const Channel &ch = channels[channel];
    const ChannelConfig &input = config.channels[channel];
    const double target = targetVoltage(channel);
    quint8 bits = 0;
    if (ch.tripped)
        bits |= StatusError;
    if (!input.inhibit && !ch.currentLimited && ch.voltage != target) {
        bits |= StatusRamping;
        if (target > ch.voltage)
            bits |= StatusRampUp;
    }
    if (input.killEnabled)
        bits |= StatusKillEnable;
    if (!input.hvOn)
        bits |= StatusHvOff;
    if (input.positive)
        bits |= StatusPositive;
    if (input.manual)
        bits |= StatusManual;
    return bits;
}

// Registers that report a measurement or a front-panel setting; unused offsets read 0.
quint16 ModuleModel::measuredRegister(quint32 offset) const
{
    for (int c = 0; c < 2; ++c) {
        const double volts = channels[c].voltage;
        const double amperes = current(c);
        if (offset == regVmeas[c])
            return saturatedCount(volts);
        // A module without the 100 mV option measures in whole volts in both registers.
        if (offset == regVmeasFine[c])
            return config.fineVoltage ? saturatedCount(volts / FineVoltsPerCount)
                                      : saturatedCount(std::lround(volts) / FineVoltsPerCount);
        if (offset == regImeas[c])
            return saturatedCount(amperes / amperesPerCount(config.currentResolution));
        if (offset == regImeas2_1nA[c] && config.secondRange == SecondRange::nA1)
            return saturatedCount(amperes / amperesPerCount(SecondRange::nA1));
        if (offset == regImeas2_100pA[c] && config.secondRange == SecondRange::pA100)
            return saturatedCount(amperes / amperesPerCount(SecondRange::pA100));
        if (offset == regLimits[c]) {
            const ChannelConfig &input = config.channels[c];
            return quint16((input.voltageLimitPercent / LimitsPercentPerStep)
                               << LimitsVoltageShift |
                           input.currentLimitPercent / LimitsPercentPerStep);
        }
    }
    return 0;
}
