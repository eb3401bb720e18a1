// The history's Export CSV on a thread of its own: the span is copied out of the sample store
// when the export starts, then formatted and written beside the poll, so that a day of ticks
// (some 70 MiB of text) never holds up a tick. The file appears only when it is complete.
#ifndef CSVEXPORT_H
#define CSVEXPORT_H

#include "samplestore.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <thread>

namespace Brelk {

class CsvExport : public QObject
{
    Q_OBJECT

public:
    // Copies the stored records of [from, to) on the time axis.
    CsvExport(const SampleStore &store, qint64 from, qint64 to, const QString &path,
              QObject *parent = nullptr);
    // An export still running is abandoned: it leaves no file behind.
    ~CsvExport() override;

    qint64 rowCount() const { return rows.size(); }
    QString path() const { return filePath; }
    void start();

signals:
    // The share of the rows written so far, from 0 to 100.
    void progress(int percent);
    // Once at the end; `error` says why the file could not be written.
    void finished(bool ok, const QString &error);

private:
    void run();

    const SampleStore::Span rows;
    const QString filePath;
    std::atomic<bool> abandoned{false};
    std::thread worker;
};

} // namespace Brelk

#endif // CSVEXPORT_H
