// The data log's file, on a thread of its own so that the poll never waits on the disk: appends
// each row and flushes it at once, syncs the file to the disk within a few seconds of any write,
// and checks before every row that the path still names the file it opened. The first failure
// closes the file and is reported once through `failed`.
#ifndef LOGWRITER_H
#define LOGWRITER_H

#include <QFile>
#include <QObject>
#include <QString>

class QTimer;

class LogWriter : public QObject
{
    Q_OBJECT

public:
    explicit LogWriter(QObject *parent = nullptr);
    // Syncs and closes an open file.
    ~LogWriter() override;

    // How long after a write the file is synced to the disk at the latest (5 s unless set).
    void setSyncDelay(int ms) { syncDelayMs = ms; }

    // Every call names the logging session it belongs to; calls of any other session than the
    // one last opened are ignored, so rows still queued for a stopped log go nowhere.
public slots:
    // Opens `path` for appending (never creating a folder) and writes `header` when the file is
    // empty.
    void open(int session, const QString &path, const QString &header);
    void writeRow(int session, const QString &row);
    void close(int session);

signals:
    void failed(int session, const QString &path, const QString &reason);

private:
    void sync();
    void fail(const QString &reason);
    bool writeLine(const QString &line);
    bool pathNamesOpenFile() const;
    void closeFile();

    QFile file;
    int session = -1;
    QTimer *syncTimer = nullptr;
    int syncDelayMs;
    quint64 device = 0;
    quint64 inode = 0;
};

#endif // LOGWRITER_H
