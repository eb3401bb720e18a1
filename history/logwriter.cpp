#include "logwriter.h"

#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// Data handed to the file reaches the disk within this time: a power cut loses at most the rows
// of the last few seconds.
const int DefaultSyncDelayMs = 5000;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

LogWriter::LogWriter(QObject *parent) : QObject(parent), syncDelayMs(DefaultSyncDelayMs) {}

LogWriter::~LogWriter()
{
    closeFile();
}

void LogWriter::open(int newSession, const QString &path, const QString &header)
{
    closeFile();
    session = newSession;
    if (!syncTimer) {
        syncTimer = new QTimer(this);
        syncTimer->setSingleShot(true);
        connect(syncTimer, &QTimer::timeout, this, &LogWriter::sync);
    }
    file.setFileName(path);
    // QFile creates the file but never a missing folder.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        fail(file.errorString());
        return;
    }
#ifndef Q_OS_WIN
    struct stat opened;
    if (fstat(file.handle(), &opened) != 0) {
        fail(systemError());
        return;
    }
    device = quint64(opened.st_dev);
    inode = quint64(opened.st_ino);
#endif
    if (file.size() == 0)
        writeLine(header);
}

void LogWriter::writeRow(int rowSession, const QString &row)
{
    if (rowSession != session || !file.isOpen())
        return;
    if (!pathNamesOpenFile()) {
        fail(tr("the file was removed or renamed"));
        return;
    }
    writeLine(row);
}

void LogWriter::close(int closeSession)
{
    if (closeSession == session)
        closeFile();
}

bool LogWriter::writeLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        fail(file.errorString());
        return false;
    }
    if (!syncTimer->isActive())
        syncTimer->start(syncDelayMs);
    return true;
}

void LogWriter::sync()
{
    if (!file.isOpen())
        return;
#ifdef Q_OS_WIN
    const bool synced = _commit(file.handle()) == 0;
#else
    const bool synced = fsync(file.handle()) == 0;
#endif
    if (!synced)
        fail(systemError());
}

// Same device and inode as the open file. Windows does not let an open file be removed or
// renamed, so there the path only has to exist.
bool LogWriter::pathNamesOpenFile() const
{
#ifdef Q_OS_WIN
    return QFileInfo::exists(file.fileName());
#else
    struct stat named;
    if (stat(QFile::encodeName(file.fileName()).constData(), &named) != 0)
        return false;
    return quint64(named.st_dev) == device && quint64(named.st_ino) == inode;
#endif
}

void LogWriter::fail(const QString &reason)
{
    const QString path = file.fileName();
    if (file.isOpen())
        file.close();
    if (syncTimer)
        syncTimer->stop();
    emit failed(session, path, reason);
}

void LogWriter::closeFile()
{
    if (!file.isOpen())
        return;
    sync();
    if (file.isOpen())
        file.close();
    if (syncTimer)
        syncTimer->stop();
}
