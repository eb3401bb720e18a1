#include "commandline.h"

#include <QCommandLineParser>
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
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption settings(QLatin1String(SettingsOption), QString(),
                                      QStringLiteral("FILE"));
    const QCommandLineOption headless{QLatin1String(HeadlessOption)};
    const QCommandLineOption attach{QStringLiteral("attach")};
    parser.addOption(settings);
    parser.addOption(headless);
    parser.addOption(attach);

    // Written here rather than by the parser, which needs an application object for it.
    const QString usage =
        QStringLiteral("Usage: %1 [options]\n"
                       "Control panel for the two-channel high-voltage modules of the pavex BRELK "
                       "family.\n\n"
                       "Options:\n"
                       "  -h, --help         Displays this help.\n"
                       "  -v, --version      Displays version information.\n"
                       "  --settings <FILE>  Use FILE instead of brelkcontrol.ini next to the\n"
                       "                     executable.\n"
                       "  --headless         Run without a window: poll, log and publish as the\n"
                       "                     settings say, report on standard error, stop on\n"
                       "                     SIGTERM or SIGINT.\n"
                       "  --attach           Show the crates' services through the broker of the\n"
                       "                     settings file instead of polling a VME bridge.\n")
            .arg(QFileInfo(arguments.value(0)).fileName());
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
    // Qt's own "--help-all" would start the window's toolkit to list its options.
    if (parser.isSet(help) || arguments.contains(QLatin1String("--help-all"))) {
        line.action = CommandLine::ShowHelp;
        line.text = usage;
        return line;
    }
    if (parser.isSet(version)) {
        line.action = CommandLine::ShowVersion;
        return line;
    }
    line.headless = parser.isSet(headless);
    line.attach = parser.isSet(attach);
    line.settingsFile = parser.value(settings);
    if (line.headless && line.attach) {
        line.action = CommandLine::UsageError;
        line.text = QStringLiteral("The options --headless and --attach exclude each other: an "
                                   "attached panel is a window.\n") +
                    usage;
        return line;
    }
    if (parser.isSet(settings) && line.settingsFile.isEmpty()) {
        line.action = CommandLine::UsageError;
        line.text = QStringLiteral("The option --settings needs the name of a file.\n") + usage;
    }
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
    if (info.isDir())
        return QStringLiteral("%1: is a folder, not a file").arg(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString());
    return QString();
}

} // namespace Brelk
