#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <cstring>

namespace Brelk {

namespace {

const char *const HeadlessOption = "headless";
const char *const SettingsOption = "settings";

// The usage in the toolkit's own layout. The parser's helpText() needs an application object
// under Qt 5, and help, version and usage errors are answered before there is one.
QString usageText(const QString &program, const QString &description,
                  const QList<QCommandLineOption> &options)
{
    QStringList forms;
    int width = 0;
    for (const QCommandLineOption &option : options) {
        QStringList names;
        for (const QString &name : option.names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString form = names.join(QStringLiteral(", "));
        if (!option.valueName().isEmpty())
            form += QStringLiteral(" <") + option.valueName() + QLatin1Char('>');
        width = qMax(width, int(form.size()));
        forms << form;
    }
    QString text =
        QStringLiteral("Usage: %1 [options]\n%2\n\nOptions:\n").arg(program, description);
    for (int i = 0; i < options.size(); ++i)
        text += QStringLiteral("  ") + forms[i].leftJustified(width) + QStringLiteral("  ") +
                options[i].description() + QLatin1Char('\n');
    return text;
}

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

    const QString usage = usageText(QFileInfo(arguments.value(0)).fileName(),
                                    parser.applicationDescription(),
                                    {help, version, settings, headless});
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
