// How the service writes one line to standard error. In a terminal or a file each line starts with
// the local time, as the data log writes it; when journald reads standard error it keeps its own
// time, so a line carries only its priority ("<3>", "<4>", "<6>"), which journalctl -p filters by.
#ifndef SERVICELINE_H
#define SERVICELINE_H

#include <QByteArray>
#include <QString>

namespace Brelk {

// The syslog priorities a line can have: err, warning and info.
enum class LinePriority { Error, Warning, Info };

// True when standard error is the journal's stream: systemd sets JOURNAL_STREAM to
// "<device>:<inode>" of the stream it connected, and a stderr that was redirected since has
// another one.
bool stderrIsJournal();

// The bytes of one line, ending in a line feed. The text is escaped as in every log line, so that
// nothing in it can start a second line (which the journal would also give the default priority).
QByteArray serviceLine(const QString &text, LinePriority priority, bool journal,
                       qint64 nowMsSinceEpoch);

// Writes one line to standard error and flushes it. Whether that is the journal is decided at the
// first line and kept for the process.
void writeServiceLine(const QString &text, LinePriority priority);

} // namespace Brelk

#endif // SERVICELINE_H
