#include "payloads.h"

#include "display.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace Brelk {

namespace {

// A decimal text of reading.h as a JSON number: the double nearest to the exact value, so a
// count of 7 at 1 uA is 0.000007 and not 7 × 1e-6 with binary rounding.
QJsonValue exactNumber(const QString &decimal)
{
    if (decimal.isEmpty())
        return QJsonValue(QJsonValue::Null);
    return QJsonValue(decimal.toDouble());
}

} // namespace

QJsonObject channelPayload(const Reading &reading, int channel, quint8 events, bool stale)
{
    const quint8 status = channelByte(reading.status, channel);
    QJsonObject object;
    object.insert(QStringLiteral("time"), isoLocalTime(reading.time));
    object.insert(QStringLiteral("vset"), exactNumber(setVoltsDecimal(reading, channel)));
    object.insert(QStringLiteral("vmeas"), exactNumber(measuredVoltsDecimal(reading, channel)));
    object.insert(QStringLiteral("imeas"), exactNumber(measuredAmperesDecimal(reading, channel)));
    object.insert(QStringLiteral("imeas2"),
                  exactNumber(secondRangeAmperesDecimal(reading, channel)));
    object.insert(QStringLiteral("ramp"), exactNumber(rampDecimal(reading, channel)));
    object.insert(QStringLiteral("soft_limit_i"),
                  exactNumber(softLimitAmperesDecimal(reading, channel)));
    object.insert(QStringLiteral("soft_limit_i2"),
                  exactNumber(secondRangeLimitAmperesDecimal(reading, channel)));
    object.insert(QStringLiteral("state"), channelStateText(status));
    object.insert(QStringLiteral("polarity"), polarityText(status));
    object.insert(QStringLiteral("hv"), hvText(status));
    object.insert(QStringLiteral("kill"), killText(status));
    object.insert(QStringLiteral("events"), QJsonArray::fromStringList(eventNames(events)));
    object.insert(QStringLiteral("stale"), stale);
    return object;
}

QVector<WordSlot> channelWordSlots(Reading &reading, int channel)
{
    QVector<WordSlot> table{
        {regSerialNumber, &reading.serialNumber},
        {regVset[channel], &reading.vset[channel]},
        {regRamp[channel], &reading.ramp[channel]},
        {reading.fineVoltage ? regVmeasFine[channel] : regVmeas[channel], &reading.vmeas[channel]},
        {regImeas[channel], &reading.imeas[channel]},
        {regStatus, &reading.status},
        {regStatus2, &reading.events},
        {regLimits[channel], &reading.limits[channel]},
        {regSoftLimitI[channel], &reading.softLimitI[channel]},
        {regSoftLimitI2[channel], &reading.softLimitI2[channel]},
    };
    if (reading.secondRange != SecondRange::None)
        table.append({reading.secondRange == SecondRange::nA1 ? regImeas2_1nA[channel]
                                                              : regImeas2_100pA[channel],
                      &reading.imeas2[channel]});
    return table;
}

// As printf's "%0*x": at least `digits` lower-case hexadecimal digits. Three hundred messages a
// second on each side of the broker make a dozen of these each; asprintf would cost more.
static QString hexText(quint32 value, int digits)
{
    while (digits < 8 && (value >> (4 * digits)) != 0)
        ++digits;
    QString text(digits, Qt::Uninitialized);
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        text[i] = QLatin1Char("0123456789abcdef"[value & 0xF]);
    return text;
}

QString wordText(quint16 word)
{
    return hexText(word, 4);
}

QString offsetText(Register reg)
{
    return hexText(quint32(reg), 2);
}

void addTickWords(QJsonObject *message, const Reading &reading, int channel, quint16 latched)
{
    const quint16 ownByte = channel == 0 ? 0x00FF : 0xFF00;
    Reading copy = reading;
    QJsonObject words;
    for (const WordSlot &slot : channelWordSlots(copy, channel)) {
        const bool shared = slot.reg == regStatus || slot.reg == regStatus2;
        words.insert(offsetText(slot.reg),
                     wordText(shared ? quint16(*slot.word & ownByte) : *slot.word));
    }
    message->insert(QStringLiteral("words"), words);
    message->insert(QStringLiteral("latched"), wordText(quint16(latched & ownByte)));
    message->insert(QStringLiteral("resolution"),
                    QJsonArray{voltageResolutionName(reading.fineVoltage),
                               currentResolutionName(reading.currentResolution),
                               secondRangeName(reading.secondRange)});
}

QJsonObject modulePayload(const ModuleContext &context, bool hasModule, quint16 serialNumber)
{
    QJsonObject object;
    object.insert(QStringLiteral("serial"), hasModule
                                                ? QJsonValue(QString::number(serialNumber, 16))
                                                : QJsonValue(QJsonValue::Null));
    object.insert(QStringLiteral("base_address"), baseAddressText(quint32(context.baseAddress)));
    object.insert(QStringLiteral("bridge"), context.bridge);
    object.insert(QStringLiteral("version"), QLatin1String(ProgramVersion));
    object.insert(QStringLiteral("voltage_resolution"), voltageResolutionName(context.fineVoltage));
    object.insert(QStringLiteral("current_resolution"),
                  currentResolutionName(context.currentResolution));
    object.insert(QStringLiteral("second_range"), secondRangeName(context.secondRange));
    const char *const ceilingKeys[2] = {"vset_max_a", "vset_max_b"};
    for (int ch = 0; ch < 2; ++ch) {
        if (context.ceilings.volts[ch])
            object.insert(QLatin1String(ceilingKeys[ch]), *context.ceilings.volts[ch]);
    }
    if (!context.name.isEmpty())
        object.insert(QStringLiteral("name"), context.name);
    if (!context.instance.isEmpty()) {
        object.insert(QStringLiteral("host"), context.host);
        object.insert(QStringLiteral("instance"), context.instance);
    }
    return object;
}

QByteArray compactJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace Brelk
