#include "remotereading.h"

#include "payloads.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <bitset>
#include <string_view>

namespace Brelk {

namespace {

quint16 ownByte(int channel)
{
    return channel == 0 ? 0x00FF : 0xFF00;
}

// Exactly four hexadecimal digits: no sign, prefix or blank.
template <typename Char> bool parseWordDigits(const Char *text, qsizetype size, quint16 *word)
{
    if (size != 4)
        return false;
    quint16 parsed = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const auto unit = text[i];
        int digit;
        if (unit >= '0' && unit <= '9')
            digit = unit - '0';
        else if (unit >= 'a' && unit <= 'f')
            digit = unit - 'a' + 10;
        else if (unit >= 'A' && unit <= 'F')
            digit = unit - 'A' + 10;
        else
            return false;
        parsed = quint16(parsed << 4 | digit);
    }
    *word = parsed;
    return true;
}

bool parseWord(const QJsonValue &value, quint16 *word)
{
    if (!value.isString())
        return false;
    const QString text = value.toString();
    return parseWordDigits(text.utf16(), text.size(), word);
}

bool parseWord(std::string_view text, quint16 *word)
{
    return parseWordDigits(text.data(), qsizetype(text.size()), word);
}

// The selection the tick read under, from its names [voltage, current, second range].
bool parseSelectionNames(const QString &voltage, const QString &current, const QString &secondRange,
                         Reading *reading)
{
    return parseVoltageResolution(voltage, &reading->fineVoltage) &&
           parseCurrentResolution(current, &reading->currentResolution) &&
           parseSecondRange(secondRange, &reading->secondRange);
}

bool parseSelection(const QJsonValue &value, Reading *reading)
{
    const QJsonArray names = value.toArray();
    return value.isArray() && names.size() == 3 &&
           parseSelectionNames(names.at(0).toString(), names.at(1).toString(),
                               names.at(2).toString(), reading);
}

bool parseTime(const QString &text, qint64 *msecsSinceEpoch)
{
    const QDateTime taken = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!taken.isValid())
        return false;
    *msecsSinceEpoch = taken.toMSecsSinceEpoch();
    return true;
}

// Of the shared status words and of the latch, a channel's message holds only its own byte.
void keepOwnBytes(int channel, RemoteChannel *decoded)
{
    decoded->latched &= ownByte(channel);
    decoded->reading.status &= ownByte(channel);
    decoded->reading.events &= ownByte(channel);
}

bool refuse(const char *topic, const QString &why)
{
    qDebug().noquote()
        << QStringLiteral("Attached: %1 message refused: %2").arg(QLatin1String(topic), why);
    return false;
}

// Three hundred channel documents a second reach a panel attached to a crate of services, and
// building a JSON document for each was a tenth of its time. This reader takes a document as the
// service writes it straight from its bytes, and is sure of only the plainest JSON: strings of
// printable ASCII without escapes, numbers that no double overflows, nesting a few levels deep.
// Whatever else it meets, it gives up, and the JSON parser has the document.
class PlainJson
{
public:
    explicit PlainJson(const QByteArray &bytes) : at(bytes.constData()), end(at + bytes.size()) {}

    bool take(char expected)
    {
        skipSpace();
        if (at == end || *at != expected)
            return false;
        ++at;
        return true;
    }

    bool atEnd()
    {
        skipSpace();
        return at == end;
    }

    bool string(std::string_view *text)
    {
        if (!take('"'))
            return false;
        const char *const begin = at;
        for (; at != end && *at != '"'; ++at) {
            const auto byte = static_cast<unsigned char>(*at);
            if (byte < 0x20 || byte >= 0x80 || byte == '\\')
                return false;
        }
        if (at == end)
            return false;
        *text = std::string_view(begin, size_t(at - begin));
        ++at;
        return true;
    }

    bool boolean(bool *value)
    {
        if (literal("true"))
            *value = true;
        else if (literal("false"))
            *value = false;
        else
            return false;
        return true;
    }

    // `member` reads the value of each key, or gives up.
    template <typename Member> bool object(Member member)
    {
        if (!take('{'))
            return false;
        if (take('}'))
            return true;
        do {
            std::string_view key;
            if (!string(&key) || !take(':') || !member(key))
                return false;
        } while (take(','));
        return take('}');
    }

    bool skipValue(int depth = 0)
    {
        skipSpace();
        if (at == end)
            return false;
        switch (*at) {
        case '"': {
            std::string_view ignored;
            return string(&ignored);
        }
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        case '[':
            return depth < MaxDepth && array(depth + 1);
        case '{':
            return depth < MaxDepth &&
                   object([this, depth](std::string_view) { return skipValue(depth + 1); });
        default:
            return number();
        }
    }

private:
    static constexpr int MaxDepth = 8;

    void skipSpace()
    {
        while (at != end && (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r'))
            ++at;
    }

    bool literal(std::string_view word)
    {
        skipSpace();
        if (size_t(end - at) < word.size() || std::string_view(at, word.size()) != word)
            return false;
        at += word.size();
        return true;
    }

    bool array(int depth)
    {
        if (!take('['))
            return false;
        if (take(']'))
            return true;
        do {
            if (!skipValue(depth))
                return false;
        } while (take(','));
        return take(']');
    }

    int digits()
    {
        const char *const begin = at;
        while (at != end && *at >= '0' && *at <= '9')
            ++at;
        return int(at - begin);
    }

    // JSON's number, no longer than 32 characters and with an exponent of at most two digits.
    bool number()
    {
        const char *const begin = at;
        if (at != end && *at == '-')
            ++at;
        if (at != end && *at == '0')
            ++at;
        else if (digits() == 0)
            return false;
        if (at != end && *at == '.') {
            ++at;
            if (digits() == 0)
                return false;
        }
        if (at != end && (*at == 'e' || *at == 'E')) {
            ++at;
            if (at != end && (*at == '+' || *at == '-'))
                ++at;
            const int exponent = digits();
            if (exponent == 0 || exponent > 2)
                return false;
        }
        return at - begin <= 32;
    }

    const char *at;
    const char *const end;
};

// A channel document read by PlainJson. False when the reader gave up or when what it read would
// be refused: the JSON parser then decides, and says why it refuses.
bool decodePlainChannelMessage(const QByteArray &payload, int channel, RemoteChannel *out)
{
    PlainJson json(payload);
    std::string_view time, latched, resolution[3];
    bool stale = false;
    // The words keyed by their offset of two digits. Of a key given twice the last counts, as it
    // does for the parser.
    std::string_view words[256];
    std::bitset<256> wordSeen;
    std::bitset<5> keySeen;
    const auto seen = [&keySeen](int key) {
        keySeen.set(size_t(key));
        return true;
    };
    const auto word = [&](std::string_view key) {
        const auto digit = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        };
        const int high = key.size() == 2 ? digit(key[0]) : -1;
        const int low = key.size() == 2 ? digit(key[1]) : -1;
        if (high < 0 || low < 0)
            return json.skipValue(1);
        wordSeen.set(size_t(high << 4 | low));
        return json.string(&words[high << 4 | low]);
    };
    const auto member = [&](std::string_view key) {
        if (key == "words") {
            wordSeen.reset();
            return seen(0) && json.object(word);
        }
        if (key == "resolution")
            return seen(1) && json.take('[') && json.string(&resolution[0]) && json.take(',') &&
                   json.string(&resolution[1]) && json.take(',') && json.string(&resolution[2]) &&
                   json.take(']');
        if (key == "time")
            return seen(2) && json.string(&time);
        if (key == "latched")
            return seen(3) && json.string(&latched);
        if (key == "stale")
            return seen(4) && json.boolean(&stale);
        return json.skipValue();
    };
    if (!json.object(member) || !json.atEnd() || !keySeen.all())
        return false;

    const auto text = [](std::string_view view) {
        return QString::fromLatin1(view.data(), int(view.size()));
    };
    RemoteChannel decoded;
    Reading &reading = decoded.reading;
    if (!parseSelectionNames(text(resolution[0]), text(resolution[1]), text(resolution[2]),
                             &reading) ||
        !parseTime(text(time), &reading.time) || !parseWord(latched, &decoded.latched))
        return false;
    decoded.stale = stale;
    for (const WordSlot &slot : channelWordSlots(reading, channel)) {
        if (slot.reg >= wordSeen.size() || !wordSeen[slot.reg] ||
            !parseWord(words[slot.reg], slot.word))
            return false;
    }
    keepOwnBytes(channel, &decoded);
    *out = decoded;
    return true;
}

} // namespace

bool decodeChannelMessage(const QByteArray &payload, int channel, RemoteChannel *out)
{
    if (decodePlainChannelMessage(payload, channel, out))
        return true;
    const char *const topic = channel == 0 ? "a" : "b";
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isObject())
        return refuse(topic, QStringLiteral("not a JSON object"));
    const QJsonObject message = document.object();

    RemoteChannel decoded;
    Reading &reading = decoded.reading;
    if (!parseSelection(message.value(QLatin1String("resolution")), &reading))
        return refuse(topic, QStringLiteral("\"resolution\" is not three resolution names"));

    const QJsonValue time = message.value(QLatin1String("time"));
    if (!time.isString() || !parseTime(time.toString(), &reading.time))
        return refuse(topic, QStringLiteral("\"time\" is not an ISO 8601 time"));

    const QJsonValue stale = message.value(QLatin1String("stale"));
    if (!stale.isBool())
        return refuse(topic, QStringLiteral("\"stale\" is not true or false"));
    decoded.stale = stale.toBool();

    if (!parseWord(message.value(QLatin1String("latched")), &decoded.latched))
        return refuse(topic, QStringLiteral("\"latched\" is not four hexadecimal digits"));

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
    keepOwnBytes(channel, &decoded);
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
