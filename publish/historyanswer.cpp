#include "historyanswer.h"

#include "columnreduction.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <vector>

namespace Brelk {

namespace {

// An integral JSON number in [low, high].
bool wholeNumber(const QJsonValue &value, int low, int high, int *out)
{
    const double number = value.toDouble(std::nan(""));
    if (!value.isDouble() || number != std::floor(number) || number < low || number > high)
        return false;
    *out = int(number);
    return true;
}

// The double nearest to the shortest decimal that reads back as `value`, so that the JSON text
// holds at most nine significant digits instead of the seventeen of the float widened as it is.
double shortest(float value)
{
    for (int digits = 1; digits < 9; ++digits) {
        const QByteArray text = QByteArray::number(double(value), 'g', digits);
        if (text.toFloat() == value)
            return text.toDouble();
    }
    return QByteArray::number(double(value), 'g', 9).toDouble();
}

} // namespace

QString parseHistoryRequest(const QByteArray &payload, HistoryRequest *request)
{
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isObject())
        return QStringLiteral("not a JSON object");
    const QJsonObject object = document.object();
    HistoryRequest parsed;
    if (!wholeNumber(object.value(QLatin1String("span")), 1, HistoryRequest::MaxSpanSeconds,
                     &parsed.spanSeconds))
        return QStringLiteral("\"span\" is not a whole number of seconds from 1 to %1")
            .arg(HistoryRequest::MaxSpanSeconds);
    if (!wholeNumber(object.value(QLatin1String("columns")), 1, HistoryRequest::MaxColumns,
                     &parsed.columns))
        return QStringLiteral("\"columns\" is not a whole number from 1 to %1")
            .arg(HistoryRequest::MaxColumns);
    const QJsonValue before = object.value(QLatin1String("before"));
    const int mostBefore = HistoryRequest::MaxSpanSeconds - parsed.spanSeconds;
    if (!before.isUndefined() && !wholeNumber(before, 0, mostBefore, &parsed.beforeSeconds))
        return QStringLiteral("\"before\" is not a whole number of seconds from 0 to %1")
            .arg(mostBefore);
    const QJsonValue channel = object.value(QLatin1String("channel"));
    if (channel == QJsonValue(QStringLiteral("a")))
        parsed.channel = 0;
    else if (channel == QJsonValue(QStringLiteral("b")))
        parsed.channel = 1;
    else
        return QStringLiteral("\"channel\" is neither \"a\" nor \"b\"");
    *request = parsed;
    return QString();
}

QJsonObject historyAnswer(const SampleStore &store, const HistoryRequest &request, qint64 nowMs)
{
    const double msPerColumn = double(request.spanSeconds) * 1000.0 / request.columns;
    const qint64 newest = (store.isEmpty() ? nowMs : store.time(store.end() - 1)) -
                          qint64(request.beforeSeconds) * 1000;
    const qint64 firstColumn =
        qint64(std::floor(double(newest) / msPerColumn)) + 1 - request.columns;
    const double start = double(firstColumn) * msPerColumn;
    std::vector<Column> columns(size_t(request.columns));
    reduceColumns(store, start, msPerColumn, columns.data(), request.columns);

    QJsonObject answer;
    answer.insert(QStringLiteral("channel"),
                  request.channel == 0 ? QStringLiteral("a") : QStringLiteral("b"));
    answer.insert(QStringLiteral("span"), request.spanSeconds);
    answer.insert(QStringLiteral("columns"), request.columns);
    answer.insert(QStringLiteral("start"), double(columnStart(start, msPerColumn, 0)));
    answer.insert(QStringLiteral("ms_per_column"), msPerColumn);
    const struct
    {
        const char *key;
        Series series;
    } quantities[] = {{"vmeas", vmeasSeries(request.channel)},
                      {"vset", vsetSeries(request.channel)},
                      {"imeas", imeasSeries(request.channel)}};
    for (const auto &quantity : quantities) {
        QJsonArray minimum, maximum, last;
        for (const Column &column : columns) {
            if (column.isEmpty()) {
                for (QJsonArray *array : {&minimum, &maximum, &last})
                    array->append(QJsonValue(QJsonValue::Null));
                continue;
            }
            minimum.append(shortest(column.extent.minimum[quantity.series]));
            maximum.append(shortest(column.extent.maximum[quantity.series]));
            last.append(shortest(column.last[quantity.series]));
        }
        answer.insert(QLatin1String(quantity.key), QJsonObject{{QStringLiteral("min"), minimum},
                                                               {QStringLiteral("max"), maximum},
                                                               {QStringLiteral("last"), last}});
    }
    return answer;
}

QJsonObject historyRefusal(const QString &error, const QString &message)
{
    QJsonObject refusal{{QStringLiteral("error"), error}};
    if (!message.isEmpty())
        refusal.insert(QStringLiteral("message"), message);
    return refusal;
}

} // namespace Brelk
