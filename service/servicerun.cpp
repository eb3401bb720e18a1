#include "servicerun.h"

#include "display.h"
#include "headlessservice.h"
#include "settings.h"
#include "stopsignals.h"

#include <QCoreApplication>

#include <cstdio>

namespace Brelk {

namespace {

void printTo(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

} // namespace

int answerCommandLine(const CommandLine &line, const QString &programName)
{
    switch (line.action) {
    case CommandLine::UsageError:
        printTo(stderr, line.text);
        return UsageExitCode;
    case CommandLine::ShowHelp:
        printTo(stdout, line.text);
        return 0;
    case CommandLine::ShowVersion:
        printTo(stdout, QStringLiteral("%1 %2\n").arg(programName, QLatin1String(ProgramVersion)));
        return 0;
    case CommandLine::Run:
        break;
    }
    return -1;
}

bool settingsFileUsable(const CommandLine &line, const QString &programName)
{
    if (line.settingsFile.isEmpty())
        return true;
    const QString problem = settingsFileProblem(line.settingsFile);
    if (!problem.isEmpty())
        printTo(stderr, QStringLiteral("%1: settings file %2\n").arg(programName, problem));
    return problem.isEmpty();
}

QString settingsFileOf(const CommandLine &line)
{
    return line.settingsFile.isEmpty() ? Settings::besideExecutable() : line.settingsFile;
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

} // namespace Brelk
