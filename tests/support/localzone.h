// Runs part of a test under a fixed local time zone: sets TZ for the object's lifetime and puts
// the one before back afterwards, so that local times and UTC offsets are checked in zones other
// than the machine's own (usually UTC, where a flipped sign goes unnoticed).
#ifndef LOCALZONE_H
#define LOCALZONE_H

#include <QByteArray>
#include <QtGlobal>

#include <ctime>

class LocalZone
{
public:
    // `tz` in the POSIX form, which needs no zone database: "<+0530>-5:30" is UTC+05:30,
    // "CET-1CEST,M3.5.0,M10.5.0/3" central Europe with its daylight saving time.
    explicit LocalZone(const QByteArray &tz)
        : hadZone(qEnvironmentVariableIsSet("TZ")), previous(qgetenv("TZ"))
    {
        qputenv("TZ", tz);
        applyZone();
    }
    ~LocalZone()
    {
        if (hadZone)
            qputenv("TZ", previous);
        else
            qunsetenv("TZ");
        applyZone();
    }
    LocalZone(const LocalZone &) = delete;
    LocalZone &operator=(const LocalZone &) = delete;

private:
    static void applyZone()
    {
#ifdef Q_OS_WIN
        _tzset();
#else
        tzset();
#endif
    }

    bool hadZone;
    QByteArray previous;
};

#endif // LOCALZONE_H
