// The attached panel's fetch of a service's stored trend: answers read back into ticks of
// register words, refusals and answers that cannot be read, the service's own answers read back
// under every resolution, and the ticks of both channels joined in front of the live ones.
#include "fetchedhistory.h"

#include "historyanswer.h"
#include "payloads.h"

#include <QDebug>
#include <QRegularExpression>
#include <QtTest>

#include <vector>

using namespace Brelk;

Q_DECLARE_METATYPE(Brelk::ResolutionSelection)
Q_DECLARE_METATYPE(Brelk::FetchedRecord)
using Records = std::vector<Brelk::FetchedRecord>;
Q_DECLARE_METATYPE(Records)

namespace {

const qint64 T0 = 1767225600000; // 2026-01-01 00:00:00 UTC

// "ms-after-T0 until-after-T0 vmeas vset imeas" of the record's channel, one text a record.
QStringList texts(const Records &records)
{
    QStringList out;
    for (const FetchedRecord &r : records) {
        const int ch = r.channel;
        out << QStringLiteral("%1 %2 %3 %4 %5")
                   .arg(r.reading.time - T0)
                   .arg(r.until - T0)
                   .arg(r.reading.vmeas[ch])
                   .arg(r.reading.vset[ch])
                   .arg(r.reading.imeas[ch]);
    }
    return out;
}

// An answer of `head` and the quantities' min, max and last arrays, apart by spaces or one for all.
QByteArray
answer(const QByteArray &vmeas, const QByteArray &vset, const QByteArray &imeas,
       const QByteArray &head = R"("channel":"b","start":1767225600000,"ms_per_column":1000)")
{
    QByteArray json = '{' + head;
    const char *const names[] = {"vmeas", "vset", "imeas"};
    int q = 0;
    for (const QByteArray &quantity : {vmeas, vset, imeas}) {
        QList<QByteArray> arrays = quantity.split(' ');
        while (arrays.size() < 3)
            arrays << arrays.first();
        json += ",\"" + QByteArray(names[q++]) + "\":{\"min\":" + arrays[0] +
                ",\"max\":" + arrays[1] + ",\"last\":" + arrays[2] + '}';
    }
    return json + '}';
}

FetchedRecord record(int channel, qint64 ms, qint64 untilMs, quint16 vmeas)
{
    FetchedRecord r;
    r.channel = channel;
    r.reading.time = T0 + ms;
    r.until = T0 + untilMs;
    r.reading.vmeas[channel] = vmeas;
    return r;
}

} // namespace

class TestFetchedHistory : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void serviceAnswersReadBack_data();
    void serviceAnswersReadBack();
    void joined_data();
    void joined();
    void asks();
};

// Answers for channel B under 1 V / 1 nA, 1000 ms a column from T0.
void TestFetchedHistory::answers_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<QString>("debug"); // a debug line that must be printed; empty: none

    QTest::newRow("a column of three ticks, a column of one")
        << answer("[10,7] [12,7] [11,7]", "[20,20]", "[5e-09,3e-09] [8e-09,3e-09] [6e-09,3e-09]")
        << true
        << QStringList{"0 1000 10 20 5", "333 1000 12 20 8", "666 1000 11 20 6", "1000 2000 7 20 3"}
        << QString();
    QTest::newRow("columns without a tick are gaps")
        << answer("[null,4,null]", "[null,9,null]", "[null,1e-09,null]") << true
        << QStringList{"1000 2000 4 9 1"} << QString();
    const auto refused = [](const char *name, const QByteArray &payload,
                            const QString &debug =
                                QStringLiteral("History answer not understood")) {
        QTest::newRow(name) << payload << false << QStringList() << debug;
    };
    refused("a refusal", R"({"error":"busy","message":"more than 5 requests a second"})",
            "History request refused: busy more than 5 requests a second");
    refused("not JSON", "busy");
    refused("no column width", answer("[]", "[]", "[]", R"("channel":"b","start":1767225600000)"));
    refused(
        "the other channel",
        answer("[]", "[]", "[]", R"("channel":"a","start":1767225600000,"ms_per_column":1000)"));
    refused("arrays of different lengths", answer("[1]", "[1] [1] [1,2]", "[1e-09]"));
    refused("a value no word holds", answer("[-1] [1] [1]", "[1]", "[1e-09]"));
    refused("a column partly empty", answer("[null] [1] [1]", "[1]", "[1e-09]"));
}

void TestFetchedHistory::answers()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, read);
    QFETCH(QStringList, records);
    QFETCH(QString, debug);
    if (!debug.isEmpty())
        QTest::ignoreMessage(
            QtDebugMsg, QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(debug)));
    Records found{record(1, 0, 0, 99)};
    QCOMPARE(fetchedRecords(payload, 1, ResolutionSelection{false, CurrentResolution::nA1}, &found),
             read);
    if (read)
        QCOMPARE(texts(found), records);
    else
        QCOMPARE(int(found.size()), 1); // left as it was
}

// The service's store answers for one-tick columns; the words read back are the stored words,
// under the selection they decode by, for each resolution.
void TestFetchedHistory::serviceAnswersReadBack_data()
{
    QTest::addColumn<ResolutionSelection>("selection");
    QTest::addColumn<int>("vmeas");
    QTest::addColumn<int>("vset");
    QTest::addColumn<int>("imeas");

    QTest::newRow("1 V, 1 uA") << ResolutionSelection{false, CurrentResolution::uA1} << 3001 << 3000
                               << 1234;
    QTest::newRow("100 mV, 100 nA")
        << ResolutionSelection{true, CurrentResolution::nA100} << 30017 << 3002 << 4097;
    QTest::newRow("1 V, 10 nA") << ResolutionSelection{false, CurrentResolution::nA10} << 65535
                                << 65535 << 65535;
    QTest::newRow("100 mV, 1 nA") << ResolutionSelection{true, CurrentResolution::nA1} << 12347 << 1
                                  << 7;
    QTest::newRow("100 mV, 1 nA, large")
        << ResolutionSelection{true, CurrentResolution::nA1} << 65533 << 4000 << 54321;
}

void TestFetchedHistory::serviceAnswersReadBack()
{
    QFETCH(ResolutionSelection, selection);
    QFETCH(int, vmeas);
    QFETCH(int, vset);
    QFETCH(int, imeas);

    SampleStore store(100);
    std::vector<Reading> stored;
    for (int i = 0; i < 3; ++i) {
        Reading reading;
        reading.time = T0 + 100 * i + 50;
        reading.fineVoltage = selection.fineVoltage;
        reading.currentResolution = selection.currentResolution;
        reading.vmeas[0] = quint16(vmeas - i);
        reading.vset[0] = quint16(vset);
        reading.imeas[0] = quint16(imeas - 2 * i);
        store.append(reading, 100 * i + 50);
        stored.push_back(reading);
    }
    HistoryRequest request;
    request.spanSeconds = 1;
    request.columns = 10;
    Records records;
    QVERIFY(fetchedRecords(compactJson(historyAnswer(store, request, T0)), 0, selection, &records));
    QCOMPARE(int(records.size()), 3);
    for (int i = 0; i < 3; ++i) {
        const Reading &back = records[i].reading;
        QCOMPARE(back.time, T0 + 100 * i);
        QCOMPARE(records[i].until, T0 + 100 * i + 100);
        QCOMPARE(back.vmeas[0], stored[i].vmeas[0]);
        QCOMPARE(back.vset[0], stored[i].vset[0]);
        QCOMPARE(back.imeas[0], stored[i].imeas[0]);
        QCOMPARE(selectionOf(back), selection);
    }
}

// Records "channel ms until vmeas"; the joined ticks "ms vmeasA vmeasB".
void TestFetchedHistory::joined_data()
{
    QTest::addColumn<Records>("coarse");
    QTest::addColumn<Records>("fine");
    QTest::addColumn<qint64>("firstLive");
    QTest::addColumn<QStringList>("ticks");

    QTest::newRow("both channels in one tick, a channel keeps its words until its next")
        << Records{} << Records{record(1, 0, 100, 5), record(0, 0, 100, 1), record(0, 100, 200, 2)}
        << T0 + 1000 << QStringList{"0 1 5", "100 2 5"};
    QTest::newRow("spans fetched twice overlap: each tick once")
        << Records{}
        << Records{record(0, 100, 200, 2), record(0, 200, 300, 3), record(0, 0, 100, 1),
                   record(0, 100, 200, 2)}
        << T0 + 1000 << QStringList{"0 1 0", "100 2 0", "200 3 0"};
    QTest::newRow("coarse columns only where they end by the first fine tick")
        << Records{record(0, -20000, -10000, 7), record(0, -10000, 0, 8), record(0, 0, 10000, 9)}
        << Records{record(0, -5000, -4900, 1)} << T0 + 1000
        << QStringList{"-20000 7 0", "-5000 1 0"};
    QTest::newRow("nothing whose column ends after the first live tick")
        << Records{}
        << Records{record(0, 0, 100, 1), record(0, 100, 200, 2), record(1, 100, 200, 6)} << T0 + 150
        << QStringList{"0 1 0"};
}

void TestFetchedHistory::joined()
{
    QFETCH(Records, coarse);
    QFETCH(Records, fine);
    QFETCH(qint64, firstLive);
    const ResolutionSelection selection{true, CurrentResolution::nA10};
    QStringList found;
    for (const Reading &tick : joinFetched(coarse, fine, selection, firstLive)) {
        QCOMPARE(selectionOf(tick), selection);
        found
            << QStringLiteral("%1 %2 %3").arg(tick.time - T0).arg(tick.vmeas[0]).arg(tick.vmeas[1]);
    }
    QTEST(found, "ticks");
}

// The fine spans tile the last hour at 100 ms a column, each channel alike; the day follows.
void TestFetchedHistory::asks()
{
    int fineSeconds[2] = {0, 0};
    int coarse[2] = {0, 0};
    for (const HistoryAsk &ask : historyAsks()) {
        HistoryRequest parsed;
        QCOMPARE(parseHistoryRequest(historyAskPayload(ask), &parsed), QString());
        QCOMPARE(parsed.beforeSeconds, ask.beforeSeconds);
        if (ask.fine) {
            QCOMPARE(ask.spanSeconds * 1000 / ask.columns, 100);
            QCOMPARE(ask.beforeSeconds, fineSeconds[ask.channel]);
            fineSeconds[ask.channel] += ask.spanSeconds;
        } else {
            QCOMPARE(parsed.spanSeconds, HistoryRequest::MaxSpanSeconds);
            ++coarse[ask.channel];
        }
    }
    for (int ch = 0; ch < 2; ++ch) {
        QVERIFY(fineSeconds[ch] >= 3600);
        QCOMPARE(coarse[ch], 1);
    }
}

QTEST_GUILESS_MAIN(TestFetchedHistory)
#include "tst_fetchedhistory.moc"
