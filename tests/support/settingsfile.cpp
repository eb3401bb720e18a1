#include "settingsfile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

QString settingsPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/brelkcontrol.ini");
}

bool writeSettingsFile(const QString &path, const QByteArray &contents)
{
    static QDateTime fileTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    fileTime = fileTime.addSecs(1);
    QFile file(path);
    // Flushed first: writing out the buffer at close would move the time again.
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size() && file.flush() &&
           file.setFileTime(fileTime, QFileDevice::FileModificationTime);
}

QByteArray readSettingsFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
