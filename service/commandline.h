// The program's options: --settings FILE, --headless, --attach, --help and --version. Without
// options the panel starts as it always has; anything it does not know is a usage error (exit code
// 2).
#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>
#include <QStringList>

namespace Brelk {

struct CommandLine
{
    enum Action { Run, ShowHelp, ShowVersion, UsageError };

    Action action = Run;
    bool headless = false;
    // The window attached through the broker to the crates' services, whatever "Source" says.
    bool attach = false;
    // Empty: brelkcontrol.ini next to the executable. "--settings" with an empty name is a usage
    // error, not the default file.
    QString settingsFile;
    // The parser's complaint for a usage error; the usage itself for help.
    QString text;
};

// `arguments` as the program got them, its own name first.
CommandLine parseCommandLine(const QStringList &arguments);

// Whether the raw arguments ask for the run without a display, before any application object
// exists (the window's toolkit must not even be started then).
bool asksForHeadless(int argc, char **argv);

// Checks that a settings file named on the command line exists, is a file and can be read; the
// reason why not otherwise ("/etc/brelkcontrol/brelkcontrol.ini: no such file").
QString settingsFileProblem(const QString &path);

} // namespace Brelk

#endif // COMMANDLINE_H
