// The pure parts of MQTT publishing: the JSON of a channel and of the module, when a channel's
// message is due, the delays between connection attempts, the Mqtt* settings keys, and remote
// commands: parsing, the verdict, the rate limit, the answer and the debug line.
#include "mqttsettings.h"
#include "payloads.h"
#include "remotecommand.h"
#include "schedule.h"
#include "settings.h"
#include "settingsfile.h"
#include "ticks.h"

#include <QJsonArray>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace Brelk;

Q_DECLARE_METATYPE(Brelk::ModuleContext)
Q_DECLARE_METATYPE(Brelk::RemoteConditions)
Q_DECLARE_METATYPE(Brelk::WriteList)

namespace {

// A settings file of its own holding `lines`; the toolkit keeps one parse per file name.
QString settingsFile(const QByteArray &lines)
{
    static QTemporaryDir dir;
    static int files = 0;
    const QString path = dir.filePath(QStringLiteral("%1.ini").arg(++files));
    return writeSettingsFile(path, lines) ? path : QString();
}

} // namespace

class TestMqttLogic : public QObject
{
    Q_OBJECT

private slots:
    void channelPayload_data();
    void channelPayload();
    void modulePayload_data();
    void modulePayload();
    void schedule_data();
    void schedule();
    void backoffDoublesToThirtySeconds();
    void loadSettings_data();
    void loadSettings();
    void storeSettings_data();
    void storeSettings();
    void settingsFileIsUtf8_data();
    void settingsFileIsUtf8();
    void topicProblem_data();
    void topicProblem();
    void panelSettings_data();
    void panelSettings();
    void parseCommand_data();
    void parseCommand();
    void verdict_data();
    void verdict();
    void rateIsFivePerSecond();
    void logLineKeepsLongPayloadsOut();
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

    // Through the published bytes, as a subscriber reads them.
    QJsonObject payload =
        parse(compactJson(Brelk::channelPayload(reading, channel, quint8(events), stale)));
    QCOMPARE(payload.take(QStringLiteral("time")).toString(), isoLocalTime(reading.time));
    QTEST(payload, "expected");
}

void TestMqttLogic::modulePayload_data()
{
    QTest::addColumn<ModuleContext>("context");
    QTest::addColumn<bool>("hasModule");
    QTest::addColumn<int>("serial");
    QTest::addColumn<QJsonObject>("expected");

    const auto context = [](const char *bridge, int base, bool fine, CurrentResolution current,
                            SecondRange range) {
        return ModuleContext{QLatin1String(bridge), base, fine, current, range, {}, {}};
    };
    QTest::newRow("V1718, lower-case hex serial, fine options")
        << context("CAEN V1718", 0x0100, true, CurrentResolution::nA1, SecondRange::pA100) << true
        << 0xABCD << parse(R"({"serial":"abcd","base_address":"0x0100","bridge":"CAEN V1718",
            "version":"1.0.0.0","voltage_resolution":"100mV","current_resolution":"1nA",
            "second_range":"100pA"})");
    QTest::newRow("no module answers")
        << context("Wiener VM-USB", 0xDD00, false, CurrentResolution::nA100, SecondRange::nA1)
        << false << 0 << parse(R"({"serial":null,"base_address":"0xDD00","bridge":"Wiener VM-USB",
            "version":"1.0.0.0","voltage_resolution":"1V","current_resolution":"100nA",
            "second_range":"1nA"})");
    ModuleContext limited =
        context("Wiener VM-USB", 0xDD00, false, CurrentResolution::uA1, SecondRange::None);
    limited.ceilings.volts[0] = 1500;
    limited.name = QStringLiteral("Drift chamber");
    QTest::newRow("a ceiling on channel A only, a name")
        << limited << true << 0x2101
        << parse(R"({"serial":"2101","base_address":"0xDD00","bridge":"Wiener VM-USB",
            "version":"1.0.0.0","voltage_resolution":"1V","current_resolution":"1uA",
            "second_range":"none","vset_max_a":1500,"name":"Drift chamber"})");
    limited.name.clear();
    limited.ceilings.volts[0] = 0;
    limited.ceilings.volts[1] = 800.5;
    QTest::newRow("ceilings of 0 and a fraction")
        << limited << true << 0x2101
        << parse(R"({"serial":"2101","base_address":"0xDD00","bridge":"Wiener VM-USB",
            "version":"1.0.0.0","voltage_resolution":"1V","current_resolution":"1uA",
            "second_range":"none","vset_max_a":0,"vset_max_b":800.5})");
}

void TestMqttLogic::modulePayload()
{
    QFETCH(ModuleContext, context);
    QFETCH(bool, hasModule);
    QFETCH(int, serial);
    QTEST(parse(compactJson(Brelk::modulePayload(context, hasModule, quint16(serial)))),
          "expected");
}

// Each step is a tick "ms[:vsetA[:eventsA[:eventsB]]]" or "stale"; each outcome "-" (nothing
// sent) or the events of the message sent, "stale" in front for a stale one: "stale[ILIM,TRP]".
void TestMqttLogic::schedule_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("outcomes");
    const auto row = [](const char *name, const char *steps, const char *outcomes) {
        QTest::newRow(name) << QString::fromLatin1(steps).split(QLatin1Char(' '))
                            << QString::fromLatin1(outcomes).split(QLatin1Char(' '));
    };
    row("first tick, then only a value change", "0 100 200:1001 300:1001", "[] - [] -");
    row("at least every second", "0 900 1000 1100 2000", "[] - [] - []");
    row("late ticks", "0 950 1150 2100 2150", "[] - [] - []");
    row("the clock set back", "5000 5100 3000 3100 4000", "[] - [] - []");
    row("an event is published at once", "0 100:1000:2 200", "[] [TRP] []");
    row("events between messages are gathered", "0 100:1000:64 200:1000:64 300:1000:2 400",
        "[] [ILIM] - [ILIM,TRP] []");
    row("a lasting event is not repeated but kept until its end is published",
        "0:1000:2 100:1000:2 200:1000:2 300 400", "[TRP] - - [TRP] []");
    row("the other channel's events do not count", "0 100:1000:0:2 200:1000:0:64", "[] - -");
    row("one stale message, then fresh again", "0 stale stale 100 200", "[] stale[] - [] -");
    row("stale keeps the events of unpublished ticks", "0:1000:2 100:1000:2 stale",
        "[TRP] - stale[TRP]");
    row("stale before any tick says nothing", "stale 0", "- []");
}

void TestMqttLogic::schedule()
{
    QFETCH(QStringList, steps);

    ChannelSchedule channel(0);
    QStringList seen;
    qint64 lastTime = 0;
    quint16 latched = 0;
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
            latched |= reading.events;
            sent = channel.takeReading(reading, latched, &message);
            lastTime = reading.time;
        }
        if (!sent) {
            seen << QStringLiteral("-");
            continue;
        }
        QStringList events;
        for (const QJsonValue &event : message.value(QStringLiteral("events")).toArray())
            events << event.toString();
        seen << QLatin1String(message.value(QStringLiteral("stale")).toBool() ? "stale[" : "[") +
                    events.join(QLatin1Char(',')) + QLatin1Char(']');
        // A stale message carries the last tick's time and values.
        QCOMPARE(message.value(QStringLiteral("time")).toString(), isoLocalTime(lastTime));
    }
    QTEST(seen, "outcomes");
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

    const auto row = [](const char *name, const char *file, int base, const char *host, int port,
                        const QString &topic, bool remember) {
        QTest::newRow(name) << QByteArray(file) << base << QString::fromLatin1(host) << port
                            << topic << remember;
    };
    row("nothing: off", "", 0xDD00, "", 1883, "brelk/dd00", false);
    row("only the host", "MqttHost=broker.lab\n", 0x0100, "broker.lab", 1883, "brelk/0100", false);
    row("everything",
        "MqttHost=10.0.0.5\nMqttPort=8883\nMqttTopic=lab/hv/crate1/\nMqttUser=panel\n"
        "MqttPassword=s\n",
        0xDD00, "10.0.0.5", 8883, "lab/hv/crate1", true);
    row("unusable port takes the default, a refused prefix is kept to be reported",
        "MqttHost=h\nMqttPort=99999\nMqttTopic=lab/#\n", 0xDD00, "h", 1883, "lab/#", false);
    row("tab inside the prefix, escaped", "MqttHost=h\nMqttTopic=\"lab\\thv\"\n", 0xDD00, "h", 1883,
        "lab\thv", false);
    row("tab inside the prefix, as it is", "MqttHost=h\nMqttTopic=lab\thv\n", 0xDD00, "h", 1883,
        "lab\thv", false);
    row("non-character U+FFFF, escaped", "MqttHost=h\nMqttTopic=lab/\\xffff\n", 0xDD00, "h", 1883,
        QStringLiteral("lab/") + QChar(0xFFFF), false);
}

void TestMqttLogic::loadSettings()
{
    QFETCH(QByteArray, file);
    QFETCH(int, baseAddress);
    const MqttSettings mqtt = loadMqttSettings(Settings(settingsFile(file)), baseAddress);
    QTEST(mqtt.host, "host");
    QTEST(mqtt.port, "port");
    QTEST(mqtt.topic, "topic");
    QTEST(mqtt.rememberPassword, "rememberPassword");
    QCOMPARE(mqtt.enabled(), !mqtt.host.isEmpty());
}

void TestMqttLogic::storeSettings_data()
{
    QTest::addColumn<MqttSettings>("mqtt");
    QTest::addColumn<QStringList>("keys");

    const QStringList all{"MqttCaFile", "MqttHost",  "MqttPassword",
                          "MqttPort",   "MqttTopic", "MqttUser"};
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
    QTest::newRow("everything") << full << all;
    QTest::newRow("off") << MqttSettings() << QStringList{};

    MqttSettings utf8 = full;
    utf8.topic = QString::fromUtf8("labor/Pr\xC3\xBC"
                                   "fstand/\xE9\xAB\x98\xE5\x8E\x8B");
    utf8.user = QString::fromUtf8("bediener-\xC3\xBC");
    utf8.password = QString::fromUtf8("gr\xC3\xBCn");
    QTest::newRow("beyond ASCII") << utf8 << all;
}

void TestMqttLogic::storeSettings()
{
    QFETCH(MqttSettings, mqtt);
    QFETCH(QStringList, keys);
    // Every key present before: storing must remove what is not to be kept.
    const QString path = settingsFile("MqttHost=old\nMqttPort=old\nMqttTopic=old\nMqttUser=old\n"
                                      "MqttPassword=old\nMqttCaFile=old\nBaseAddress=0xDD00\n");
    Settings file(path);
    QVERIFY(storeMqttSettings(file, mqtt, 0xDD00));
    QSettings settings(path, QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // The toolkit shares one parse of the file among its readers: read as Latin-1 here, it would
    // be what the next reader gets.
    settings.setIniCodec("UTF-8");
#endif
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
}

void TestMqttLogic::settingsFileIsUtf8_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<quint32>("module"); // 0: the first module's settings, else a further one's
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("fileProblem"); // a part of what is wrong; empty: none

    const QString dd00 = QStringLiteral("brelk/dd00");
    const auto row = [](const char *name, const QByteArray &lines, quint32 module,
                        const QString &topic, const QString &user, const char *fileProblem) {
        QTest::newRow(name) << "MqttHost=h\n" + lines << module << topic << user
                            << QString::fromLatin1(fileProblem);
    };
    const QString pruefstand = QString::fromUtf8("labor/Pr\303\274fstand");
    row("umlaut in the prefix", "MqttTopic=labor/Pr\303\274fstand\n", 0, pruefstand, "", "");
    row("four-byte character, quoted", "MqttTopic=\"lab/\xF0\x9F\x94\x8C\"\n", 0,
        QString::fromUtf8("lab/\xF0\x9F\x94\x8C"), "", "");
    row("escaped character, not a byte", "MqttTopic=labor/gr\\xfcn\n", 0,
        QString::fromUtf8("labor/gr\xC3\xBCn"), "", "");
    row("further module's UTF-8 prefix", "[Module_C000]\nMqttTopic=labor/Pr\303\274fstand\n",
        0xC000, pruefstand, "", "");

    row("Latin-1 byte in the prefix", "MqttTopic=labor/Pr\374fstand\n", 0, QString(), "",
        "MqttTopic");
    row("Latin-1 byte in the password", "MqttUser=panel\nMqttPassword=gr\374n\n", 0, dd00, "panel",
        "MqttPassword");
    row("sequence cut short at the end of the user name", "MqttUser=panel\xE9\xAB\n", 0, dd00,
        QString(), "MqttUser");
    row("past U+10FFFF", "MqttCaFile=/ca\xF4\x90\x80\x80.pem\n", 0, dd00, "", "MqttCaFile");
    row("further module's prefix", "[Module_C000]\nMqttTopic=lab/\xFC\n", 0xC000, QString(), "",
        "Module_C000/MqttTopic");
    row("the first module's prefix is not a further module's",
        "MqttTopic=lab/\xFC\n[Module_C000]\nMqttTopic=lab/c000\n", 0xC000, "lab/c000", "", "");
    row("a key that is not MQTT's", "LogFile=/data/m\374ller.csv\n", 0, dd00, "", "");
}

// The file is UTF-8 with Qt 5 as with Qt 6: a prefix reads back exactly, and a value that is not
// UTF-8 is refused by its key (the toolkit would read a replacement character and publish it).
void TestMqttLogic::settingsFileIsUtf8()
{
    QFETCH(QByteArray, file);
    QFETCH(quint32, module);
    QFETCH(QString, topic);
    QFETCH(QString, user);
    QFETCH(QString, fileProblem);
    const Settings settings(settingsFile(file));
    const MqttSettings mqtt =
        module ? loadModuleMqttSettings(settings, module) : loadMqttSettings(settings, 0xDD00);
    if (!topic.isNull()) {
        QCOMPARE(mqtt.topic, topic);
        QCOMPARE(mqttTopicProblem(mqtt.topic), QString());
    }
    if (!user.isNull())
        QCOMPARE(mqtt.user, user);
    QVERIFY2(fileProblem.isEmpty()
                 ? mqtt.fileProblem.isEmpty()
                 : mqtt.fileProblem.startsWith(fileProblem + QStringLiteral(" ")) &&
                       mqtt.fileProblem.contains(QStringLiteral("not valid UTF-8")),
             qPrintable(mqtt.fileProblem));
}

// A prefix to publish under (mqttTopicProblem) or filters to attach with (mqttFilterProblem).
void TestMqttLogic::topicProblem_data()
{
    QTest::addColumn<bool>("filter");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("problem"); // a part of the reason; empty: accepted
    const auto row = [](const char *name, bool filter, const QString &topic, const char *problem) {
        QTest::newRow(name) << filter << topic << QString::fromLatin1(problem);
    };

    row("default", false, "brelk/dd00", "");
    row("blank, accents and CJK inside", false, "labor \xC3\xA9t\xC3\xA9/\xE9\xAB\x98\xE5\x9C\xA7",
        "");
    row("empty", false, QString(), "empty");
    row("single-level wildcard", false, "lab/+/hv", "wildcard");
    row("multi-level wildcard", false, "lab/#", "wildcard");
    row("empty level", false, "lab//hv", "empty level");
    row("tab", false, "lab\thv", "control character");
    // Each code point at a border of what is refused, inside "lab/.../hv".
    const char *const control = "control character";
    const char *const non = "non-character";
    const std::pair<char32_t, const char *> codes[] = {
        {0x0, control},  {0x1F, control}, {0x20, ""},    {0x7E, ""},    {0x7F, control},
        {0x85, control}, {0x9F, control}, {0xA0, ""},    {0xFDCF, ""},  {0xFDD0, non},
        {0xFDEF, non},   {0xFDF0, ""},    {0xFFFD, ""},  {0xFFFE, non}, {0xFFFF, non},
        {0x1FFFE, non},  {0x10FFFF, non}, {0x10FFFD, ""}};
    for (const auto &code : codes) {
        row(qPrintable(QStringLiteral("U+%1").arg(uint(code.first), 4, 16, QChar('0'))), false,
            QStringLiteral("lab/") + QString::fromUcs4(&code.first, 1) + QStringLiteral("/hv"),
            code.second);
    }
    row("lone high surrogate", false, QStringLiteral("lab/") + QChar(0xD800), "UTF-8");

    // With "/a/result", the longest topic (a command's answer), 65,535 bytes at most.
    const int longest = 65535 - int(qstrlen("/a/result"));
    row("longest prefix", false, QString(longest, QLatin1Char('x')), "");
    row("a byte too long", false, QString(longest + 1, QLatin1Char('x')), "longer");
    row("two-byte characters, a byte too long", false,
        QString(longest / 2, QChar(0xE9)) + QStringLiteral("xx"), "longer");

    row("filter of one level", true, "brelk/+", "");
    row("two filters", true, "brelk/+, lab/+/+", "");
    row("a prefix as a filter", true, "brelk/dd00", "");
    row("no filter", true, "", "empty");
    row("empty second filter", true, "brelk/+,", "empty");
    row("# in a filter", true, "brelk/#", "\"#\"");
    row("+ inside a level", true, "brelk/dd+", "whole level");
    row("empty level in a filter", true, "brelk//+", "empty level");
}

void TestMqttLogic::topicProblem()
{
    QFETCH(bool, filter);
    QFETCH(QString, topic);
    QFETCH(QString, problem);
    const QString found = filter ? mqttFilterProblem(topic) : mqttTopicProblem(topic);
    QVERIFY2(problem.isEmpty() ? found.isEmpty() : found.contains(problem), qPrintable(found));
}

// Where the panel's modules come from and whether its service takes remote commands, as read
// from the file and as stored back.
void TestMqttLogic::panelSettings_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("attached");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("module");
    QTest::addColumn<bool>("commands");
    const auto row = [](const char *name, const char *file, bool attached, const char *filter,
                        const char *module, bool commands) {
        QTest::newRow(name) << QByteArray(file) << attached << QString::fromLatin1(filter)
                            << QString::fromLatin1(module) << commands;
    };
    row("no key", "MqttHost=h\n", false, "brelk/+", "", false);
    row("unknown source, true is not on", "Source=Broker\nMqttCommands=true\n", false, "brelk/+",
        "", false);
    row("broker, trailing slashes, on",
        "Source=broker\nAttachFilter=lab/+/\nAttachModule=lab/dc00/\nMqttCommands=on\n", true,
        "lab/+", "lab/dc00", true);
    row("filters unquoted, ON with blanks",
        "Source= broker\nAttachFilter=brelk/+, brelk/+/+\nMqttCommands= ON \n", true,
        "brelk/+, brelk/+/+", "", true);
    row("only spaces", "Source=broker\nAttachFilter=   \n", true, "brelk/+", "", false);
    row("filters quoted", "Source=broker\nAttachFilter=\"brelk/+, brelk/+/+\"\n", true,
        "brelk/+, brelk/+/+", "", false);
}

void TestMqttLogic::panelSettings()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, commands);
    const QString path = settingsFile(file);
    Settings settings(path);
    QCOMPARE(remoteCommandsAllowed(settings), commands);
    // As read, and as read again once stored back with the commands switched the other way.
    for (int pass = 0; pass < 2; ++pass) {
        const AttachSettings read = loadAttachSettings(settings);
        QTEST(read.attached, "attached");
        QTEST(read.filter, "filter");
        QTEST(read.module, "module");
        QCOMPARE(mqttFilterProblem(read.filter), QString());
        QVERIFY(storeAttachSettings(settings, read));
        QVERIFY(storeRemoteCommandsAllowed(settings, !commands));
    }
    QCOMPARE(remoteCommandsAllowed(settings), !commands);
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("MqttCommands").toString(),
             QString(commands ? "off" : "on"));
    // The other keys are left alone.
    if (file.startsWith("MqttHost"))
        QCOMPARE(loadMqttSettings(settings, 0xDD00).host, QStringLiteral("h"));
}

void TestMqttLogic::parseCommand_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("key"); // empty: refused as invalid
    QTest::addColumn<double>("value");
    QTest::addColumn<QJsonValue>("id");
    QTest::addColumn<QString>("message"); // part of the refusal's message

    const QJsonValue none(QJsonValue::Null);
    const auto taken = [](const char *name, const char *payload, const char *key, double value,
                          const QJsonValue &id) {
        QTest::newRow(name) << QByteArray(payload) << key << value << id << QString();
    };
    const auto refused = [](const char *name, const char *payload, const char *message,
                            const QJsonValue &id = QJsonValue::Null) {
        QTest::newRow(name) << QByteArray(payload) << QString() << 0.0 << id << message;
    };
    taken("vset", R"({"vset":1500})", "vset", 1500, none);
    taken("ramp, string id", R"({"ramp":20,"id":"r-1"})", "ramp", 20, "r-1");
    taken("limit_i, number id", R"({"id":7,"limit_i":0.0005})", "limit_i", 0.0005, 7);
    taken("limit_i2 in exponent form", R"({"limit_i2":1e-6})", "limit_i2", 1e-6, none);
    taken("clear", R"({"clear":true})", "clear", 0, none);
    taken("blanks and a line break", "{ \"vset\" : 10 ,\n \"id\" : 1 }", "vset", 10, 1);
    taken("sent and serial beside a command", R"({"vset":1,"sent":1765000000000,"serial":"2101"})",
          "vset", 1, none);
    taken("colon and braces inside strings are no members", R"({"id":"a:{\"b\":1}","vset":3})",
          "vset", 3, R"(a:{"b":1})");

    refused("not JSON", "vset=1500", "not JSON");
    refused("array", R"([{"vset":1}])", "not a JSON object");
    refused("only an id", R"({"id":3})", "no command", 3);
    refused("only sent and serial", R"({"sent":1,"serial":"1"})", "no command");
    refused("two commands", R"({"vset":1,"ramp":20,"id":"x"})", "more than one", "x");
    refused("unknown key", R"({"vset":1,"force":true})", "unknown key \"force\"");
    refused("key in another case", R"({"VSET":1})", "unknown key");
    refused("sent as a text", R"({"vset":1,"sent":"now"})", "\"sent\" takes");
    refused("sent with a fraction", R"({"vset":1,"sent":1.5})", "\"sent\" takes");
    refused("sent before 1970", R"({"vset":1,"sent":-1})", "\"sent\" takes");
    refused("serial as a number", R"({"vset":1,"serial":2101})", "\"serial\" takes");
    refused("serial with a prefix", R"({"vset":1,"serial":"0x21"})", "\"serial\" takes");
    refused("serial too long", R"({"vset":1,"serial":"12101"})", "\"serial\" takes");
    refused("duplicate command key", R"({"vset":1,"vset":6000})", "more than once");
    refused("duplicate id", R"({"id":1,"vset":1,"id":2})", "more than once", 2);
    refused("nested object counts once", R"({"vset":{"a":1,"b":2}})", "takes a number");
    refused("value as a string", R"({"vset":"1500"})", "takes a number");
    refused("number beyond double", R"({"vset":1e400})", "");
    refused("clear false", R"({"clear":false})", "takes true");
    refused("id true", R"({"vset":1,"id":true})", "\"id\" must be");
    refused("id null", R"({"vset":1,"id":null})", "\"id\" must be");
}

void TestMqttLogic::parseCommand()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, key);
    QFETCH(QString, message);

    const RemoteCommand command = parseRemoteCommand(payload);
    QTEST(command.id, "id");
    if (key.isEmpty()) {
        QCOMPARE(command.error, QStringLiteral("invalid"));
        QVERIFY2(command.message.contains(message), qPrintable(command.message));
        return;
    }
    QVERIFY2(command.error.isEmpty(), qPrintable(command.message));
    QCOMPARE(command.key, key);
    QTEST(command.value, "value");
}

namespace {

RemoteConditions usable(SecondRange range = SecondRange::None,
                        CurrentResolution resolution = CurrentResolution::uA1)
{
    RemoteConditions conditions;
    conditions.allowed = true;
    conditions.freshness = CommandFreshness::Current;
    conditions.serialNumber = 0x2101;
    conditions.wallClockMs = 1765000000000;
    conditions.selection.currentResolution = resolution;
    conditions.selection.secondRange = range;
    return conditions;
}

} // namespace

void TestMqttLogic::verdict_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<RemoteConditions>("conditions");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("error");
    QTest::addColumn<WriteList>("writes"); // of an accepted command
    // Where a row gives them: the answer published (a refusal's "message" where the row has one),
    // and the status bar's text after "Remote command: ".
    QTest::addColumn<QJsonObject>("answer");
    QTest::addColumn<QString>("text");

    RemoteConditions disabled = usable(), retained = usable(), stale = usable(), waited = usable(),
                     noTick = usable(), tightAge = usable(), abcd = usable(), ceilingA = usable(),
                     ceilingB = usable();
    disabled.allowed = false;
    retained.retained = true;
    stale.freshness = CommandFreshness::TickTooOld;
    waited.freshness = CommandFreshness::WaitedTooLong;
    noTick.freshness = CommandFreshness::NoTick;
    noTick.serialNumber = -1;
    tightAge.maxAgeMs = 100;
    abcd.serialNumber = 0xabcd;
    ceilingA.ceilings.volts[0] = 10;
    ceilingB.channel = 1;
    ceilingB.ceilings.volts[1] = 1500;
    RemoteConditions everything = disabled;
    everything.retained = true;
    everything.freshness = CommandFreshness::NoTick;
    RemoteConditions conflict = everything;
    conflict.conflictHost = QStringLiteral("crate2");
    // A set voltage sent `ms` from the wall clock of the judgement.
    const auto sentAt = [](qint64 ms, int vset = 1) {
        return QByteArray(R"({"vset":)") + QByteArray::number(vset) + R"(,"sent":)" +
               QByteArray::number(usable().wallClockMs + ms) + "}";
    };
    const auto row = [](const char *name, const QByteArray &payload,
                        const RemoteConditions &conditions, int channel, const char *error,
                        const WriteList &writes = WriteList(), const char *answer = "{}",
                        const char *text = "") {
        QTest::newRow(name) << payload << conditions << channel << QString::fromLatin1(error)
                            << writes << parse(answer) << QString::fromLatin1(text);
    };

    // The register words are what the dialog writes for the same entry (see tst_commands).
    row("vset A", R"({"vset":1500,"id":"a1"})", usable(), 0, "", {{regVsetWrite_A, 1500}},
        R"({"id":"a1","ok":true,"command":"vset","value":1500})", "channel A Vset 1500 V");
    row("vset B truncates like the dialog, and is answered as written", R"({"vset":1234.9})",
        usable(), 1, "", {{regVsetWrite_B, 1234}},
        R"({"id":null,"ok":true,"command":"vset","value":1234})", "channel B Vset 1234 V");
    row("vset above, refused with its id", R"({"vset":6000.1,"id":"far"})", usable(), 0,
        "out_of_range", {}, R"({"id":"far","ok":false,"error":"out_of_range"})");
    row("a typo above the ceiling names it", R"({"vset":15000,"id":"typo"})", ceilingB, 1,
        "out_of_range", {}, R"json({"id":"typo","ok":false,"error":"out_of_range",
            "message":"vset 15000 V is above the ceiling of 1500 V (VsetMaxB)"})json");
    row("below 0 under a ceiling", R"({"vset":-1})", ceilingA, 0, "out_of_range", {},
        R"({"id":null,"ok":false,"error":"out_of_range","message":"vset takes 0 to 10 V"})");
    row("vset a step above the ceiling", R"({"vset":10.1})", ceilingA, 0, "out_of_range");
    row("a ramp speed under a ceiling", R"({"ramp":20})", ceilingA, 0, "",
        {{regRamp_A, 20}, setVoltageResend(0)});
    row("ramp B re-sends the set voltage the module holds", R"({"ramp":20,"id":5})", usable(), 1,
        "", {{regRamp_B, 20}, setVoltageResend(1)},
        R"({"id":5,"ok":true,"command":"ramp","value":20})", "channel B Ramp 20 V/s");
    row("ramp below 2", R"({"ramp":1.9})", usable(), 0, "out_of_range");
    // The entries themselves are checked as the dialog's are (tst_module); here only that the
    // resolution of the module reaches the check, and that a limit is never looser than asked.
    row("limit_i at 1 uA is entered in mA", R"({"limit_i":0.0015})", usable(), 0, "",
        {{regSoftLimitI_A, 1500}}, R"({"id":null,"ok":true,"command":"limit_i","value":0.0015})",
        "channel A Limit I 1.5 mA");
    row("limit_i at 10 nA: 0.29 uA is 0.2 uA, not 0.3", R"({"limit_i":2.9e-7})",
        usable(SecondRange::None, CurrentResolution::nA10), 0, "", {{regSoftLimitI_A, 20}},
        R"({"id":null,"ok":true,"command":"limit_i","value":2e-7})", "channel A Limit I 0.2 uA");
    row("limit_i at 1 uA: 0.04 mA is not no limit", R"({"limit_i":0.00004})", usable(), 0,
        "out_of_range");
    row("limit_i at 1 uA: 0 is no limit", R"({"limit_i":0})", usable(), 0, "",
        {{regSoftLimitI_A, 0}});
    row("limit_i2 at 100 pA: 1.259 uA is 1.25 uA", R"({"limit_i2":1.259e-6})",
        usable(SecondRange::pA100), 0, "", {{regSoftLimitI2_A, 12500}},
        R"({"id":null,"ok":true,"command":"limit_i2","value":1.25e-6})",
        "channel A Limit I2 1.25 uA");
    row("limit_i2 without a second range", R"({"limit_i2":1e-6})", usable(), 0, "out_of_range");
    row("clear", R"({"clear":true,"id":"c"})", usable(), 1, "", {},
        R"({"id":"c","ok":true,"command":"clear","value":true})", "channel B Clear events");
    row("disabled", R"({"vset":1})", disabled, 0, "disabled");
    row("disabled comes first", "x", everything, 0, "disabled");
    row("retained", R"({"vset":1})", retained, 0, "retained");
    row("invalid before stale", R"({"vset":"1"})", stale, 0, "invalid", {},
        R"({"id":null,"ok":false,"error":"invalid"})");
    row("out of range before stale", R"({"vset":7000})", stale, 0, "out_of_range");
    row("stale", R"({"vset":1})", stale, 0, "stale");
    row("stale clear", R"({"clear":true})", stale, 0, "stale");
    row("stale: no tick since the connection", R"({"vset":1})", noTick, 0, "stale");
    row("stale: waited too long in the program", R"({"vset":1})", waited, 0, "stale");
    row("conflict comes first", R"({"vset":1})", conflict, 0, "conflict");
    row("sent now", sentAt(0), usable(), 0, "", {{regVsetWrite_A, 1}});
    row("sent too long ago", sentAt(-2001), usable(), 0, "expired");
    row("sent ahead of the clock", sentAt(2001), usable(), 0, "expired");
    row("sent within a shorter maximum age", sentAt(-101), tightAge, 0, "expired");
    row("expired before out of range", sentAt(-2001, 9000), usable(), 0, "expired");
    row("serial of this module", R"({"vset":1,"serial":"2101"})", usable(), 0, "",
        {{regVsetWrite_A, 1}});
    row("serial in upper case", R"({"clear":true,"serial":"ABCD"})", abcd, 0, "");
    row("serial of another module", R"({"vset":1,"serial":"2102"})", usable(), 0, "wrong_module");
    row("serial before the first tick", R"({"vset":1,"serial":"2101"})", noTick, 0, "wrong_module");
}

void TestMqttLogic::verdict()
{
    QFETCH(QByteArray, payload);
    QFETCH(RemoteConditions, conditions);
    QFETCH(int, channel);
    QFETCH(QString, error);
    QFETCH(WriteList, writes);

    CommandRate rate;
    const RemoteCommand command = parseRemoteCommand(payload);
    const RemoteVerdict verdict = judgeRemoteCommand(command, conditions, &rate, 1000);
    QCOMPARE(verdict.error, error);
    QVERIFY(error.isEmpty() || !verdict.message.isEmpty());
    QCOMPARE(remoteCommandWrites(command, verdict, channel, conditions.selection), writes);
    // A refused command leaves the rate as it was: five more are accepted in the same second.
    const int more = error.isEmpty() ? 4 : 5;
    for (int i = 0; i < more; ++i)
        QVERIFY(rate.take(1000));
    QVERIFY(!rate.take(1000));

    QFETCH(QJsonObject, answer);
    QFETCH(QString, text);
    if (answer.isEmpty())
        return;
    const double written = writtenValue(command, writes, conditions.selection);
    QJsonObject published = remoteAnswer(command, verdict, written);
    QVERIFY(!compactJson(published).contains('\n'));
    if (!verdict.error.isEmpty()) {
        const QString message = published.take(QStringLiteral("message")).toString();
        QVERIFY(!message.isEmpty());
        if (answer.contains(QStringLiteral("message")))
            QCOMPARE(message, answer.take(QStringLiteral("message")).toString());
    } else {
        QCOMPARE(remoteCommandText(command, channel, verdict, written), text);
    }
    // Equal as numbers to the last binary digit the answer carries.
    if (answer.value("value").isDouble()) {
        QCOMPARE(published.take(QStringLiteral("value")).toDouble(),
                 answer.take(QStringLiteral("value")).toDouble());
    }
    QCOMPARE(published, answer);
}

void TestMqttLogic::rateIsFivePerSecond()
{
    CommandRate rate;
    const RemoteCommand command = parseRemoteCommand(R"({"vset":1})");
    QStringList errors;
    for (qint64 at : {0, 100, 200, 300, 400, 999, 500, 1000, 1050, 1100})
        errors << judgeRemoteCommand(command, usable(), &rate, at).error;
    // The sixth within the second is busy, and being busy takes no place; one second after the
    // first, one place is free again, and only one.
    QCOMPARE(errors, (QStringList{"", "", "", "", "", "busy", "busy", "", "busy", ""}));
}

void TestMqttLogic::logLineKeepsLongPayloadsOut()
{
    // The line of `payload` judged as usual, or with `message` as the reason of its refusal.
    const auto logLine = [](const QByteArray &payload, int channel = 0, quint32 base = 0xDD00,
                            const QString &message = QString()) {
        const RemoteCommand command = parseRemoteCommand(payload);
        RemoteVerdict verdict = judgeRemoteCommand(command, usable(), nullptr, 0);
        if (!message.isNull())
            verdict.message = message;
        return remoteLogLine(base, channel, command, payload, verdict);
    };
    QCOMPARE(logLine(R"({"vset":"secret"})", 1),
             QStringLiteral("Remote command: module 0xDD00 channel B {\"vset\":\"secret\"}: "
                            "refused, invalid: \"vset\" takes a number"));

    const QByteArray longPayload = "{\"vset\":1,\"x\":\"" + QByteArray(200, 'p') + "\"}";
    QString line = logLine(longPayload);
    QVERIFY2(!line.contains(QStringLiteral("pppp")), qPrintable(line));
    QVERIFY2(line.contains(QStringLiteral("a payload of %1 bytes").arg(longPayload.size())),
             qPrintable(line));

    QCOMPARE(logLine(R"({"limit_i":0.0005,"id":"x"})", 0, 0xC000),
             QStringLiteral("Remote command: module 0xC000 channel A limit_i 0.0005: done"));

    // A key that would forge a line of its own, or drive the terminal, is written escaped.
    const QByteArray forged("{\"vset\":1,\"x\\nRemote command: module 0xDD00 channel A vset "
                            "6000: done\\u001b[2J\\u0085\\u2028\":1}");
    line = logLine(forged);
    for (const QChar c : line) {
        const ushort code = c.unicode();
        QVERIFY2(code >= 0x20 && !(code >= 0x7F && code <= 0x9F) && code != 0x2028,
                 qPrintable(QString::number(code, 16)));
    }
    QVERIFY2(line.contains(QStringLiteral("unknown key \"x\\nRemote command: ")), qPrintable(line));
    QCOMPARE(logLine("{\"id\":\"\x1b]0;x\x07\"}", 0, 0xDD00,
                     QStringLiteral("a\nb\x1b[2J\u0085\u2028c\td")),
             QStringLiteral("Remote command: module 0xDD00 channel A {\"id\":\"\\x1b]0;x\\x07\"}: "
                            "refused, invalid: a\\nb\\x1b[2J\\x85\\u2028c\\td"));
}

QTEST_APPLESS_MAIN(TestMqttLogic)
#include "tst_mqttlogic.moc"
