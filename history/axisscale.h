// Tick positions and labels of the trend plots' axes: round steps of 1, 2 and 5 for linear
// value axes, decades for the logarithmic current axis, SI-prefixed current labels, and time
// ticks on whole seconds, minutes or hours of the local wall clock.
#ifndef AXISSCALE_H
#define AXISSCALE_H

#include <QString>
#include <QtGlobal>

namespace Brelk {

// The smallest step of the form {1, 2, 5} × 10^n that divides `range` into at most `maxTicks`.
double niceStep(double range, int maxTicks);

// `value` with the SI prefix of its own size, from pico to kilo: "12.5 µA", "100 pA", "0 A",
// never with an exponent. Without a `step`, three significant digits; with one, as many decimals
// as the step needs, so that neighbouring ticks of an axis, or counts of a resolution, are told
// apart ("10.002 µA", "999.5 µA").
QString siText(double value, const QString &unit, double step = 0);

// The time between labelled ticks for a span of `msPerPixel` so that labels lie at least
// `minPixels` apart: 1, 2, 5, 10, 15, 30 s, 1, 2, 5, 10, 15, 30 min, 1, 2, 3, 6, 12 h.
qint64 timeStep(double msPerPixel, int minPixels);

// The first tick at or after `time` that is a whole multiple of `step` on the local wall clock.
qint64 firstTimeTick(qint64 time, qint64 step);

// "HH:mm:ss" for steps under a minute, else "HH:mm", in local time.
QString timeTickText(qint64 time, qint64 step);

} // namespace Brelk

#endif // AXISSCALE_H
