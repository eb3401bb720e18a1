// The data log: takes every complete tick, picks the ticks that become rows by the log's
// interval, and hands their CSV text to the writer thread. Nothing here touches the disk.
#ifndef DATALOG_H
#define DATALOG_H

#include "logschedule.h"
#include "reading.h"

#include <QObject>
#include <QString>
#include <QThread>

class LogWriter;

class DataLog : public QObject
{
    Q_OBJECT

public:
    explicit DataLog(QObject *parent = nullptr);
    // Stops the log and waits for the writer to sync and close the file.
    ~DataLog() override;

    // Starts logging to `path` (appending) at `intervalMs` (Brelk::EveryTick, 1000, 10000 or
    // 60000), ending a log already running. The file is opened on the writer thread; a failure
    // comes back through `failed`.
    void start(const QString &path, qint64 intervalMs);
    // Ends the log. Events of ticks since the last row go into one last row at the newest tick.
    void stop();
    bool isLogging() const { return logging; }
    // The module's next complete tick becomes a row whatever the interval.
    void rowAtNextTick() { schedule.rowAtNextTick(); }
    QString path() const { return logPath; }
    qint64 interval() const { return schedule.interval(); }

public slots:
    void takeReading(const Brelk::Reading &reading);

signals:
    // The log has stopped because its file could not be opened, written or synced, or its path
    // no longer names the file. Emitted once per log.
    void failed(const QString &path, const QString &reason);

private:
    void writerFailed(int session, const QString &path, const QString &reason);
    void writeRow(const Brelk::Reading &reading, quint16 events);

    QThread thread;
    LogWriter *writer;
    Brelk::LogSchedule schedule;
    Brelk::Reading newest;
    int session = 0;
    bool logging = false;
    QString logPath;
};

#endif // DATALOG_H
