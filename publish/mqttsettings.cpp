#include "mqttsettings.h"

namespace Brelk {

QString mqttTopicProblem(const QString &topic)
{
    if (topic.isEmpty())
        return QStringLiteral("the topic prefix is empty");
    if (topic.contains(QLatin1Char('+')) || topic.contains(QLatin1Char('#')))
        return QStringLiteral("a topic prefix cannot hold the wildcards + or #");
    if (topic.split(QLatin1Char('/')).contains(QString()))
        return QStringLiteral(
            "a topic prefix cannot have an empty level (\"//\" or a leading \"/\")");
    // A lone surrogate has no UTF-8 form; converting would publish something else.
    if (!QStringView(topic).isValidUtf16())
        return QStringLiteral("the topic prefix is not valid UTF-8 (a lone surrogate)");
    const QVector<uint> characters = topic.toUcs4();
    for (int i = 0; i < characters.size(); ++i) {
        const uint c = characters[i];
        const QString where =
            QStringLiteral(" (U+%1 at character %2)").arg(c, 4, 16, QLatin1Char('0')).arg(i + 1);
        if (c <= 0x1F || (c >= 0x7F && c <= 0x9F))
            return QStringLiteral("a topic prefix cannot hold a control character") + where;
        if (QChar::isNonCharacter(c))
            return QStringLiteral("a topic prefix cannot hold a Unicode non-character") + where;
    }
    if (topic.toUtf8().size() + MqttLongestSuffixBytes > 65535)
        return QStringLiteral("the topic prefix is longer than the %1 bytes MQTT allows")
            .arg(65535 - MqttLongestSuffixBytes);
    return QString();
}

QString mqttFilterProblem(const QString &filters)
{
    const QStringList each = filters.split(QLatin1Char(','));
    if (each.size() > 1) {
        for (const QString &filter : each) {
            const QString problem = mqttFilterProblem(filter.trimmed());
            if (!problem.isEmpty())
                return problem;
        }
        return QString();
    }
    const QString filter = filters.trimmed();
    if (filter.isEmpty())
        return QStringLiteral("the topic filter is empty");
    if (filter.contains(QLatin1Char('#')))
        return QStringLiteral("the topic filter may not hold \"#\": use \"+\" for one level");
    const QStringList levels = filter.split(QLatin1Char('/'));
    for (const QString &level : levels) {
        if (level.contains(QLatin1Char('+')) && level != QLatin1String("+"))
            return QStringLiteral("\"+\" stands for a whole level of the topic filter");
    }
    // The levels that "+" holds are checked as the prefix they stand for.
    QString sample = filter;
    sample.replace(QLatin1Char('+'), QLatin1Char('x'));
    return mqttTopicProblem(sample);
}

} // namespace Brelk
