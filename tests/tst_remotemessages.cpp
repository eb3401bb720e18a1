// What a panel attached through the broker rebuilds from a service's messages: the channel
// documents decoded back into the tick they were published from, refusals of documents that would
// give a wrong reading, the history requests and their answers, also through a real broker.
#include "broker.h"
#include "historyanswer.h"
#include "mqttpublisher.h"
#include "mqttsettings.h"
#include "payloads.h"
#include "readinghistory.h"
#include "remotecommand.h"
#include "remotereading.h"
#include "schedule.h"
#include "ticks.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>

using namespace Brelk;

Q_DECLARE_METATYPE(Brelk::ResolutionSelection)

namespace {

// The document of `channel` as the publisher sends it for `reading`, stale when asked.
QByteArray publishedDocument(const Reading &reading, int channel, quint16 latched, bool stale)
{
    ChannelSchedule schedule(channel);
    QJsonObject message;
    schedule.takeReading(reading, latched, &message);
    if (stale)
        schedule.takeStale(&message);
    return compactJson(message);
}

} // namespace

class TestRemoteMessages : public QObject
{
    Q_OBJECT

private slots:
    void addedKeys_data();
    void addedKeys();
    void channelRoundTrip_data();
    void channelRoundTrip();
    void channelDocumentEdits_data();
    void channelDocumentEdits();
    void moduleDocuments_data();
    void moduleDocuments();
    void historyRequests_data();
    void historyRequests();
    void historyColumns_data();
    void historyColumns();
    void historyThroughTheBroker();
    void dialogWritesThroughTheService_data();
    void dialogWritesThroughTheService();
};

// The keys a channel's document gained, word for word, beside the keys it always had, which keep
// their values.
void TestRemoteMessages::addedKeys_data()
{
    QTest::addColumn<Reading>("reading");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("latched");
    QTest::addColumn<QByteArray>("added");

    QTest::newRow("A at 1 V, 1 uA, no second range")
        << baseReading() << 0 << int(EventTRP | (EventILIM << 8))
        << QByteArray(R"({"latched":"0002","resolution":["1V","1uA","none"],
            "words":{"00":"0064","04":"03e8","0c":"0032","14":"03e7","1c":"0007","24":"00a5",
            "30":"0000","3c":"2101","44":"0014","46":"0000"}})");
    Reading fine = baseReading();
    fine.fineVoltage = true;
    fine.currentResolution = CurrentResolution::nA100;
    fine.secondRange = SecondRange::pA100;
    fine.vmeas[1] = 0xABCD;
    fine.imeas2[1] = 0x0102;
    fine.events = quint16(EventQUA | (EventVLIM << 8));
    QTest::newRow("B at 100 mV, 100 nA, 100 pA second range")
        << fine << 1 << int(EventTRP | (EventILIM << 8))
        << QByteArray(R"({"latched":"4000","resolution":["100mV","100nA","100pA"],
            "words":{"00":"0400","08":"01f4","10":"0019","1a":"abcd","20":"0005","28":"03ff",
            "2a":"0102","30":"1000","3c":"2101","48":"0000","4a":"0003"}})");
    fine.secondRange = SecondRange::nA1;
    QTest::newRow("B with a 1 nA second range")
        << fine << 1 << 0 << QByteArray(R"({"latched":"0000","resolution":["100mV","100nA","1nA"],
            "words":{"00":"0400","08":"01f4","10":"0019","1a":"abcd","20":"0005","22":"0102",
            "28":"03ff","30":"1000","3c":"2101","48":"0000","4a":"0003"}})");
}

void TestRemoteMessages::addedKeys()
{
    QFETCH(Reading, reading);
    QFETCH(int, channel);
    QFETCH(int, latched);
    QFETCH(QByteArray, added);

    QJsonObject published = parse(publishedDocument(reading, channel, quint16(latched), false));
    const QJsonObject always = parse(
        compactJson(channelPayload(reading, channel, channelByte(reading.events, channel), false)));
    for (auto key = always.begin(); key != always.end(); ++key)
        QCOMPARE(published.take(key.key()), key.value());
    QCOMPARE(published, parse(added));
}

void TestRemoteMessages::channelRoundTrip_data()
{
    QTest::addColumn<Reading>("reading");
    QTest::addColumn<int>("latched");
    QTest::addColumn<bool>("stale");

    QTest::newRow("1 V, 1 uA, no second range, steady") << baseReading() << 0 << false;

    // A red alarm on A (an error state, a latched trip and current limit the module no longer
    // reports), a kill enable and HV off on B, the module's own events of the tick on both.
    Reading alarms = baseReading();
    alarms.status = quint16(StatusError | StatusPositive |
                            ((StatusHvOff | StatusKillEnable | StatusManual) << 8));
    alarms.events = quint16(EventQUA | (EventVLIM << 8));
    QTest::newRow("alarms and latched events")
        << alarms << int(EventTRP | EventILIM | EventQUA | ((EventINH | EventVLIM) << 8)) << false;

    Reading fine = baseReading();
    fine.fineVoltage = true;
    fine.currentResolution = CurrentResolution::nA10;
    fine.secondRange = SecondRange::nA1;
    fine.vmeas[0] = 12345;
    fine.vmeas[1] = 65535;
    fine.imeas2[0] = 3;
    fine.imeas2[1] = 0xBEEF;
    fine.softLimitI2[0] = 250;
    QTest::newRow("100 mV, 10 nA, 1 nA second range") << fine << 0 << false;

    Reading pico = fine;
    pico.currentResolution = CurrentResolution::nA1;
    pico.secondRange = SecondRange::pA100;
    pico.time = T0 + 86399999;
    QTest::newRow("100 pA second range, stale, latched trip")
        << pico << int(EventTRP | (EventTRP << 8)) << true;

    Reading extremes;
    extremes.time = T0;
    extremes.serialNumber = 0xFFFE;
    for (int ch = 0; ch < 2; ++ch) {
        extremes.vset[ch] = extremes.ramp[ch] = extremes.vmeas[ch] = extremes.imeas[ch] = 0xFFFF;
        extremes.limits[ch] = extremes.softLimitI[ch] = extremes.softLimitI2[ch] = 0xFFFF;
    }
    extremes.status = extremes.events = 0xFFFF;
    extremes.currentResolution = CurrentResolution::nA100;
    QTest::newRow("every word at its largest, 1 V") << extremes << 0xFFFF << false;
}

// Each channel's document gives its own part of the tick and nothing of the other's; both merged
// give the tick back, word for word, with the service's latch.
void TestRemoteMessages::channelRoundTrip()
{
    QFETCH(Reading, reading);
    QFETCH(int, latched);
    QFETCH(bool, stale);

    Reading merged;
    merged.status = merged.events = 0x5A5A; // overwritten byte by byte
    quint16 mergedLatch = 0x5A5A;
    for (int ch = 0; ch < 2; ++ch) {
        RemoteChannel channel;
        QVERIFY(decodeChannelMessage(publishedDocument(reading, ch, quint16(latched), stale), ch,
                                     &channel));
        QCOMPARE(channel.stale, stale);
        const quint16 own = ch == 0 ? 0x00FF : 0xFF00;
        QCOMPARE(channel.latched, quint16(latched & own));
        QCOMPARE(channel.reading.status, quint16(reading.status & own));
        QCOMPARE(channel.reading.events, quint16(reading.events & own));
        const int other = 1 - ch;
        QCOMPARE(channel.reading.vset[other], quint16(0));
        QCOMPARE(channel.reading.vmeas[other], quint16(0));
        QCOMPARE(channel.reading.limits[other], quint16(0));
        mergeChannel(channel, ch, &merged, &mergedLatch);
    }
    QCOMPARE(merged.time, reading.time);
    QCOMPARE(tickWords(merged), tickWords(reading));
    QCOMPARE(mergedLatch, quint16(latched));
}

// A valid document of channel A of the "100 mV, 1 nA second range" kind, changed by `edit`
// (key=JSON value, key=- removes it, words.key=... inside "words", "!text" replaces it all,
// "<text" goes in before the last brace, ">text" after it), is refused for the reason given; keys
// that are merely extra change nothing: the reading is the one published.
void TestRemoteMessages::channelDocumentEdits_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("reason"); // empty: read as published

    const auto row = [](const char *name, const char *edit, const char *reason) {
        QTest::newRow(name) << QString::fromLatin1(edit) << QString::fromLatin1(reason);
    };
    row("not JSON", "!{", "not a JSON object");
    row("no words", "words=-", "\"words\" is not an object");
    row("fine measured voltage missing", "words.16=-", "the word of register 0x16 is missing");
    row("three digits", "words.04=\"3e8\"", "0x04 is not four hexadecimal");
    row("a number", "words.04=1000", "0x04 is not four hexadecimal");
    row("not hexadecimal", "words.04=\"03g8\"", "0x04 is not four hexadecimal");
    row("upper-case offset only", "words.3c=-;words.3C=\"2101\"", "register 0x3c is missing");
    row("no resolution", "resolution=-", "\"resolution\" is not three");
    row("unknown voltage resolution", "resolution=[\"10mV\",\"1uA\",\"1nA\"]",
        "\"resolution\" is not three");
    // The words were read under 100 mV: under 1 V the coarse register's word is missing.
    row("resolution that does not match the words", "resolution=[\"1V\",\"1uA\",\"1nA\"]",
        "register 0x14 is missing");
    row("no latch", "latched=-", "\"latched\" is not four");
    row("no time", "time=-", "\"time\" is not an ISO 8601 time");
    row("time not a date", "time=\"yesterday\"", "\"time\" is not an ISO");
    row("no stale flag", "stale=-", "\"stale\" is not true or false");

    // The document's own text, as no JSON writer makes it.
    row("the words given twice: the last count", "<,\"words\":{}", "is missing");
    row("text after the object", ">x", "not a JSON object");
    row("a number no double holds", "<,\"later\":[1e999]", "not a JSON object");
    row("a comma before a brace", "<,\"later\":{\"x\":1,}", "not a JSON object");
    row("a byte that is not UTF-8", "<,\"later\":\"\xff\"", "not a JSON object");

    row("a key of a newer service", "future={\"x\":[1,2]}", "");
    row("a register the tick does not need", "words.14=\"zzzz\"", "");
    row("the other channel's word", "words.08=\"ffff\"", "");
    row("without the values a subscriber reads",
        "vset=-;vmeas=-;imeas=-;imeas2=-;ramp=-;state=-;hv=-;events=-", "");
    row("values that disagree with the words", "vset=1;state=\"Error\"", "");
}

namespace {

QByteArray editedDocument(const QByteArray &document, const QString &edit)
{
    if (edit.isEmpty())
        return document;
    if (edit.startsWith(QLatin1Char('!')))
        return edit.mid(1).toUtf8();
    if (edit.startsWith(QLatin1Char('<')) || edit.startsWith(QLatin1Char('>'))) {
        const int brace = document.lastIndexOf('}') + (edit.startsWith(QLatin1Char('>')) ? 1 : 0);
        return QByteArray(document).insert(brace, edit.mid(1).toLatin1());
    }
    QJsonObject message = parse(document);
    for (const QString &change : edit.split(QLatin1Char(';'))) {
        const int equals = change.indexOf(QLatin1Char('='));
        QString key = change.left(equals);
        const QString value = change.mid(equals + 1);
        QJsonObject words = message.value(QLatin1String("words")).toObject();
        const bool inWords = key.startsWith(QLatin1String("words."));
        QJsonObject &target = inWords ? words : message;
        if (inWords)
            key = key.mid(6);
        if (value == QLatin1String("-"))
            target.remove(key);
        else
            target.insert(key, QJsonDocument::fromJson("[" + value.toUtf8() + "]").array().at(0));
        if (inWords)
            message.insert(QStringLiteral("words"), words);
    }
    return compactJson(message);
}

Reading fineReading()
{
    Reading reading = baseReading();
    reading.fineVoltage = true;
    reading.secondRange = SecondRange::nA1;
    reading.imeas2[0] = 42;
    return reading;
}

} // namespace

void TestRemoteMessages::channelDocumentEdits()
{
    QFETCH(QString, edit);
    QFETCH(QString, reason);
    const Reading reading = fineReading();
    const QByteArray document =
        editedDocument(publishedDocument(reading, 0, EventTRP, false), edit);
    RemoteChannel channel;
    if (!reason.isEmpty()) {
        QTest::ignoreMessage(QtDebugMsg,
                             QRegularExpression(QStringLiteral("^Attached: a message refused: .*") +
                                                QRegularExpression::escape(reason)));
        channel.latched = 0x1234;
        QVERIFY(!decodeChannelMessage(document, 0, &channel));
        QCOMPARE(channel.latched, quint16(0x1234)); // left as it was
        return;
    }
    QVERIFY(decodeChannelMessage(document, 0, &channel));
    Reading merged;
    quint16 latched = 0;
    mergeChannel(channel, 0, &merged, &latched);
    QCOMPARE(latched, quint16(EventTRP));
    QCOMPARE(merged.vset[0], reading.vset[0]);
    QCOMPARE(merged.vmeas[0], reading.vmeas[0]);
    QCOMPARE(merged.imeas2[0], reading.imeas2[0]);
    QCOMPARE(merged.status, quint16(reading.status & 0xFF));
    QCOMPARE(merged.vset[1], quint16(0));
}

void TestRemoteMessages::moduleDocuments_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("reason"); // empty: accepted
    QTest::addColumn<bool>("hasModule");
    QTest::addColumn<int>("serial");
    QTest::addColumn<QString>("selection");
    QTest::addColumn<bool>("commands");

    const QByteArray rest = R"("base_address":"0xDD00","bridge":"Wiener VM-USB",
        "version":"1.0.0.0","host":"crate-pc-1","instance":"crate-pc-1:812:1765000000000")";
    const auto doc = [&rest](const char *keys) {
        return "{" + QByteArray(keys) + "," + rest + "}";
    };
    QTest::newRow("commands on, fine options, a name")
        << doc(R"("serial":"abcd","voltage_resolution":"100mV","current_resolution":"1nA",
               "second_range":"100pA","commands":true,"name":"Drift chamber")")
        << "" << true << 0xABCD << "100mV / 1nA / 100pA" << true;
    QTest::newRow("no module answers, further keys")
        << doc(R"("serial":null,"voltage_resolution":"1V","current_resolution":"1uA",
               "second_range":"none","commands":false,"vset_max_a":1500,"later":{})")
        << "" << false << 0 << "1V / 1uA / none" << false;
    QTest::newRow("serial not hexadecimal")
        << doc(R"("serial":"21x1","voltage_resolution":"1V","current_resolution":"1uA",
               "second_range":"none","commands":false)")
        << "\"serial\" is not a hexadecimal" << false << 0 << "" << false;
    QTest::newRow("unknown current resolution")
        << doc(R"("serial":"2101","voltage_resolution":"1V","current_resolution":"1mA",
               "second_range":"none","commands":false)")
        << "a resolution is missing or unknown" << false << 0 << "" << false;
    QTest::newRow("no commands key, as an older service")
        << doc(R"("serial":"2101","voltage_resolution":"1V","current_resolution":"1uA",
               "second_range":"none")")
        << "\"commands\" is not true or false" << false << 0 << "" << false;
    QTest::newRow("no host")
        << QByteArray(R"({"serial":"2101","voltage_resolution":"1V","current_resolution":"1uA",
               "second_range":"none","commands":true})")
        << "\"host\" is missing" << false << 0 << "" << false;
}

void TestRemoteMessages::moduleDocuments()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, reason);
    RemoteModule module;
    if (!reason.isEmpty()) {
        QTest::ignoreMessage(
            QtDebugMsg, QRegularExpression(QStringLiteral("^Attached: module message refused: ") +
                                           QRegularExpression::escape(reason)));
        QVERIFY(!decodeModuleMessage(document, &module));
        return;
    }
    QFETCH(bool, hasModule);
    QVERIFY(decodeModuleMessage(document, &module));
    QCOMPARE(module.hasModule, hasModule);
    QTEST(int(module.serialNumber), "serial");
    QTEST(selectionText(module.selection), "selection");
    QTEST(module.commands, "commands");
    QCOMPARE(module.host, QStringLiteral("crate-pc-1"));
    QCOMPARE(module.baseAddress, 0xDD00u);
    QCOMPARE(module.name, QString(hasModule ? "Drift chamber" : ""));
}

void TestRemoteMessages::historyRequests_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("problem");    // a part of it; empty: accepted
    QTest::addColumn<QList<int>>("request"); // channel, span, columns, before

    const auto taken = [](const char *name, const char *payload, int channel, int span, int columns,
                          int before) {
        QTest::newRow(name) << QByteArray(payload) << QString()
                            << QList<int>{channel, span, columns, before};
    };
    const auto refused = [](const char *name, const char *payload, const char *problem) {
        QTest::newRow(name) << QByteArray(payload) << QString::fromLatin1(problem) << QList<int>();
    };
    taken("a day of channel B", R"({"span":86400,"channel":"b","columns":800})", 1, 86400, 800, 0);
    taken("one second, one column, further keys", R"({"span":1,"channel":"a","columns":1,"id":7})",
          0, 1, 1, 0);
    taken("the most columns", R"({"span":60,"channel":"a","columns":4096})", 0, 60, 4096, 0);
    taken("before, to the day's start",
          R"({"span":400,"channel":"a","columns":4000,"before":86000})", 0, 400, 4000, 86000);
    refused("not JSON", "span=60", "not a JSON object");
    refused("span 0", R"({"span":0,"channel":"a","columns":10})", "\"span\"");
    refused("more than a day", R"({"span":86401,"channel":"a","columns":10})", "\"span\"");
    refused("a fraction of a second", R"({"span":1.5,"channel":"a","columns":10})", "\"span\"");
    refused("too many columns", R"({"span":60,"channel":"a","columns":4097})", "\"columns\"");
    refused("channel C", R"({"span":60,"channel":"c","columns":10})", "\"channel\"");
    refused("before, beyond the day", R"({"span":400,"channel":"a","columns":4000,"before":86001})",
            "\"before\"");
    refused("before, negative", R"({"span":400,"channel":"a","columns":4000,"before":-1})",
            "\"before\"");
}

void TestRemoteMessages::historyRequests()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, problem);
    HistoryRequest request;
    const QString found = parseHistoryRequest(payload, &request);
    if (!problem.isEmpty()) {
        QVERIFY2(found.contains(problem), qPrintable(found));
        return;
    }
    QVERIFY2(found.isEmpty(), qPrintable(found));
    QTEST(
        (QList<int>{request.channel, request.spanSeconds, request.columns, request.beforeSeconds}),
        "request");
}

// Ticks every 100 ms from T0 (at T0 + ms, with channel B's words given, channel A's different);
// the span ends with the column of the newest tick. Per column of the quantity: "min max last",
// or "-" for a column without a tick.
void TestRemoteMessages::historyColumns_data()
{
    QTest::addColumn<QList<qint64>>("offsets");
    QTest::addColumn<QList<int>>("vmeasB");
    QTest::addColumn<int>("span");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("before");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<QStringList>("vmeas");
    QTest::addColumn<QStringList>("imeas"); // channel B's current: vmeasB counts at 1 nA

    QTest::newRow("three columns of a second")
        << QList<qint64>{0, 100, 900, 1000, 1500, 2000, 2900} << QList<int>{5, 9, 1, 4, 3, 8, 2}
        << 3 << 3 << 0 << T0 << QStringList{"1 9 1", "3 4 3", "2 8 2"}
        << QStringList{"1e-09 9e-09 1e-09", "3e-09 4e-09 3e-09", "2e-09 8e-09 2e-09"};
    QTest::newRow("an empty column, and older ticks left out")
        << QList<qint64>{0, 1100, 3100, 4000} << QList<int>{77, 6, 7, 65535} << 4 << 4 << 0
        << T0 + 1000 << QStringList{"6 6 6", "-", "7 7 7", "65535 65535 65535"}
        << QStringList{"6e-09 6e-09 6e-09", "-", "7e-09 7e-09 7e-09",
                       "6.5535e-05 6.5535e-05 6.5535e-05"};
    QTest::newRow("a span ending a second before the newest tick")
        << QList<qint64>{0, 1100, 3100, 4000} << QList<int>{77, 6, 7, 65535} << 3 << 3 << 1
        << T0 + 1000 << QStringList{"6 6 6", "-", "7 7 7"}
        << QStringList{"6e-09 6e-09 6e-09", "-", "7e-09 7e-09 7e-09"};
}

namespace {

QStringList columnTexts(const QJsonObject &quantity)
{
    const QJsonArray minimum = quantity.value(QLatin1String("min")).toArray();
    const QJsonArray maximum = quantity.value(QLatin1String("max")).toArray();
    const QJsonArray last = quantity.value(QLatin1String("last")).toArray();
    QStringList texts;
    for (int c = 0; c < minimum.size(); ++c) {
        if (minimum.at(c).isNull() && maximum.at(c).isNull() && last.at(c).isNull()) {
            texts << QStringLiteral("-");
            continue;
        }
        QStringList values;
        for (const QJsonArray *array : {&minimum, &maximum, &last})
            values << QString::fromLatin1(QJsonDocument(QJsonArray{array->at(c)})
                                              .toJson(QJsonDocument::Compact)
                                              .mid(1)
                                              .chopped(1));
        texts << values.join(QLatin1Char(' '));
    }
    return texts;
}

} // namespace

void TestRemoteMessages::historyColumns()
{
    QFETCH(QList<qint64>, offsets);
    QFETCH(QList<int>, vmeasB);
    QFETCH(int, span);
    QFETCH(int, columns);
    QFETCH(int, before);

    SampleStore store(1000);
    for (int i = 0; i < offsets.size(); ++i) {
        Reading reading;
        reading.time = T0 + offsets[i];
        reading.currentResolution = CurrentResolution::nA1;
        reading.vmeas[0] = 1000;
        reading.vmeas[1] = quint16(vmeasB[i]);
        reading.imeas[1] = quint16(vmeasB[i]);
        reading.vset[1] = 1234;
        store.append(reading, offsets[i]);
    }
    const HistoryRequest request{1, span, columns, before};
    // Through the published bytes, as the requester reads them.
    const QJsonObject answer =
        parse(compactJson(historyAnswer(store, request, T0 + offsets.last())));
    QCOMPARE(answer.value(QLatin1String("channel")).toString(), QStringLiteral("b"));
    QCOMPARE(answer.value(QLatin1String("columns")).toInt(), columns);
    QTEST(qint64(answer.value(QLatin1String("start")).toDouble()), "start");
    QCOMPARE(answer.value(QLatin1String("ms_per_column")).toDouble(), span * 1000.0 / columns);
    QTEST(columnTexts(answer.value(QLatin1String("vmeas")).toObject()), "vmeas");
    QTEST(columnTexts(answer.value(QLatin1String("imeas")).toObject()), "imeas");
    for (const QString &column : columnTexts(answer.value(QLatin1String("vset")).toObject()))
        QVERIFY(column == QLatin1String("-") || column == QLatin1String("1234 1234 1234"));
}

// A publisher connected to a real broker answers a history request on its response topic with
// the store's columns, a refused one with why, and one without a response topic not at all.
void TestRemoteMessages::historyThroughTheBroker()
{
    Broker broker;
    QVERIFY(broker.start());
    const QString prefix = QStringLiteral("lab/hv1");
    ReadingHistory history;
    MqttPublisher publisher([] {
        ModuleContext context;
        context.baseAddress = 0xDD00;
        return context;
    });
    publisher.setHistory(&history);
    MqttSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = broker.port;
    settings.topic = prefix;
    Subscriber answers(broker.port, QStringLiteral("panel"));
    publisher.apply(settings);
    QTRY_VERIFY_WITH_TIMEOUT(publisher.state() == MqttState::Connected, 5000);

    // Ticks a second apart, channel B's measured voltage at 100 mV a count.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 running = history.samples().runningTime();
    Reading reading = fineReading();
    for (int i = 0; i < 3; ++i) {
        reading.time = now - 2000 + i * 1000;
        reading.vmeas[1] = quint16(5000 + i);
        history.addEarlierReading(reading, running - 2000 + i * 1000);
    }
    const auto request = [&](const QByteArray &payload, const QString &responseTopic) {
        QStringList options{QStringLiteral("-V"), QStringLiteral("mqttv5")};
        if (!responseTopic.isEmpty())
            options << QStringLiteral("-D") << QStringLiteral("publish")
                    << QStringLiteral("response-topic") << responseTopic;
        return publishLines(broker.port, prefix, QStringLiteral("history/get"), payload, options);
    };
    Message answer;
    QVERIFY(request(R"({"span":3,"channel":"b","columns":3})", QStringLiteral("panel/1")));
    QVERIFY(answers.waitFor(QStringLiteral("1"), any, &answer));
    QCOMPARE(columnTexts(answer.json().value(QLatin1String("vmeas")).toObject()),
             (QStringList{"500 500 500", "500.1 500.1 500.1", "500.2 500.2 500.2"}));

    QVERIFY(request(R"({"span":90000,"channel":"b","columns":3})", QStringLiteral("panel/2")));
    QVERIFY(answers.waitFor(QStringLiteral("2"), any, &answer));
    QCOMPARE(answer.json().value(QLatin1String("error")).toString(), QStringLiteral("invalid"));

    QTest::ignoreMessage(QtDebugMsg,
                         "History request: module 0xDD00: no response topic, not answered");
    QVERIFY(request(R"({"span":3,"channel":"a","columns":3})", QString()));
    QVERIFY(request(R"({"span":3,"channel":"a","columns":1})", QStringLiteral("panel/3")));
    QVERIFY(answers.waitFor(QStringLiteral("3"), any, &answer));
    QCOMPARE(columnTexts(answer.json().value(QLatin1String("vmeas")).toObject()),
             QStringList{"99.9 99.9 99.9"});
    QCOMPARE(answers.messages().size(), 3);
    publisher.stop();
}

// Every value a dialog takes, sent by an attached panel, reaches the bus as the very words the
// local dialog writes: the value in the command reads back, in the service's units and rounding,
// as the same count.
void TestRemoteMessages::dialogWritesThroughTheService_data()
{
    QTest::addColumn<int>("quantity");
    QTest::addColumn<ResolutionSelection>("selection");
    QTest::addColumn<int>("channel");

    const ResolutionSelection plain;
    QTest::newRow("vset A") << int(Quantity::SetVoltage) << plain << 0;
    ResolutionSelection fine;
    fine.fineVoltage = true;
    QTest::newRow("vset B, 100 mV") << int(Quantity::SetVoltage) << fine << 1;
    QTest::newRow("ramp A") << int(Quantity::RampSpeed) << plain << 0;
    for (CurrentResolution resolution : {CurrentResolution::uA1, CurrentResolution::nA100,
                                         CurrentResolution::nA10, CurrentResolution::nA1}) {
        ResolutionSelection selection;
        selection.currentResolution = resolution;
        QTest::newRow(
            qPrintable(QStringLiteral("limit_i B, %1").arg(currentResolutionName(resolution))))
            << int(Quantity::SoftLimitI) << selection << 1;
    }
    for (SecondRange range : {SecondRange::nA1, SecondRange::pA100}) {
        ResolutionSelection selection;
        selection.secondRange = range;
        QTest::newRow(qPrintable(QStringLiteral("limit_i2 A, %1").arg(secondRangeName(range))))
            << int(Quantity::SoftLimitI2) << selection << 0;
    }
}

void TestRemoteMessages::dialogWritesThroughTheService()
{
    QFETCH(int, quantity);
    QFETCH(ResolutionSelection, selection);
    QFETCH(int, channel);
    const auto what = Quantity(quantity);
    const EntryRange range = entryRange(what, selection);
    const double step = std::pow(10.0, -range.decimals);
    RemoteConditions conditions;
    conditions.allowed = true;
    conditions.freshness = CommandFreshness::Current;
    conditions.serialNumber = 0x2101;
    conditions.wallClockMs = QDateTime::currentMSecsSinceEpoch();
    conditions.selection = selection;
    conditions.channel = channel;
    int checked = 0;
    for (int i = 0;; ++i) {
        const double entered =
            heldEntry(qMin(range.minimum + i * step, range.maximum), range.decimals);
        const WriteList local = entryWrites(what, channel, entered, selection);
        const QVector<OutgoingCommand> outgoing = outgoingCommands(local, selection);
        QCOMPARE(outgoing.size(), 1);
        QCOMPARE(outgoing.first().channel, channel);

        const RemoteCommand received = parseRemoteCommand(
            outgoingPayload(outgoing.first().command, conditions.wallClockMs, 0x2101));
        QVERIFY2(received.error.isEmpty(), qPrintable(received.message));
        QCOMPARE(received.serial, QStringLiteral("2101"));
        const RemoteVerdict verdict = judgeRemoteCommand(received, conditions, nullptr, 0);
        QVERIFY2(
            verdict.error.isEmpty(),
            qPrintable(QStringLiteral("%1 %2: %3").arg(entered).arg(range.unit, verdict.message)));
        const WriteList remote = remoteCommandWrites(received, verdict, channel, selection);
        QVERIFY2(remote == local, qPrintable(QStringLiteral("%1 %2").arg(entered).arg(range.unit)));
        ++checked;
        if (entered >= range.maximum || checked >= 5000)
            break;
    }
    QVERIFY(checked > 50);
}

QTEST_GUILESS_MAIN(TestRemoteMessages)
#include "tst_remotemessages.moc"
