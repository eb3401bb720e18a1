// The last 24 hours of a module's complete ticks, attached to its session: the store takes every
// tick from start-up on, whether a trend window is open or not, and tells its views when it grew;
// beside it the marks of what the ticks do not show by themselves.
#ifndef READINGHISTORY_H
#define READINGHISTORY_H

#include "eventmarks.h"
#include "reading.h"
#include "samplestore.h"

#include <QObject>

#include <vector>

namespace Brelk {

class ReadingHistory : public QObject
{
    Q_OBJECT

public:
    explicit ReadingHistory(QObject *parent = nullptr) : QObject(parent), marks(store.keptMs()) {}

    const SampleStore &samples() const { return store; }
    const EventMarks &eventMarks() const { return marks; }
    // A mark in the trend now, such as "Group GEM1 tripped".
    void addMark(const QString &text)
    {
        marks.add(store.runningTime(), text);
        emit markAdded();
    }
    // Stores a tick that was taken `runningMs` on the store's running clock, not now.
    void addEarlierReading(const Reading &reading, qint64 runningMs)
    {
        store.append(reading, runningMs);
        emit sampleAdded();
    }
    // Puts ticks taken before the stored ones in front of them: `earlier` in time order, each at
    // its time on the trend's time axis; those not before the first stored record are left out,
    // so that nothing stored is repeated or reordered. The stored records keep their times.
    void addEarlierReadings(const std::vector<Reading> &earlier);

public slots:
    void takeReading(const Brelk::Reading &reading)
    {
        store.append(reading);
        emit sampleAdded();
    }

signals:
    void sampleAdded();
    // Records were put in front of the stored ones: every view of the store redraws.
    void samplesReplaced();
    void markAdded();

private:
    SampleStore store;
    EventMarks marks;
};

} // namespace Brelk

#endif // READINGHISTORY_H
