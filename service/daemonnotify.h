// What the service tells systemd about itself through sd_notify: that it is ready, what it is
// doing, that it is stopping, and that its loop still runs (the watchdog). Built without
// libsystemd, or run outside a unit of Type=notify, every call does nothing.
#ifndef DAEMONNOTIFY_H
#define DAEMONNOTIFY_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

namespace Brelk {

class DaemonNotifier
{
public:
    // Reads the watchdog's interval from the environment systemd started the service with.
    DaemonNotifier();

    // READY=1: the settings are read and the loop runs; the bridge may still be on its way.
    void ready();
    // STATUS=..., the line `systemctl status` shows under the unit.
    void status(const QString &text);
    // STOPPING=1, before the stop's last data-log row and the goodbye to the broker.
    void stopping();
    // WATCHDOG=1 at most once per half of the watchdog's interval, however often it is called, so
    // that the poll can call it every tick; nothing when the unit has no watchdog.
    void watchdogPing();

    // The interval systemd expects a ping in (WatchdogSec=), 0 when the watchdog is off or meant
    // for another process.
    static qint64 watchdogIntervalMs();
    // The STATUS= assignment for a text: one line whatever the text holds, since a line break
    // would let a text from the network or a file say READY=1 or MAINPID= for the service.
    static QByteArray statusAssignment(const QString &text);

private:
    qint64 watchdogMs;
    QElapsedTimer sincePing;
};

} // namespace Brelk

#endif // DAEMONNOTIFY_H
