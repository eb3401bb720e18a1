// The pure parts of MQTT publishing: the JSON of a channel and of the module, when a channel's
// message is due, the delays between connection attempts, and the Mqtt* settings keys.
#include "mqttsettings.h"
#include "payloads.h"
#include "schedule.h"
#include "settings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace Brelk;

Q_DECLARE_METATYPE(Brelk::ModuleContext)

namespace {

QJsonObject parse(const char *json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

// A tick 2026-01-01 plus `ms`, channel A ramping up, channel B stable.
Reading baseReading(qint64 ms = 0)
{
    Reading reading;
    reading.time = 1767225600000 + ms;
    reading.serialNumber = 0x2101;
    reading.vset[0] = 1000;
    reading.vset[1] = 500;
    reading.ramp[0] = 50;
    reading.ramp[1] = 25;
    reading.vmeas[0] = 999;
    reading.vmeas[1] = 500;
    reading.imeas[0] = 7;
    reading.imeas[1] = 5;
    reading.softLimitI[0] = 20;
    reading.status = (StatusPositive | StatusRampUp | StatusRamping) | (StatusPositive << 8);
    return reading;
}

} // namespace

class TestMqttLogic : public QObject
{
    Q_OBJECT

private slots:
    void channelPayload_data();
    void channelPayload();
    void payloadIsOneCompactLine();
    void modulePayload_data();
    void modulePayload();
    void schedule_data();
    void schedule();
    void backoffDoublesToThirtySeconds();
    void loadSettings_data();
    void loadSettings();
    void storeSettings_data();
    void storeSettings();
    void topicProblem_data();
    void topicProblem();
};

void TestMqttLogic::channelPayload_data()
{
    QTest::addColumn<Reading>("reading");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("events");
    QTest::addColumn<bool>("stale");
    QTest::addColumn<QJsonObject>("expected"); // without "time"

    QTest::newRow("1 uA, no second range, A")
        << baseReading() << 0 << 0 << false
        << parse(R"({"vset":1000,"vmeas":999,"imeas":0.000007,"imeas2":null,"ramp":50,
            "soft_limit_i":0.00002,"soft_limit_i2":null,"state":"Ramp up","polarity":"Positive",
            "hv":"HV On","kill":"Kill Disable","events":[],"stale":false})");

    // Counts whose product with the power of ten is not the nearest double of the decimal.
    Reading fine = baseReading();
    fine.fineVoltage = true;
    fine.vmeas[1] = 12345;
    fine.currentResolution = CurrentResolution::nA10;
    fine.imeas[1] = 12;
    fine.secondRange = SecondRange::nA1;
    fine.imeas2[1] = 3;
    fine.softLimitI2[1] = 250;
    fine.status = quint16((StatusHvOff | StatusKillEnable) << 8);
    QTest::newRow("100 mV, 10 nA, 1 nA second range, B")
        << fine << 1 << 0 << false
        << parse(R"({"vset":500,"vmeas":1234.5,"imeas":0.00000012,"imeas2":0.000000003,
            "ramp":25,"soft_limit_i":0,"soft_limit_i2":0.00000025,"state":"Stable",
            "polarity":"Negative","hv":"HV Off","kill":"Kill Enable","events":[],
            "stale":false})");

    Reading pico = baseReading();
    pico.secondRange = SecondRange::pA100;
    pico.imeas2[0] = 7;
    pico.softLimitI2[0] = 0;
    QTest::newRow("100 pA second range, events, stale")
        << pico << 0 << int(EventTRP | EventILIM | EventQUA) << true
        << parse(R"({"vset":1000,"vmeas":999,"imeas":0.000007,"imeas2":0.0000000007,"ramp":50,
            "soft_limit_i":0.00002,"soft_limit_i2":0,"state":"Ramp up","polarity":"Positive",
            "hv":"HV On","kill":"Kill Disable","events":["QUA","ILIM","TRP"],"stale":true})");
}

void TestMqttLogic::channelPayload()
{
    QFETCH(Reading, reading);
    QFETCH(int, channel);
    QFETCH(int, events);
    QFETCH(bool, stale);
    QFETCH(QJsonObject, expected);

    // Through the published bytes, as a subscriber reads them.
    QJsonObject payload =
        QJsonDocument::fromJson(
            compactJson(Brelk::channelPayload(reading, channel, quint8(events), stale)))
            .object();
    QCOMPARE(payload.take(QStringLiteral("time")).toString(), isoLocalTime(reading.time));
    QCOMPARE(payload, expected);
}

void TestMqttLogic::payloadIsOneCompactLine()
{
    const QByteArray bytes = compactJson(Brelk::channelPayload(baseReading(), 0, EventINH, false));
    QVERIFY(!bytes.contains('\n'));
    QVERIFY(!bytes.contains(' ') || bytes.contains("\"HV On\""));
    QVERIFY(bytes.startsWith('{') && bytes.endsWith('}'));
    QVERIFY(bytes.contains(R"("events":["INH"])"));
}

void TestMqttLogic::modulePayload_data()
{
    QTest::addColumn<ModuleContext>("context");
    QTest::addColumn<bool>("hasModule");
    QTest::addColumn<int>("serial");
    QTest::addColumn<QJsonObject>("expected");

    QTest::newRow("VM-USB, module 2101")
        << ModuleContext{QStringLiteral("Wiener VM-USB"), 0xDD00, false, CurrentResolution::uA1,
                         SecondRange::None}
        << true << 0x2101
        << parse(R"({"serial":"2101","base_address":"0xDD00","bridge":"Wiener VM-USB",
            "version":"1.0.0.0","voltage_resolution":"1V","current_resolution":"1uA",
            "second_range":"none"})");
    QTest::newRow("V1718, lower-case hex serial, fine options")
        << ModuleContext{QStringLiteral("CAEN V1718"), 0x0100, true, CurrentResolution::nA1,
                         SecondRange::pA100}
        << true << 0xABCD
        << parse(R"({"serial":"abcd","base_address":"0x0100","bridge":"CAEN V1718",
            "version":"1.0.0.0","voltage_resolution":"100mV","current_resolution":"1nA",
            "second_range":"100pA"})");
    QTest::newRow("no module answers")
        << ModuleContext{QStringLiteral("Wiener VM-USB"), 0xDD00, false, CurrentResolution::nA100,
                         SecondRange::nA1}
        << false << 0 << parse(R"({"serial":null,"base_address":"0xDD00","bridge":"Wiener VM-USB",
            "version":"1.0.0.0","voltage_resolution":"1V","current_resolution":"100nA",
            "second_range":"1nA"})");
}

void TestMqttLogic::modulePayload()
{
    QFETCH(ModuleContext, context);
    QFETCH(bool, hasModule);
    QFETCH(int, serial);
    QFETCH(QJsonObject, expected);
    QCOMPARE(QJsonDocument::fromJson(
                 compactJson(Brelk::modulePayload(context, hasModule, quint16(serial))))
                 .object(),
             expected);
}

// Each step is a tick "ms[:vsetA[:eventsA[:eventsB]]]" or "stale"; each outcome "-" (nothing
// sent) or the events of the message sent, "stale" appended for a stale one: "[ILIM,TRP]".
void TestMqttLogic::schedule_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("outcomes");

    QTest::newRow("first tick, then only a value change")
        << QStringList{"0", "100", "200:1001", "300:1001"} << QStringList{"[]", "-", "[]", "-"};
    QTest::newRow("at least every 10 s") << QStringList{"0", "9900", "10000", "10100", "20000"}
                                         << QStringList{"[]", "-", "[]", "-", "[]"};
    QTest::newRow("an event is published at once")
        << QStringList{"0", "100:1000:2", "200"} << QStringList{"[]", "[TRP]", "[]"};
    QTest::newRow("events between messages are gathered")
        << QStringList{"0", "100:1000:64", "200:1000:64", "300:1000:2", "400"}
        << QStringList{"[]", "[ILIM]", "-", "[ILIM,TRP]", "[]"};
    QTest::newRow("a lasting event is not repeated but kept until the next message")
        << QStringList{"0:1000:2", "100:1000:2", "200", "10000", "10100"}
        << QStringList{"[TRP]", "-", "-", "[TRP]", "[]"};
    QTest::newRow("the other channel's events do not count")
        << QStringList{"0", "100:1000:0:2", "200:1000:0:64"} << QStringList{"[]", "-", "-"};
    QTest::newRow("one stale message, then fresh again")
        << QStringList{"0", "stale", "stale", "100", "200"}
        << QStringList{"[]", "[] stale", "-", "[]", "-"};
    QTest::newRow("stale keeps the events of unpublished ticks")
        << QStringList{"0:1000:2", "100:1000:2", "stale"}
        << QStringList{"[TRP]", "-", "[TRP] stale"};
    QTest::newRow("stale before any tick says nothing")
        << QStringList{"stale", "0"} << QStringList{"-", "[]"};
}

void TestMqttLogic::schedule()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, outcomes);

    ChannelSchedule channel(0);
    QStringList seen;
    qint64 lastTime = 0;
    for (const QString &step : steps) {
        QJsonObject message;
        bool sent = false;
        if (step == QLatin1String("stale")) {
            sent = channel.takeStale(&message);
        } else {
            const QStringList parts = step.split(QLatin1Char(':'));
            Reading reading = baseReading(parts.value(0).toLongLong());
            reading.vset[0] = quint16(parts.value(1, QStringLiteral("1000")).toUInt());
            reading.events = quint16(parts.value(2, QStringLiteral("0")).toUInt() |
                                     parts.value(3, QStringLiteral("0")).toUInt() << 8);
            sent = channel.takeReading(reading, &message);
            lastTime = reading.time;
        }
        if (!sent) {
            seen << QStringLiteral("-");
            continue;
        }
        QStringList events;
        for (const QJsonValue &event : message.value(QStringLiteral("events")).toArray())
            events << event.toString();
        QString outcome = QLatin1Char('[') + events.join(QLatin1Char(',')) + QLatin1Char(']');
        if (message.value(QStringLiteral("stale")).toBool())
            outcome += QStringLiteral(" stale");
        seen << outcome;
        // A stale message carries the last tick's time and values.
        QCOMPARE(message.value(QStringLiteral("time")).toString(), isoLocalTime(lastTime));
    }
    QCOMPARE(seen, outcomes);
}

void TestMqttLogic::backoffDoublesToThirtySeconds()
{
    Backoff backoff;
    QList<int> delays;
    for (int i = 0; i < 8; ++i)
        delays << backoff.nextDelayMs();
    QCOMPARE(delays, (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
    backoff.reset();
    QCOMPARE(backoff.nextDelayMs(), 1000);
}

void TestMqttLogic::loadSettings_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("baseAddress");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<bool>("rememberPassword");
    QTest::addColumn<QString>("problem"); // a part of what is wrong with the prefix

    QTest::newRow("nothing: off") << QByteArray() << 0xDD00 << "" << 1883 << "brelk/dd00" << false
                                  << "";
    QTest::newRow("only the host") << QByteArray("MqttHost=broker.lab\n") << 0x0100 << "broker.lab"
                                   << 1883 << "brelk/0100" << false << "";
    QTest::newRow("everything") << QByteArray("MqttHost=10.0.0.5\nMqttPort=8883\nMqttTopic=lab/"
                                              "hv/crate1/\nMqttUser=panel\nMqttPassword=s\n")
                                << 0xDD00 << "10.0.0.5" << 8883 << "lab/hv/crate1" << true << "";
    QTest::newRow("unusable port takes the default, a refused prefix is kept to be reported")
        << QByteArray("MqttHost=h\nMqttPort=99999\nMqttTopic=lab/#\n") << 0xDD00 << "h" << 1883
        << "lab/#" << false << "wildcard";
    QTest::newRow("port that is not a number") << QByteArray("MqttHost=h\nMqttPort=abc\n") << 0xDD00
                                               << "h" << 1883 << "brelk/dd00" << false << "";
    QTest::newRow("tab inside the prefix, escaped")
        << QByteArray("MqttHost=h\nMqttTopic=\"lab\\thv\"\n") << 0xDD00 << "h" << 1883 << "lab\thv"
        << false << "control character";
    QTest::newRow("tab inside the prefix, as it is")
        << QByteArray("MqttHost=h\nMqttTopic=lab\thv\n") << 0xDD00 << "h" << 1883 << "lab\thv"
        << false << "control character";
    QTest::newRow("non-character U+FFFF, escaped")
        << QByteArray("MqttHost=h\nMqttTopic=lab/\\xffff\n") << 0xDD00 << "h" << 1883
        << QStringLiteral("lab/") + QChar(0xFFFF) << false << "non-character";
}

void TestMqttLogic::loadSettings()
{
    QFETCH(QByteArray, file);
    QFETCH(int, baseAddress);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("brelkcontrol.ini"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(file);
    out.close();

    const MqttSettings mqtt = loadMqttSettings(Settings(path), baseAddress);
    QTEST(mqtt.host, "host");
    QTEST(mqtt.port, "port");
    QTEST(mqtt.topic, "topic");
    QTEST(mqtt.rememberPassword, "rememberPassword");
    QCOMPARE(mqtt.enabled(), !mqtt.host.isEmpty());
    QFETCH(QString, problem);
    const QString found = mqttTopicProblem(mqtt.topic);
    QVERIFY2(problem.isEmpty() ? found.isEmpty() : found.contains(problem), qPrintable(found));
}

void TestMqttLogic::storeSettings_data()
{
    QTest::addColumn<MqttSettings>("mqtt");
    QTest::addColumn<QStringList>("keys");

    MqttSettings plain;
    plain.host = QStringLiteral("broker");
    plain.topic = QStringLiteral("brelk/dd00");
    plain.password = QStringLiteral("not kept");
    QTest::newRow("defaults and a password not to remember") << plain << QStringList{"MqttHost"};

    MqttSettings full = plain;
    full.port = 8883;
    full.topic = QStringLiteral("lab/hv");
    full.user = QStringLiteral("panel");
    full.rememberPassword = true;
    full.caFile = QStringLiteral("/etc/ssl/lab-ca.pem");
    QTest::newRow("everything") << full << QStringList{"MqttCaFile", "MqttHost",  "MqttPassword",
                                                       "MqttPort",   "MqttTopic", "MqttUser"};
    QTest::newRow("off") << MqttSettings() << QStringList{};
}

void TestMqttLogic::storeSettings()
{
    QFETCH(MqttSettings, mqtt);
    QFETCH(QStringList, keys);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("brelkcontrol.ini"));
    {
        // Every key present before: storing must remove what is not to be kept.
        QSettings settings(path, QSettings::IniFormat);
        for (const char *key :
             {"MqttHost", "MqttPort", "MqttTopic", "MqttUser", "MqttPassword", "MqttCaFile"})
            settings.setValue(QLatin1String(key), QStringLiteral("old"));
        settings.setValue(QStringLiteral("BaseAddress"), QStringLiteral("0xDD00"));
    }
    Settings file(path);
    QVERIFY(storeMqttSettings(file, mqtt, 0xDD00));
    QSettings settings(path, QSettings::IniFormat);
    QStringList stored = settings.allKeys();
    stored.removeAll(QStringLiteral("BaseAddress"));
    stored.sort();
    QCOMPARE(stored, keys);
    // Read back, the settings are the ones stored (the password only when remembered).
    MqttSettings expected = mqtt;
    if (!expected.rememberPassword)
        expected.password.clear();
    if (expected.host.isEmpty())
        expected.topic = QStringLiteral("brelk/dd00");
    QCOMPARE(loadMqttSettings(file, 0xDD00), expected);

    // A remembered password leaves the file to its owner, also after the panel writes it again.
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    {
        QSettings later(path, QSettings::IniFormat);
        later.setValue(QStringLiteral("BaseAddress"), QStringLiteral("0xC000"));
    }
    const QFile::Permissions permissions = QFile::permissions(path);
    QVERIFY(permissions & QFile::ReadOwner && permissions & QFile::WriteOwner);
    if (mqtt.rememberPassword)
        QCOMPARE(permissions & others, QFile::Permissions());
}

void TestMqttLogic::topicProblem_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("problem"); // a part of the reason; empty: accepted

    const auto text = [](char32_t c) {
        return QStringLiteral("lab/") + QString::fromUcs4(&c, 1) + QStringLiteral("/hv");
    };
    QTest::newRow("default") << QStringLiteral("brelk/dd00") << QString();
    QTest::newRow("blank, accents and CJK inside")
        << QString::fromUtf8("labor \xC3\xA9t\xC3\xA9/\xE9\xAB\x98\xE5\x9C\xA7") << QString();
    QTest::newRow("empty") << QString() << "empty";
    QTest::newRow("single-level wildcard") << QStringLiteral("lab/+/hv") << "wildcard";
    QTest::newRow("multi-level wildcard") << QStringLiteral("lab/#") << "wildcard";
    QTest::newRow("empty level") << QStringLiteral("lab//hv") << "empty level";
    QTest::newRow("leading slash") << QStringLiteral("/lab/hv") << "empty level";
    QTest::newRow("U+0000") << text(0x0) << "control character";
    QTest::newRow("tab") << QStringLiteral("lab\thv") << "control character";
    QTest::newRow("U+001F") << text(0x1F) << "control character";
    QTest::newRow("U+0020 space") << text(0x20) << QString();
    QTest::newRow("U+007E tilde") << text(0x7E) << QString();
    QTest::newRow("U+007F delete") << text(0x7F) << "control character";
    QTest::newRow("U+0085 next line") << text(0x85) << "control character";
    QTest::newRow("U+009F") << text(0x9F) << "control character";
    QTest::newRow("U+00A0 no-break space") << text(0xA0) << QString();
    QTest::newRow("U+FDCF") << text(0xFDCF) << QString();
    QTest::newRow("U+FDD0") << text(0xFDD0) << "non-character";
    QTest::newRow("U+FDEF") << text(0xFDEF) << "non-character";
    QTest::newRow("U+FDF0") << text(0xFDF0) << QString();
    QTest::newRow("U+FFFD replacement character") << text(0xFFFD) << QString();
    QTest::newRow("U+FFFE") << text(0xFFFE) << "non-character";
    QTest::newRow("U+FFFF") << text(0xFFFF) << "non-character";
    QTest::newRow("U+1FFFE") << text(0x1FFFE) << "non-character";
    QTest::newRow("U+10FFFF") << text(0x10FFFF) << "non-character";
    QTest::newRow("U+10FFFD") << text(0x10FFFD) << QString();
    QTest::newRow("lone high surrogate") << QStringLiteral("lab/") + QChar(0xD800) << "UTF-8";
    QTest::newRow("lone low surrogate") << QChar(0xDC00) + QStringLiteral("/lab") << "UTF-8";

    // With "/module", the longest topic, 65,535 bytes at most.
    const int longest = 65535 - MqttLongestSuffixBytes;
    QTest::newRow("longest prefix") << QString(longest, QLatin1Char('x')) << QString();
    QTest::newRow("a byte too long") << QString(longest + 1, QLatin1Char('x')) << "longer";
    QTest::newRow("two-byte characters, a byte too long")
        << QString(longest / 2, QChar(0xE9)) + QStringLiteral("xx") << "longer";
}

void TestMqttLogic::topicProblem()
{
    QFETCH(QString, topic);
    QFETCH(QString, problem);
    const QString found = mqttTopicProblem(topic);
    QVERIFY2(problem.isEmpty() ? found.isEmpty() : found.contains(problem), qPrintable(found));
}

QTEST_APPLESS_MAIN(TestMqttLogic)
#include "tst_mqttlogic.moc"
