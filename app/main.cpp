// Process entry: the main window in an application with a display, or with --headless the module
// session as a service on a plain core application, with neither window nor display.
#include "brelkcontrol.h"
#include "commandline.h"
#include "headlessservice.h"
#include "stopsignals.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <memory>

using namespace Brelk;

namespace {

const char *const Version = "1.0.0.0";
const int UsageExitCode = 2;

void printTo(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

int runHeadless(const QString &settingsFile)
{
    HeadlessService::timeStampDebugLines();
    HeadlessService service(settingsFile);
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &service, [&service](int number) {
        HeadlessService::report(QStringLiteral("Stopping on signal %1").arg(number));
        service.stop();
        QCoreApplication::quit();
    });
    service.start();
    return QCoreApplication::exec();
}

// Whether the window's application object can start: on X11 and Wayland systems it aborts when
// it finds no display at all.
bool displayReachable(int argc, char *argv[])
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
        qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return false;
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return true;
#endif
}

QStringList argumentList(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace

int main(int argc, char *argv[])
{
    // Help, version and usage errors need no application object, so they work without a
    // display. The toolkit's own arguments (-style, -platform, ...) are unknown here: the window's
    // application object, where there is a display for it, takes them out before the arguments
    // are read again.
    const bool headless = asksForHeadless(argc, argv);
    CommandLine line = parseCommandLine(argumentList(argc, argv));
    std::unique_ptr<QCoreApplication> application;
    if (headless) {
        application.reset(new QCoreApplication(argc, argv));
    } else if (line.action == CommandLine::UsageError && displayReachable(argc, argv)) {
        application.reset(new QApplication(argc, argv));
        line = parseCommandLine(QCoreApplication::arguments());
    }
    switch (line.action) {
    case CommandLine::UsageError:
        printTo(stderr, line.text);
        return UsageExitCode;
    case CommandLine::ShowHelp:
        printTo(stdout, line.text);
        return 0;
    case CommandLine::ShowVersion:
        printTo(stdout, QStringLiteral("brelkcontrol %1\n").arg(QLatin1String(Version)));
        return 0;
    case CommandLine::Run:
        break;
    }

    if (!line.settingsFile.isEmpty()) {
        const QString problem = settingsFileProblem(line.settingsFile);
        if (!problem.isEmpty()) {
            printTo(stderr, QStringLiteral("brelkcontrol: settings file %1\n").arg(problem));
            return UsageExitCode;
        }
    }
    if (!application)
        application.reset(new QApplication(argc, argv));
    const QString settingsFile =
        line.settingsFile.isEmpty() ? Settings::besideExecutable() : line.settingsFile;

    if (headless)
        return runHeadless(settingsFile);
    BrelkControl window(settingsFile);
    window.show();
    return QApplication::exec();
}
