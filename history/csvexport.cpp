#include "csvexport.h"

#include "csvformat.h"

#include <QSaveFile>

namespace Brelk {

namespace {

// Rows are written in pieces of about this size: small enough for a steady progress bar,
// large enough that writing costs little beside formatting.
const int PieceBytes = 1 << 20;

} // namespace

CsvExport::CsvExport(const SampleStore &store, qint64 from, qint64 to, const QString &path,
                     QObject *parent)
    : QObject(parent), rows(store.copy(store.lowerBound(from), store.lowerBound(to))),
      filePath(path)
{
}

CsvExport::~CsvExport()
{
    abandoned = true;
    if (worker.joinable())
        worker.join();
}

void CsvExport::start()
{
    if (!worker.joinable())
        worker = std::thread([this] { run(); });
}

// Every record is a row of its own, so each row carries its own tick's events.
void CsvExport::run()
{
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        emit finished(false, file.errorString());
        return;
    }
    QByteArray piece = csvHeader().toUtf8() + '\n';
    piece.reserve(PieceBytes + 4096);
    int reported = -1;
    for (qint64 i = 0; i <= rows.size(); ++i) {
        if (i < rows.size()) {
            const Reading reading = rows.reading(i);
            piece += csvRow(reading, reading.events).toUtf8();
            piece += '\n';
            if (piece.size() < PieceBytes)
                continue;
        }
        if (abandoned)
            return;
        if (file.write(piece) != piece.size()) {
            emit finished(false, file.errorString());
            return;
        }
        piece.clear();
        const int percent = rows.size() ? int(100 * (i + 1) / (rows.size() + 1)) : 100;
        if (percent != reported)
            emit progress(reported = percent);
    }
    if (!file.commit()) {
        emit finished(false, file.errorString());
        return;
    }
    emit finished(true, QString());
}

} // namespace Brelk
