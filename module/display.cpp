#include "display.h"

#include <QCoreApplication>
#include <QDateTime>

namespace Brelk {

QString tr(const char *sourceText)
{
    return QCoreApplication::translate("BrelkControl", sourceText);
}

QString baseAddressText(quint32 address)
{
    return QString::asprintf("0x%04X", unsigned(address));
}

QString localTimeText(qint64 msecsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch).toString(QStringLiteral("hh:mm:ss"));
}

QString moduleLinePrefix(const QString &name, quint32 address)
{
    if (name.isEmpty())
        return baseAddressText(address) + QStringLiteral(": ");
    return QStringLiteral("%1 (%2): ").arg(baseAddressText(address), name);
}

QString channelStateText(quint8 statusByte)
{
    if (statusByte & StatusError)
        return tr("Error");
    if (statusByte & StatusManual)
        return tr("Manual");
    if (statusByte & StatusRamping)
        return (statusByte & StatusRampUp) ? tr("Ramp up") : tr("Ramp down");
    return tr("Stable");
}

QString polarityText(quint8 statusByte)
{
    return (statusByte & StatusPositive) ? tr("Positive") : tr("Negative");
}

QString killText(quint8 statusByte)
{
    return (statusByte & StatusKillEnable) ? tr("Kill Enable") : tr("Kill Disable");
}

QString hvText(quint8 statusByte)
{
    return (statusByte & StatusHvOff) ? tr("HV Off") : tr("HV On");
}

namespace {

const struct
{
    EventBit bit;
    const char *name;
} EventNamesInOrder[] = {
    {EventQUA, "QUA"}, {EventVLIM, "VLIM"}, {EventILIM, "ILIM"},
    {EventTRP, "TRP"}, {EventINH, "INH"},
};

} // namespace

QStringList eventNames(quint8 eventByte)
{
    QStringList names;
    for (const auto &event : EventNamesInOrder) {
        if (eventByte & event.bit)
            names << QLatin1String(event.name);
    }
    return names;
}

// Built without a list: the poll writes both channels' texts at every tick.
QString eventText(quint8 eventByte)
{
    QString text;
    for (const auto &event : EventNamesInOrder) {
        if (eventByte & event.bit) {
            if (!text.isEmpty())
                text += QLatin1Char('+');
            text += QLatin1String(event.name);
        }
    }
    return text;
}

int limitVoltagePercent(quint16 limitsWord)
{
    return (limitsWord >> LimitsVoltageShift) * LimitsPercentPerStep;
}

int limitCurrentPercent(quint16 limitsWord)
{
    return (limitsWord & LimitsCurrentMask) * LimitsPercentPerStep;
}

QString limitVoltageText(quint16 limitsWord)
{
    return tr("V: %1 %").arg(limitVoltagePercent(limitsWord));
}

QString limitCurrentText(quint16 limitsWord)
{
    return tr("I: %1 %").arg(limitCurrentPercent(limitsWord));
}

double scaleCurrent(quint16 count, CurrentResolution resolution, int &decimals)
{
    switch (resolution) {
    case CurrentResolution::uA1:
        decimals = 3;
        break;
    case CurrentResolution::nA100:
        decimals = 2;
        break;
    case CurrentResolution::nA10:
        decimals = 3;
        break;
    case CurrentResolution::nA1:
        decimals = 4;
        break;
    }
    return count * amperesPerCount(resolution);
}

bool firstRangeInMilliamps(CurrentResolution resolution)
{
    return resolution == CurrentResolution::uA1;
}

QString voltsText(double volts)
{
    return tr("%1 V").arg(volts);
}

QString rampSpeedText(double voltsPerSecond)
{
    return tr("%1 V/s").arg(voltsPerSecond);
}

QString measuredVoltsText(double volts, bool fineResolution)
{
    return tr("%1 V").arg(volts, 0, 'f', fineResolution ? 1 : 0);
}

QString measuredCurrentText(double amperes, CurrentResolution resolution, int decimals)
{
    if (firstRangeInMilliamps(resolution))
        return tr("%1 mA").arg(amperes * 1e3, 0, 'f', decimals);
    return tr("%1 uA").arg(amperes * 1e6, 0, 'f', decimals);
}

QString softLimitText(double amperes, CurrentResolution resolution)
{
    if (firstRangeInMilliamps(resolution))
        return tr("%1 mA").arg(amperes * 1e3);
    return tr("%1 uA").arg(amperes * 1e6);
}

QString secondRangeCurrentText(double amperes, SecondRange range)
{
    if (range == SecondRange::None)
        return QStringLiteral("----");
    return tr("%1 uA").arg(amperes * 1e6, 0, 'f', range == SecondRange::nA1 ? 3 : 4);
}

QString secondRangeLimitText(double amperes, SecondRange range)
{
    if (range == SecondRange::None)
        return QStringLiteral("----");
    return tr("%1 uA").arg(amperes * 1e6);
}

QString serialNumberMessage(quint16 serialNumber)
{
    return tr("Module serial number %1").arg(serialNumber, 0, 16);
}

ChannelTexts channelTexts(const Reading &reading, int channel, quint16 latchedEvents)
{
    const CurrentResolution resolution = reading.currentResolution;
    const SecondRange range = reading.secondRange;
    const quint8 status = channelByte(reading.status, channel);
    int decimals = 0;
    const double imeas = scaleCurrent(reading.imeas[channel], resolution, decimals);
    ChannelTexts texts;
    texts.vset = voltsText(setVolts(reading, channel));
    texts.ramp = rampSpeedText(rampVoltsPerSecond(reading, channel));
    texts.vmeas = measuredVoltsText(measuredVolts(reading, channel), reading.fineVoltage);
    texts.imeas = measuredCurrentText(imeas, resolution, decimals);
    texts.imeas2 = secondRangeCurrentText(secondRangeAmperes(reading, channel), range);
    texts.state = channelStateText(status);
    texts.polarity = polarityText(status);
    texts.kill = killText(status);
    texts.hv = hvText(status);
    texts.events = eventText(channelByte(latchedEvents, channel));
    texts.limitV = limitVoltageText(reading.limits[channel]);
    texts.limitI = limitCurrentText(reading.limits[channel]);
    texts.softLimitI = softLimitText(softLimitAmperes(reading, channel), resolution);
    texts.softLimitI2 = secondRangeLimitText(secondRangeLimitAmperes(reading, channel), range);
    return texts;
}

QString escapedForLog(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const ushort code = c.unicode();
        if (code == '\n')
            escaped += QLatin1String("\\n");
        else if (code == '\r')
            escaped += QLatin1String("\\r");
        else if (code == '\t')
            escaped += QLatin1String("\\t");
        else if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
            escaped += QString::asprintf("\\x%02x", code);
        else if (code == 0x2028 || code == 0x2029)
            escaped += QString::asprintf("\\u%04x", code);
        else
            escaped += c;
    }
    return escaped;
}

} // namespace Brelk
