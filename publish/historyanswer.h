// The answer to a request on `<prefix>/history/get`: a span of a module's trend store reduced to
// pixel columns as the trend window reduces it, so that a panel attached through the broker plots
// the same minimum, maximum and last value per column as the service's own panel would. Pure
// functions of the request and the store.
#ifndef HISTORYANSWER_H
#define HISTORYANSWER_H

#include "samplestore.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace Brelk {

struct HistoryRequest
{
    static constexpr int MaxSpanSeconds = 24 * 60 * 60;
    // More columns than any screen is wide.
    static constexpr int MaxColumns = 4096;

    int channel = 0;
    int spanSeconds = 0;
    int columns = 0;
    // The span ends this many seconds before the newest record, so that a day can be fetched at
    // full resolution in several spans.
    int beforeSeconds = 0;
};

// {"span": seconds (1 to 86400), "channel": "a" or "b", "columns": 1 to 4096} and optionally
// "before": seconds (0 to 86400 minus the span); further keys are ignored. Empty when the request
// is usable, else why not.
QString parseHistoryRequest(const QByteArray &payload, HistoryRequest *request);

// The span ends with the column that holds the newest record (or now, with none), or the time
// `beforeSeconds` earlier, its columns
// placed on the time axis as the live trend places them. "start" is the first column's start on
// the axis and "ms_per_column" each column's width, both in milliseconds; "vmeas", "vset" and
// "imeas" each hold "min", "max" and "last" arrays of one value per column, null for a column
// without a record. Values are the trend's single-precision ones, written as the shortest
// decimal that reads back as the same value.
QJsonObject historyAnswer(const SampleStore &store, const HistoryRequest &request, qint64 nowMs);

// {"error": "invalid", "message": why}, and the like.
QJsonObject historyRefusal(const QString &error, const QString &message);

} // namespace Brelk

#endif // HISTORYANSWER_H
