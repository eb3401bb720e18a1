#include "datalog.h"

#include "csvformat.h"
#include "logwriter.h"

DataLog::DataLog(QObject *parent) : QObject(parent), writer(new LogWriter)
{
    thread.setObjectName(QStringLiteral("DataLogWriter"));
    writer->moveToThread(&thread);
    connect(&thread, &QThread::finished, writer, &QObject::deleteLater);
    connect(writer, &LogWriter::failed, this, &DataLog::writerFailed, Qt::QueuedConnection);
    thread.start();
}

DataLog::~DataLog()
{
    stop();
    // The writer ends its thread after the rows already queued for it, and syncs and closes the
    // file when it is deleted there.
    QThread *const writerThread = &thread;
    QMetaObject::invokeMethod(
        writer, [writerThread] { writerThread->quit(); }, Qt::QueuedConnection);
    thread.wait();
}

void DataLog::start(const QString &path, qint64 intervalMs)
{
    stop();
    ++session;
    logging = true;
    logPath = path;
    schedule = Brelk::LogSchedule(intervalMs);
    const int opened = session;
    const QString header = Brelk::csvHeader();
    LogWriter *const target = writer;
    QMetaObject::invokeMethod(
        writer, [target, opened, path, header] { target->open(opened, path, header); },
        Qt::QueuedConnection);
}

void DataLog::stop()
{
    if (!logging)
        return;
    quint16 events = 0;
    if (schedule.finish(&events))
        writeRow(newest, events);
    logging = false;
    const int closed = session;
    LogWriter *const target = writer;
    QMetaObject::invokeMethod(
        writer, [target, closed] { target->close(closed); }, Qt::QueuedConnection);
}

void DataLog::takeReading(const Brelk::Reading &reading)
{
    if (!logging)
        return;
    newest = reading;
    quint16 events = 0;
    if (schedule.take(reading, &events))
        writeRow(reading, events);
}

void DataLog::writeRow(const Brelk::Reading &reading, quint16 events)
{
    const QString row = Brelk::csvRow(reading, events);
    const int current = session;
    LogWriter *const target = writer;
    QMetaObject::invokeMethod(
        writer, [target, current, row] { target->writeRow(current, row); }, Qt::QueuedConnection);
}

void DataLog::writerFailed(int failedSession, const QString &path, const QString &reason)
{
    // A failure of a log that was stopped or replaced meanwhile is no longer news.
    if (!logging || failedSession != session)
        return;
    logging = false;
    emit failed(path, reason);
}
