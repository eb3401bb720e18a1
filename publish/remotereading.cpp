#include "remotereading.h"

#include "payloads.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Brelk {

namespace {

quint16 ownByte(int channel)
{
    return channel == 0 ? 0x00FF : 0xFF00;
}

// Exactly four hexadecimal digits: no sign, prefix or blank.
bool parseWord(const QJsonValue &value, quint16 *word)
{
    const QString text = value.toString();
    if (!value.isString() || text.size() != 4)
        return false;
    quint16 parsed = 0;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        int digit;
        if (unit >= u'0' && unit <= u'9')
            digit = unit - u'0';
        else if (unit >= u'a' && unit <= u'f')
            digit = unit - u'a' + 10;
        else if (unit >= u'A' && unit <= u'F')
            digit = unit - u'A' + 10;
        else
            return false;
        parsed = quint16(parsed << 4 | digit);
    }
    *word = parsed;
    return true;
}

bool parseSelection(const QJsonValue &value, ResolutionSelection *selection)
{
    const QJsonArray names = value.toArray();
    return value.isArray() && names.size() == 3 &&
           parseVoltageResolution(names.at(0).toString(), &selection->fineVoltage) &&
           parseCurrentResolution(names.at(1).toString(), &selection->currentResolution) &&
           parseSecondRange(names.at(2).toString(), &selection->secondRange);
}

bool refuse(const char *topic, const QString &why)
{
    qDebug().noquote()
        << QStringLiteral("Attached: %1 message refused: %2").arg(QLatin1String(topic), why);
    return false;
}

} // namespace

bool decodeChannelMessage(const QByteArray &payload, int channel, RemoteChannel *out)
{
    const char *const topic = channel == 0 ? "a" : "b";
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isObject())
        return refuse(topic, QStringLiteral("not a JSON object"));
    const QJsonObject message = document.object();

    RemoteChannel decoded;
    Reading &reading = decoded.reading;
    ResolutionSelection selection;
    if (!parseSelection(message.value(QLatin1String("resolution")), &selection))
        return refuse(topic, QStringLiteral("\"resolution\" is not three resolution names"));
    reading.fineVoltage = selection.fineVoltage;
    reading.currentResolution = selection.currentResolution;
    reading.secondRange = selection.secondRange;

    const QJsonValue time = message.value(QLatin1String("time"));
    const QDateTime taken = QDateTime::fromString(time.toString(), Qt::ISODateWithMs);
    if (!time.isString() || !taken.isValid())
        return refuse(topic, QStringLiteral("\"time\" is not an ISO 8601 time"));
    reading.time = taken.toMSecsSinceEpoch();

    const QJsonValue stale = message.value(QLatin1String("stale"));
    if (!stale.isBool())
        return refuse(topic, QStringLiteral("\"stale\" is not true or false"));
    decoded.stale = stale.toBool();

    if (!parseWord(message.value(QLatin1String("latched")), &decoded.latched))
        return refuse(topic, QStringLiteral("\"latched\" is not four hexadecimal digits"));
    decoded.latched &= ownByte(channel);

    const QJsonValue wordsValue = message.value(QLatin1String("words"));
    if (!wordsValue.isObject())
        return refuse(topic, QStringLiteral("\"words\" is not an object"));
    const QJsonObject words = wordsValue.toObject();
    for (const WordSlot &slot : channelWordSlots(reading, channel)) {
        const QString key = offsetText(slot.reg);
        const QJsonValue word = words.value(key);
        if (word.isUndefined())
            return refuse(topic, QStringLiteral("the word of register 0x%1 is missing").arg(key));
        if (!parseWord(word, slot.word))
            return refuse(topic, QStringLiteral("the word of register 0x%1 is not four "
                                                "hexadecimal digits")
                                     .arg(key));
    }
    reading.status &= ownByte(channel);
    reading.events &= ownByte(channel);
    *out = decoded;
    return true;
}

bool decodeModuleMessage(const QByteArray &payload, RemoteModule *out)
{
    const char *const topic = "module";
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isObject())
        return refuse(topic, QStringLiteral("not a JSON object"));
    const QJsonObject message = document.object();

    RemoteModule decoded;
    const QJsonValue serial = message.value(QLatin1String("serial"));
    if (serial.isString()) {
        const QString text = serial.toString();
        bool ok = false;
        const uint number = text.toUInt(&ok, 16);
        if (!ok || text.size() > 4 || text.startsWith(QLatin1Char('+')))
            return refuse(topic, QStringLiteral("\"serial\" is not a hexadecimal serial number"));
        decoded.hasModule = true;
        decoded.serialNumber = quint16(number);
    } else if (!serial.isNull()) {
        return refuse(topic, QStringLiteral("\"serial\" is neither a text nor null"));
    }
    ResolutionSelection &selection = decoded.selection;
    if (!parseVoltageResolution(message.value(QLatin1String("voltage_resolution")).toString(),
                                &selection.fineVoltage) ||
        !parseCurrentResolution(message.value(QLatin1String("current_resolution")).toString(),
                                &selection.currentResolution) ||
        !parseSecondRange(message.value(QLatin1String("second_range")).toString(),
                          &selection.secondRange))
        return refuse(topic, QStringLiteral("a resolution is missing or unknown"));
    const QJsonValue commands = message.value(QLatin1String("commands"));
    if (!commands.isBool())
        return refuse(topic, QStringLiteral("\"commands\" is not true or false"));
    decoded.commands = commands.toBool();
    const QJsonValue host = message.value(QLatin1String("host"));
    if (!host.isString() || host.toString().isEmpty())
        return refuse(topic, QStringLiteral("\"host\" is missing"));
    decoded.host = host.toString();
    const QString address = message.value(QLatin1String("base_address")).toString();
    if (address.startsWith(QLatin1String("0x")))
        decoded.baseAddress = address.mid(2).toUInt(nullptr, 16);
    decoded.name = message.value(QLatin1String("name")).toString();
    *out = decoded;
    return true;
}

void mergeChannel(const RemoteChannel &from, int channel, Reading *reading, quint16 *latched)
{
    const Reading &part = from.reading;
    const quint16 own = ownByte(channel);
    const quint16 other = quint16(~own);
    reading->time = part.time;
    reading->serialNumber = part.serialNumber;
    reading->fineVoltage = part.fineVoltage;
    reading->currentResolution = part.currentResolution;
    reading->secondRange = part.secondRange;
    for (quint16 Reading::*shared : {&Reading::status, &Reading::events})
        reading->*shared = quint16((reading->*shared & other) | (part.*shared & own));
    for (quint16(Reading::*perChannel)[2] :
         {&Reading::vset, &Reading::ramp, &Reading::vmeas, &Reading::imeas, &Reading::imeas2,
          &Reading::limits, &Reading::softLimitI, &Reading::softLimitI2})
        (reading->*perChannel)[channel] = (part.*perChannel)[channel];
    *latched = quint16((*latched & other) | (from.latched & own));
}

} // namespace Brelk
