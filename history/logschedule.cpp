#include "logschedule.h"

#include <QDateTime>

namespace Brelk {

namespace {

// Floor division, also for times before the epoch.
qint64 slotOf(qint64 localMs, qint64 intervalMs)
{
    const qint64 slot = localMs / intervalMs;
    return (localMs % intervalMs < 0) ? slot - 1 : slot;
}

const struct
{
    qint64 intervalMs;
    const char *seconds;
} IntervalSettings[] = {
    {EveryTick, "0.1"},
    {1000, "1"},
    {10000, "10"},
    {60000, "60"},
};

} // namespace

LogSchedule::LogSchedule(qint64 intervalMs) : intervalMs(intervalMs) {}

bool LogSchedule::take(qint64 msecsSinceEpoch, int utcOffsetSeconds, quint16 events,
                       quint16 *rowEvents)
{
    pendingEvents |= events;
    bool row = true;
    if (intervalMs != EveryTick) {
        const qint64 slot = slotOf(msecsSinceEpoch + qint64(utcOffsetSeconds) * 1000, intervalMs);
        // A different slot, not only a later one: when the clock or the UTC offset steps back
        // (end of daylight saving time) rows go on at once instead of waiting for the old slot to
        // come round again.
        row = !rowWritten || slot != lastSlot || rowWanted;
        lastSlot = slot;
    }
    rowWanted = false;
    if (!row)
        return false;
    rowWritten = true;
    *rowEvents = pendingEvents;
    pendingEvents = 0;
    return true;
}

bool LogSchedule::take(const Reading &reading, quint16 *rowEvents)
{
    const int offset = QDateTime::fromMSecsSinceEpoch(reading.time, Qt::LocalTime).offsetFromUtc();
    return take(reading.time, offset, reading.events, rowEvents);
}

bool LogSchedule::finish(quint16 *rowEvents)
{
    if (pendingEvents == 0)
        return false;
    *rowEvents = pendingEvents;
    pendingEvents = 0;
    return true;
}

QString logIntervalSetting(qint64 intervalMs)
{
    for (const auto &setting : IntervalSettings) {
        if (setting.intervalMs == intervalMs)
            return QLatin1String(setting.seconds);
    }
    return QStringLiteral("1");
}

qint64 logIntervalFromSetting(const QString &seconds)
{
    bool ok = false;
    const double value = seconds.trimmed().toDouble(&ok);
    if (ok) {
        for (const auto &setting : IntervalSettings) {
            if (qAbs(value - QString::fromLatin1(setting.seconds).toDouble()) < 1e-9)
                return setting.intervalMs;
        }
    }
    return 1000;
}

} // namespace Brelk
