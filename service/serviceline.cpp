#include "serviceline.h"

#include "display.h"
#include "reading.h"

#include <QDateTime>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Brelk {

namespace {

const char *journalPrefix(LinePriority priority)
{
    switch (priority) {
    case LinePriority::Error:
        return "<3>";
    case LinePriority::Warning:
        return "<4>";
    case LinePriority::Info:
        break;
    }
    return "<6>";
}

// A decimal number and nothing else: "12x", "-1" and "" are not device or inode numbers.
bool parseNumber(const QByteArray &text, qulonglong *number)
{
    if (text.isEmpty() || text.at(0) < '0' || text.at(0) > '9')
        return false;
    bool ok = false;
    *number = text.toULongLong(&ok, 10);
    return ok;
}

} // namespace

bool stderrIsJournal()
{
#ifdef Q_OS_UNIX
    const QList<QByteArray> fields = qgetenv("JOURNAL_STREAM").split(':');
    qulonglong device = 0;
    qulonglong inode = 0;
    if (fields.size() != 2 || !parseNumber(fields.at(0), &device) ||
        !parseNumber(fields.at(1), &inode))
        return false;
    struct stat status;
    if (fstat(STDERR_FILENO, &status) != 0)
        return false;
    return qulonglong(status.st_dev) == device && qulonglong(status.st_ino) == inode;
#else
    return false;
#endif
}

QByteArray serviceLine(const QString &text, LinePriority priority, bool journal,
                       qint64 nowMsSinceEpoch)
{
    const QByteArray escaped = escapedForLog(text).toUtf8();
    if (journal)
        return journalPrefix(priority) + escaped + '\n';
    return isoLocalTime(nowMsSinceEpoch).toUtf8() + ' ' + escaped + '\n';
}

void writeServiceLine(const QString &text, LinePriority priority)
{
    static const bool journal = stderrIsJournal();
    const QByteArray line =
        serviceLine(text, priority, journal, QDateTime::currentMSecsSinceEpoch());
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace Brelk
