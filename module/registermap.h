// The module's register map: every offset, scale and bit mask of the two-channel high-voltage
// module, and nothing else. Everything that reads or writes the module refers to these names.
#ifndef REGISTERMAP_H
#define REGISTERMAP_H

#include <QtGlobal>

namespace Brelk {

// Offsets from the module's VME base address. Every register is one 16-bit word.
enum Register : quint32 {
    regStatus = 0x00,
    regVset_A = 0x04,
    regVset_B = 0x08,
    regRamp_A = 0x0C,
    regRamp_B = 0x10,
    regVmeas_A = 0x14,
    regVmeasFine_A = 0x16,
    regVmeas_B = 0x18,
    regVmeasFine_B = 0x1A,
    regImeas_A = 0x1C,
    regImeas2_1nA_A = 0x1E,
    regImeas_B = 0x20,
    regImeas2_1nA_B = 0x22,
    regLimits_A = 0x24,
    regImeas2_100pA_A = 0x26,
    regLimits_B = 0x28,
    regImeas2_100pA_B = 0x2A,
    regStatus2 = 0x30,
    regVsetWrite_A = 0x34,
    regVsetWrite_B = 0x38,
    regSerialNumber = 0x3C,
    regSoftLimitI_A = 0x44,
    regSoftLimitI2_A = 0x46,
    regSoftLimitI_B = 0x48,
    regSoftLimitI2_B = 0x4A,
};

// A16 non-privileged data access: the modifier of every cycle to the module.
constexpr int AddressModifier = 0x29;

// The serial-number word when no module answers at the base address.
constexpr quint16 NoModule = 0xFFFF;

constexpr quint32 DefaultBaseAddress = 0xDD00;

// Per-channel registers, indexed by channel (0 = A, 1 = B).
constexpr Register regVset[2] = {regVset_A, regVset_B};
constexpr Register regRamp[2] = {regRamp_A, regRamp_B};
constexpr Register regVmeas[2] = {regVmeas_A, regVmeas_B};
constexpr Register regVmeasFine[2] = {regVmeasFine_A, regVmeasFine_B};
constexpr Register regImeas[2] = {regImeas_A, regImeas_B};
constexpr Register regImeas2_1nA[2] = {regImeas2_1nA_A, regImeas2_1nA_B};
constexpr Register regImeas2_100pA[2] = {regImeas2_100pA_A, regImeas2_100pA_B};
constexpr Register regLimits[2] = {regLimits_A, regLimits_B};
constexpr Register regVsetWrite[2] = {regVsetWrite_A, regVsetWrite_B};
constexpr Register regSoftLimitI[2] = {regSoftLimitI_A, regSoftLimitI_B};
constexpr Register regSoftLimitI2[2] = {regSoftLimitI2_A, regSoftLimitI2_B};

// Status word bits of channel A; channel B uses the same bits eight places higher.
enum StatusBit : quint16 {
    StatusManual = 0x0002,
    StatusPositive = 0x0004,
    StatusHvOff = 0x0008,
    StatusKillEnable = 0x0010,
    StatusRampUp = 0x0020,
    StatusRamping = 0x0040,
    StatusError = 0x0080,
};

// Event flags of channel A in the status-2 word; channel B eight places higher.
enum EventBit : quint16 {
    EventTRP = 0x0002,
    EventVLIM = 0x0010,
    EventINH = 0x0020,
    EventILIM = 0x0040,
    EventQUA = 0x0080,
};
// The events that have a name; the byte's other bits are unused.
constexpr quint16 NamedEvents = EventTRP | EventVLIM | EventINH | EventILIM | EventQUA;

// The events that mean the channel was switched off or is limited: they colour it red.
constexpr quint8 RedEvents = EventTRP | EventILIM | EventINH;

// The byte of a flag word that belongs to a channel.
constexpr quint8 channelByte(quint16 word, int channel)
{
    return quint8(word >> (8 * channel));
}

// Limits word: bits 4 and up are the voltage limit, bits 0-3 the current limit, both in
// steps of 10 %. The voltage field is deliberately not masked to 8 bits.
constexpr int LimitsCurrentMask = 0x000F;
constexpr int LimitsVoltageShift = 4;
constexpr int LimitsPercentPerStep = 10;

// Set voltage and ramp speed are whole volts and volts per second per count.
constexpr double VoltsPerCount = 1.0;
constexpr double FineVoltsPerCount = 0.1;
constexpr double VoltsPerSecondPerCount = 1.0;

// First-range current resolution, a hardware option the module does not report.
enum class CurrentResolution { uA1, nA100, nA10, nA1 };
// Second current range (a finer option some modules have).
enum class SecondRange { None, nA1, pA100 };

// One count of a current register is 10^exponent amperes. The exact exponent is the one table
// of current scales: decimal texts use it as it is, floating-point values through
// `amperesPerCount`.
constexpr int amperesExponent(CurrentResolution resolution)
{
    switch (resolution) {
    case CurrentResolution::uA1:
        return -6;
    case CurrentResolution::nA100:
        return -7;
    case CurrentResolution::nA10:
        return -8;
    case CurrentResolution::nA1:
        break;
    }
    return -9;
}

// Meaningful only with a second range: without one its registers carry no current.
constexpr int amperesExponent(SecondRange range)
{
    return range == SecondRange::pA100 ? -10 : -9;
}

// 10^exponent for the exponents of the table, as the exact literal the compiler rounds once.
constexpr double powerOfTen(int exponent)
{
    constexpr double powers[] = {1,    1e-1, 1e-2, 1e-3,  1e-4,  1e-5, 1e-6,
                                 1e-7, 1e-8, 1e-9, 1e-10, 1e-11, 1e-12};
    return powers[-exponent];
}

constexpr double amperesPerCount(CurrentResolution resolution)
{
    return powerOfTen(amperesExponent(resolution));
}

// Zero for a module without a second range.
constexpr double amperesPerCount(SecondRange range)
{
    return range == SecondRange::None ? 0.0 : powerOfTen(amperesExponent(range));
}

} // namespace Brelk

#endif // REGISTERMAP_H
