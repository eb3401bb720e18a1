// Marks in a module's trend where something happened that no register shows by itself, such as a
// channel group brought down after a trip of a channel on another module. Each mark keeps the
// running time of the trend's store, so that a step of the wall clock moves it with the ticks; a
// mark older than the store keeps is dropped with them.
#ifndef EVENTMARKS_H
#define EVENTMARKS_H

#include <QString>
#include <QtGlobal>

#include <deque>

namespace Brelk {

struct EventMark
{
    // On the running clock of the module's SampleStore.
    qint64 running;
    QString text;
};

class EventMarks
{
public:
    // More than this in a day is a fault that repeats; the oldest go first.
    static constexpr int MostMarks = 1000;

    explicit EventMarks(qint64 keepMs) : keepMs(keepMs) {}

    void add(qint64 runningMs, const QString &text)
    {
        marks.push_back({runningMs, text});
        while (int(marks.size()) > MostMarks || marks.front().running < runningMs - keepMs)
            marks.pop_front();
    }
    const std::deque<EventMark> &all() const { return marks; }

private:
    qint64 keepMs;
    std::deque<EventMark> marks;
};

} // namespace Brelk

#endif // EVENTMARKS_H
