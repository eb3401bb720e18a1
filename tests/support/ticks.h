// A tick as the tests of publishing and of the attached panel use it: one to publish, the JSON
// object of a published document, and every word of a tick to compare two ticks in one go.
#ifndef TICKS_H
#define TICKS_H

#include "reading.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QVector>

const qint64 T0 = 1767225600000; // 2026-01-01 00:00:00 UTC, a whole number of seconds

inline QJsonObject parse(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

// At T0 + `ms`: channel A ramping up with a current limit, channel B stable, no second range.
inline Brelk::Reading baseReading(qint64 ms = 123)
{
    using namespace Brelk;
    Reading reading;
    reading.time = T0 + ms;
    reading.serialNumber = 0x2101;
    reading.vset[0] = 1000;
    reading.vset[1] = 500;
    reading.ramp[0] = 50;
    reading.ramp[1] = 25;
    reading.vmeas[0] = 999;
    reading.vmeas[1] = 501;
    reading.imeas[0] = 7;
    reading.imeas[1] = 5;
    reading.limits[0] = 0x0A5;
    reading.limits[1] = 0x3FF;
    reading.softLimitI[0] = 20;
    reading.softLimitI2[1] = 3;
    reading.status = (StatusPositive | StatusRampUp | StatusRamping) | (StatusPositive << 8);
    return reading;
}

// The options and every word of a tick, without its time.
inline QVector<qint64> tickWords(const Brelk::Reading &r)
{
    QVector<qint64> all{r.serialNumber,           r.status,          r.events, r.fineVoltage,
                        int(r.currentResolution), int(r.secondRange)};
    for (int ch = 0; ch < 2; ++ch) {
        all << r.vset[ch] << r.ramp[ch] << r.vmeas[ch] << r.imeas[ch] << r.imeas2[ch]
            << r.limits[ch] << r.softLimitI[ch] << r.softLimitI2[ch];
    }
    return all;
}

#endif // TICKS_H
