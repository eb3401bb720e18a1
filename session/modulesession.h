// One module at one base address behind the crate's bridge, for the life of the panel or the
// service: the tick's reads in the module's order, the stale rules, the event latch, the last
// complete reading and the resolution selection under which register words are scaled. It is the
// one way to the module's registers: every command reaches the bus as a list of writes that
// `execute` carries out. Knows nothing of windows; whoever shows a module attaches to its signals.
#ifndef MODULESESSION_H
#define MODULESESSION_H

#include "alarms.h"
#include "commands.h"
#include "freshness.h"
#include "reading.h"

#include <QObject>

namespace Brelk {

class Bridge;

class ModuleSession : public QObject
{
    Q_OBJECT

public:
    ModuleSession(Bridge *bridge, quint32 baseAddress, QObject *parent = nullptr);

    quint32 baseAddress() const { return address; }
    // Moves the session to another module: its readings are stale until that module answers.
    void setBaseAddress(quint32 newAddress);

    // The operator's name for the module, such as "Drift chamber"; empty when it has none.
    QString name() const { return moduleName; }
    void setName(const QString &name) { moduleName = name; }

    ResolutionSelection selection() const { return options; }
    void setSelection(const ResolutionSelection &selection) { options = selection; }

    // What happened to the bridge, as the stale rules and the latch need to know it.
    void connected();
    void connectionFailed();
    void pollStopped();

    // One tick: the module's registers in their fixed order. True when the tick completed.
    bool poll();

    // The last complete tick at the current address on this connection; null before one.
    const Reading *lastReading() const { return readSinceConnect ? &newest : nullptr; }
    // The last complete tick of any connection or address; a zero reading before the first.
    const Reading &newestReading() const { return newest; }
    // The serial-number word the last tick read: 0xFFFF while nothing answers at the address.
    quint16 serialWord() const { return serial; }
    // Every event the module reported since the connection or the channel's last clear.
    quint16 eventLatch() const { return latch; }
    void clearEvents(int channel);
    bool isStale() const { return freshness.isStale(); }
    // When the module was last heard of: its last complete tick, or the connection.
    qint64 silentSince() const { return freshness.silentSince(); }

    void execute(const WriteList &writes);

signals:
    // Every complete tick, once, after the latch took its events.
    void readingTaken(const Brelk::Reading &reading);
    // After the tick at which a channel newly turned red; the debug line names what is red.
    void alarmRaised();
    // At the missed tick that makes the module count as not answering.
    void noAnswer(qint64 silentSince);
    // The readings turned stale, or live again at a complete tick.
    void staleChanged(bool stale);
    void baseAddressChanged(int oldAddress, int newAddress);

private:
    bool takeReading(Reading *reading);
    quint16 readRegister(Register reg, int *status = nullptr);
    void updateStale();

    Bridge *bridge;
    quint32 address;
    QString moduleName;
    ResolutionSelection options;
    Freshness freshness;
    bool staleShown = false;
    // False from a connection or an address change until a tick has read the module at the
    // current address: until then `newest` may be another module's, whose set voltage a ramp
    // speed command must not send.
    bool readSinceConnect = false;
    Reading newest;
    RedAlarmWatch redAlarms;
    quint16 serial = 0;
    quint16 latch = 0;
};

} // namespace Brelk

#endif // MODULESESSION_H
