#include "axisscale.h"

#include "reading.h"

#include <QDateTime>

#include <cmath>

namespace Brelk {

double niceStep(double range, int maxTicks)
{
    if (!(range > 0) || maxTicks < 1)
        return 1;
    const double raw = range / maxTicks;
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        // A relative tolerance keeps 0.3 / 3 from becoming 0.2.
        if (factor * decade >= raw * (1 - 1e-9))
            return factor * decade;
    }
    return 10 * decade;
}

QString siText(double value, const QString &unit, double step)
{
    if (value == 0 || !std::isfinite(value))
        return QStringLiteral("0 ") + unit;
    static const struct
    {
        double scale;
        const char *prefix;
    } prefixes[] = {
        {1e3, "k"}, {1, ""}, {1e-3, "m"}, {1e-6, "\xc2\xb5"}, {1e-9, "n"}, {1e-12, "p"},
    };
    const int count = int(sizeof(prefixes) / sizeof(prefixes[0]));
    // The value as it will be printed, rounded to the step or to three significant digits. Its
    // prefix is chosen after rounding, so that 999.9e-9 is labelled "1 µA", not "1000 nA".
    double shown;
    if (step > 0) {
        shown = std::round(value / step) * step;
    } else {
        const double digit = std::pow(10.0, std::floor(std::log10(std::fabs(value))) - 2);
        shown = std::round(value / digit) * digit;
    }
    if (shown == 0)
        return QStringLiteral("0 ") + unit;
    int chosen = 0;
    while (chosen < count - 1 && std::fabs(shown) < prefixes[chosen].scale * (1 - 1e-9))
        ++chosen;
    const double scaled = shown / prefixes[chosen].scale;
    const int decimals = step > 0
                             ? int(std::ceil(-std::log10(step / prefixes[chosen].scale) - 1e-9))
                             : 2 - int(std::floor(std::log10(std::fabs(scaled)) + 1e-9));
    // Always fixed notation: an exponent is never shown.
    QString number = QString::number(scaled, 'f', qBound(0, decimals, 9));
    if (step <= 0)
        number = withoutTrailingZeros(number);
    return number + QLatin1Char(' ') + QString::fromUtf8(prefixes[chosen].prefix) + unit;
}

qint64 timeStep(double msPerPixel, int minPixels)
{
    static const qint64 steps[] = {
        1000,   2000,   5000,    10000,   15000,   30000,    60000,    120000,   300000,
        600000, 900000, 1800000, 3600000, 7200000, 10800000, 21600000, 43200000,
    };
    for (qint64 step : steps) {
        if (step >= msPerPixel * minPixels)
            return step;
    }
    return steps[sizeof(steps) / sizeof(steps[0]) - 1];
}

qint64 firstTimeTick(qint64 time, qint64 step)
{
    const qint64 offsetMs =
        qint64(QDateTime::fromMSecsSinceEpoch(time, Qt::LocalTime).offsetFromUtc()) * 1000;
    const qint64 local = time + offsetMs;
    qint64 tick = local - ((local % step) + step) % step;
    if (tick < local)
        tick += step;
    return tick - offsetMs;
}

QString timeTickText(qint64 time, qint64 step)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(time, Qt::LocalTime);
    return local.toString(step < 60000 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
}

} // namespace Brelk
