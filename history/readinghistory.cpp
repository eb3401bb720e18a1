#include "readinghistory.h"

#include <QDateTime>

#include <limits>
#include <utility>
#include <vector>

namespace Brelk {

void ReadingHistory::addEarlierReadings(const std::vector<Reading> &earlier)
{
    // Axis time minus running time: the store's own, or the wall clock's before its first record.
    const qint64 offset = store.isEmpty()
                              ? QDateTime::currentMSecsSinceEpoch() - store.runningTime()
                              : store.axisOffset();
    const qint64 firstTime =
        store.isEmpty() ? std::numeric_limits<qint64>::max() : store.time(store.first());
    if (earlier.empty() || earlier.front().time >= firstTime)
        return;
    // The store only appends: its records are taken out and appended again after the earlier
    // ones, at their own running times.
    std::vector<std::pair<qint64, Reading>> stored;
    stored.reserve(size_t(store.size()));
    for (qint64 seq = store.first(); seq < store.end(); ++seq)
        stored.emplace_back(store.runningTime(seq), store.reading(seq));
    store.clear();
    for (const Reading &reading : earlier) {
        if (reading.time >= firstTime)
            break;
        store.append(reading, reading.time - offset);
    }
    for (const auto &record : stored)
        store.append(record.second, record.first);
    emit samplesReplaced();
}

} // namespace Brelk
