// The last 24 hours of a module's complete ticks, attached to its session: the store takes every
// tick from start-up on, whether a trend window is open or not, and tells its views when it grew.
#ifndef READINGHISTORY_H
#define READINGHISTORY_H

#include "reading.h"
#include "samplestore.h"

#include <QObject>

namespace Brelk {

class ReadingHistory : public QObject
{
    Q_OBJECT

public:
    explicit ReadingHistory(QObject *parent = nullptr) : QObject(parent) {}

    const SampleStore &samples() const { return store; }
    // Stores a tick that was taken `runningMs` on the store's running clock, not now.
    void addEarlierReading(const Reading &reading, qint64 runningMs)
    {
        store.append(reading, runningMs);
        emit sampleAdded();
    }

public slots:
    void takeReading(const Brelk::Reading &reading)
    {
        store.append(reading);
        emit sampleAdded();
    }

signals:
    void sampleAdded();

private:
    SampleStore store;
};

} // namespace Brelk

#endif // READINGHISTORY_H
