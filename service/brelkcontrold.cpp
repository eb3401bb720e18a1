// Process entry of the service: the crate without a window on a core application, linked against
// Qt Core and the MQTT client only, so that a crate PC without a display or its libraries runs it.
#include "commandline.h"
#include "servicerun.h"

#include <QCoreApplication>

#include <cstdio>

using namespace Brelk;

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const CommandLine line = parseCommandLine(QCoreApplication::arguments());
    const int answered = answerCommandLine(line, QStringLiteral("brelkcontrold"));
    if (answered >= 0)
        return answered;
    if (line.attach) {
        std::fputs("brelkcontrold: --attach is an option of the panel, brelkcontrol\n", stderr);
        return UsageExitCode;
    }
    if (!settingsFileUsable(line, QStringLiteral("brelkcontrold")))
        return UsageExitCode;
    return runHeadless(settingsFileOf(line));
}
