// The service's life on a core application: the command line answered without a display, the
// settings file checked, the crate run until SIGTERM or SIGINT. Both executables run it: the
// service's own and the panel's with --headless.
#ifndef SERVICERUN_H
#define SERVICERUN_H

#include "commandline.h"

#include <QString>

namespace Brelk {

// A usage error or a settings file that cannot be used: nothing starts.
constexpr int UsageExitCode = 2;

// Prints what help, version or a usage error ask for and gives the exit code; -1 for a run.
int answerCommandLine(const CommandLine &line, const QString &programName);

// False, with the reason on standard error, when the settings file named on the command line
// cannot be used.
bool settingsFileUsable(const CommandLine &line, const QString &programName);
// The settings file to run with; the application object exists.
QString settingsFileOf(const CommandLine &line);

// Runs the crate as the settings file says until a stop signal; the application object exists.
int runHeadless(const QString &settingsFile);

} // namespace Brelk

#endif // SERVICERUN_H
