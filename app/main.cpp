// Process entry: the main window in an application with a display, or with --headless the module
// session as a service on a plain core application, with neither window nor display.
#include "brelkcontrol.h"
#include "commandline.h"
#include "servicerun.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstring>
#include <memory>

using namespace Brelk;

namespace {

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
    const int answered = answerCommandLine(line, QStringLiteral("brelkcontrol"));
    if (answered >= 0)
        return answered;
    if (!settingsFileUsable(line, QStringLiteral("brelkcontrol")))
        return UsageExitCode;
    if (!application)
        application.reset(new QApplication(argc, argv));
    const QString settingsFile = settingsFileOf(line);
    if (headless)
        return runHeadless(settingsFile);
    BrelkControl window(settingsFile, line.attach);
    window.show();
    return QApplication::exec();
}
