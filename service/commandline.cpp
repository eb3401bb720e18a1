#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace Brelk {

namespace {

const char *const HeadlessOption = "headless";
const char *const SettingsOption = "settings";

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Control panel for the two-channel high-voltage modules of the pavex BRELK family."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption settings(
        QLatin1String(SettingsOption),
        QStringLiteral("Use FILE instead of brelkcontrol.ini next to the executable."),
        QStringLiteral("FILE"));
    const QCommandLineOption headless(
        QLatin1String(HeadlessOption),
        QStringLiteral("Run without a window: poll, log and publish as the settings say, report "
                       "on standard error, stop on SIGTERM or SIGINT."));
    parser.addOption(settings);
    parser.addOption(headless);

    // Without an application object the parser cannot know the program's name.
    const QString program = QFileInfo(arguments.value(0)).fileName();
    const QString usage = parser.helpText().replace(QLatin1String("<executable_name>"), program);
    CommandLine line;
    if (!parser.parse(arguments)) {
        line.action = CommandLine::UsageError;
        line.text = parser.errorText() + QLatin1Char('\n') + usage;
        return line;
    }
    if (!parser.positionalArguments().isEmpty()) {
        line.action = CommandLine::UsageError;
        line.text = QStringLiteral("Unexpected argument '%1'.\n")
                        .arg(parser.positionalArguments().constFirst()) +
                    usage;
        return line;
    }
    if (parser.isSet(help)) {
        line.action = CommandLine::ShowHelp;
        line.text = usage;
        return line;
    }
    if (parser.isSet(version)) {
        line.action = CommandLine::ShowVersion;
        return line;
    }
    line.headless = parser.isSet(headless);
    line.settingsFile = parser.value(settings);
    return line;
}

bool asksForHeadless(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0 || std::strcmp(argv[i], "-headless") == 0)
            return true;
    }
    return false;
}

QString settingsFileProblem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("%1: no such file").arg(path);
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: cannot be read").arg(path);
    return QString();
}

} // namespace Brelk
