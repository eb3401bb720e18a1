#include "daemonnotify.h"

#include "display.h"

#ifdef BRELK_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace Brelk {

namespace {

void notify(const QByteArray &assignment)
{
#ifdef BRELK_SYSTEMD
    // Outside a unit NOTIFY_SOCKET is unset and sd_notify returns 0 without sending; a failed
    // send changes nothing the service could act on.
    sd_notify(0, assignment.constData());
#else
    Q_UNUSED(assignment);
#endif
}

} // namespace

DaemonNotifier::DaemonNotifier() : watchdogMs(watchdogIntervalMs()) {}

void DaemonNotifier::ready()
{
    notify(QByteArrayLiteral("READY=1"));
}

void DaemonNotifier::status(const QString &text)
{
    notify(statusAssignment(text));
}

void DaemonNotifier::stopping()
{
    notify(QByteArrayLiteral("STOPPING=1"));
}

void DaemonNotifier::watchdogPing()
{
    if (watchdogMs <= 0)
        return;
    if (sincePing.isValid() && sincePing.elapsed() < watchdogMs / 2)
        return;
    sincePing.start();
    notify(QByteArrayLiteral("WATCHDOG=1"));
}

qint64 DaemonNotifier::watchdogIntervalMs()
{
#ifdef BRELK_SYSTEMD
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0)
        return qint64(usec / 1000);
#endif
    return 0;
}

QByteArray DaemonNotifier::statusAssignment(const QString &text)
{
    return QByteArrayLiteral("STATUS=") + escapedForLog(text).toUtf8();
}

} // namespace Brelk
