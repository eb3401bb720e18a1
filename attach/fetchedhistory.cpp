#include "fetchedhistory.h"

#include "columnreduction.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Brelk {

namespace {

constexpr int FineSpanSeconds = 400;
constexpr int FineSpans = 9;
constexpr int TickMs = 100;

enum Quantity { Vmeas, Vset, Imeas, QuantityCount };
enum Value { Minimum, Maximum, Last, ValueCount };

bool refuse(const QString &why)
{
    qDebug().noquote() << "History answer not understood:" << why;
    return false;
}

// The word whose count times `perCount` is `value`; false when no word is.
bool wordOf(double value, double perCount, quint16 *word)
{
    const double count = std::round(value / perCount);
    if (!(count >= 0 && count <= 65535))
        return false;
    *word = quint16(count);
    return true;
}

} // namespace

std::vector<HistoryAsk> historyAsks()
{
    std::vector<HistoryAsk> asks;
    for (int span = 0; span < FineSpans; ++span) {
        for (int channel = 0; channel < 2; ++channel)
            asks.push_back({channel, FineSpanSeconds, FineSpanSeconds * 1000 / TickMs,
                            span * FineSpanSeconds, true});
    }
    for (int channel = 0; channel < 2; ++channel)
        asks.push_back({channel, 24 * 60 * 60, 4096, 0, false});
    return asks;
}

QByteArray historyAskPayload(const HistoryAsk &ask)
{
    QJsonObject request{
        {QStringLiteral("span"), ask.spanSeconds},
        {QStringLiteral("channel"), ask.channel == 0 ? QStringLiteral("a") : QStringLiteral("b")},
        {QStringLiteral("columns"), ask.columns}};
    if (ask.beforeSeconds != 0)
        request.insert(QStringLiteral("before"), ask.beforeSeconds);
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

bool fetchedRecords(const QByteArray &payload, int channel, const ResolutionSelection &selection,
                    std::vector<FetchedRecord> *records)
{
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isObject())
        return refuse(QStringLiteral("not a JSON object"));
    const QJsonObject answer = document.object();
    if (answer.contains(QLatin1String("error"))) {
        qDebug().noquote() << "History request refused:"
                           << answer.value(QLatin1String("error")).toString()
                           << answer.value(QLatin1String("message")).toString();
        return false;
    }
    if (answer.value(QLatin1String("channel")).toString() !=
        (channel == 0 ? QLatin1String("a") : QLatin1String("b")))
        return refuse(QStringLiteral("not the channel asked for"));
    const QJsonValue startValue = answer.value(QLatin1String("start"));
    const double msPerColumn = answer.value(QLatin1String("ms_per_column")).toDouble();
    if (!startValue.isDouble() || !(msPerColumn > 0))
        return refuse(QStringLiteral("no \"start\" or \"ms_per_column\""));
    const double start = startValue.toDouble();

    const char *const quantities[QuantityCount] = {"vmeas", "vset", "imeas"};
    const char *const values[ValueCount] = {"min", "max", "last"};
    QJsonArray arrays[QuantityCount][ValueCount];
    for (int q = 0; q < QuantityCount; ++q) {
        const QJsonObject quantity = answer.value(QLatin1String(quantities[q])).toObject();
        for (int v = 0; v < ValueCount; ++v) {
            arrays[q][v] = quantity.value(QLatin1String(values[v])).toArray();
            if (arrays[q][v].size() != arrays[0][0].size())
                return refuse(QStringLiteral("the columns of \"%1\" \"%2\" are missing or not as "
                                             "many as the others'")
                                  .arg(QLatin1String(quantities[q]), QLatin1String(values[v])));
        }
    }

    const double perCount[QuantityCount] = {
        selection.fineVoltage ? FineVoltsPerCount : VoltsPerCount, VoltsPerCount,
        amperesPerCount(selection.currentResolution)};
    std::vector<FetchedRecord> found;
    for (int c = 0; c < arrays[0][0].size(); ++c) {
        quint16 words[ValueCount][QuantityCount];
        int present = 0;
        for (int q = 0; q < QuantityCount; ++q) {
            for (int v = 0; v < ValueCount; ++v) {
                const QJsonValue value = arrays[q][v].at(c);
                if (value.isNull())
                    continue;
                if (!value.isDouble() || !wordOf(value.toDouble(), perCount[q], &words[v][q]))
                    return refuse(QStringLiteral("column %1 of \"%2\" is not a value of the "
                                                 "module")
                                      .arg(c)
                                      .arg(QLatin1String(quantities[q])));
                ++present;
            }
        }
        if (present == 0)
            continue;
        if (present != QuantityCount * ValueCount)
            return refuse(QStringLiteral("column %1 is partly empty").arg(c));
        const qint64 from = columnStart(start, msPerColumn, c);
        const qint64 until = columnStart(start, msPerColumn, c + 1);
        const bool oneTick =
            std::equal(&words[Minimum][0], &words[Minimum][QuantityCount], &words[Maximum][0]) &&
            std::equal(&words[Minimum][0], &words[Minimum][QuantityCount], &words[Last][0]);
        for (int v = oneTick ? Last : Minimum; v < ValueCount; ++v) {
            FetchedRecord record;
            record.channel = channel;
            record.until = until;
            // The three ticks of a column lie within it, the last one last.
            record.reading.time = oneTick ? from : from + (until - from) * v / ValueCount;
            record.reading.vmeas[channel] = words[v][Vmeas];
            record.reading.vset[channel] = words[v][Vset];
            record.reading.imeas[channel] = words[v][Imeas];
            record.reading.fineVoltage = selection.fineVoltage;
            record.reading.currentResolution = selection.currentResolution;
            record.reading.secondRange = selection.secondRange;
            found.push_back(record);
        }
    }
    *records = found;
    return true;
}

std::vector<Reading> joinFetched(const std::vector<FetchedRecord> &coarse,
                                 const std::vector<FetchedRecord> &fine,
                                 const ResolutionSelection &selection, qint64 firstLive)
{
    const auto byTime = [](const FetchedRecord &a, const FetchedRecord &b) {
        return a.reading.time < b.reading.time;
    };
    std::vector<FetchedRecord> records = fine;
    std::stable_sort(records.begin(), records.end(), byTime);
    // Spans fetched one after the other overlap by the ticks taken between the requests: their
    // columns lie on the same grid, so a tick fetched twice has the same time and channel.
    records.erase(std::unique(records.begin(), records.end(),
                              [](const FetchedRecord &a, const FetchedRecord &b) {
                                  return a.reading.time == b.reading.time && a.channel == b.channel;
                              }),
                  records.end());
    const qint64 fineFrom =
        records.empty() ? std::numeric_limits<qint64>::max() : records.front().reading.time;
    // A coarse column that ends after the first fine tick holds ticks the fine ones show.
    for (const FetchedRecord &record : coarse) {
        if (record.until <= fineFrom)
            records.push_back(record);
    }
    std::stable_sort(records.begin(), records.end(), byTime);

    std::vector<Reading> ticks;
    Reading tick;
    tick.fineVoltage = selection.fineVoltage;
    tick.currentResolution = selection.currentResolution;
    tick.secondRange = selection.secondRange;
    for (size_t i = 0; i < records.size(); ++i) {
        const FetchedRecord &record = records[i];
        if (record.until > firstLive)
            continue;
        const int ch = record.channel;
        tick.time = record.reading.time;
        tick.vmeas[ch] = record.reading.vmeas[ch];
        tick.vset[ch] = record.reading.vset[ch];
        tick.imeas[ch] = record.reading.imeas[ch];
        if (i + 1 < records.size() && records[i + 1].reading.time == tick.time &&
            records[i + 1].until <= firstLive)
            continue;
        ticks.push_back(tick);
    }
    return ticks;
}

} // namespace Brelk
