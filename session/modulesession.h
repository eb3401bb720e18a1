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
#include <QStringList>

#include <functional>

namespace Brelk {

class Bridge;

// How a command went on the bus. Every cycle's status is checked; the first that failed ends the
// command, and what was written before it stays written.
struct CommandOutcome
{
    bool done = true;
    // Not done, and nothing was read or written: the list asked for more than the session allows
    // (a set voltage above the channel's ceiling). `failure` says why.
    bool refused = false;
    // Not done yet: handed to the service of a remote module, whose answer comes later.
    bool sent = false;
    // The writes that reached the module, with every re-sent set voltage as it was written.
    WriteList written;
    // On a failure: the register whose cycle failed and whether it was the read-back of a set
    // voltage or the channel's state before anything was written.
    Register failedRegister = regStatus;
    bool failedRead = false;
    // "Write to the module at 0xDD00 failed (register 0x34): VME bus error".
    QString failure;
    // What the operator must know although everything was written: "Ramp speed stored; channel
    // A stays off until a new set voltage".
    QStringList notes;
};

// A module that another program polls, seen through the broker: its service's messages bring its
// ticks, and its commands go to the service instead of the bus.
struct RemoteLink
{
    // Sends a command's writes; the service's answer comes later, as the session's
    // `commandNote` or `commandFailed`.
    std::function<void(const WriteList &writes)> execute;
    std::function<void(int channel)> clearEvents;
};

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

    // A further module of the crate: its alarm lines start with its address and name, so that
    // the debug output and the service's journal tell the modules apart. The crate's first
    // module writes the lines of a crate with one module.
    void setFurtherModule(bool further) { furtherModule = further; }
    // "0xDC00 (Drift chamber): " for a further module, empty for the first.
    QString linePrefix() const;

    ResolutionSelection selection() const { return options; }
    void setSelection(const ResolutionSelection &selection) { options = selection; }

    // The operator's ceilings on the set voltages (VsetMaxA, VsetMaxB): `execute` refuses a list
    // that would set a channel above its own, whoever made the list.
    VoltageCeilings voltageCeilings() const { return ceilings; }
    void setVoltageCeilings(const VoltageCeilings &newCeilings) { ceilings = newCeilings; }

    // What happened to the bridge, as the stale rules and the latch need to know it.
    void connected();
    void connectionFailed();
    void pollStopped();

    // One tick: the module's registers in their fixed order. True when the tick completed.
    bool poll();

    // Makes the session a remote module's: from now on its ticks come from `takeRemoteReading`
    // and its commands go to `link`.
    void setRemoteLink(const RemoteLink &link);
    bool isRemote() const { return bool(remote.execute); }
    // A tick the service read, with the service's event latch; `stale`: the service itself marks
    // the reading stale, and so does the session until a live one comes.
    void takeRemoteReading(const Reading &reading, quint16 latched, bool stale);
    // The service went silent or offline: the readings are stale until its next message.
    void remoteSilent();
    // Why the operator cannot command the module now ("remote commands are off at the
    // service"); empty when they can. Only a remote module is ever blocked.
    QString commandBlock() const { return blockedBecause; }
    void setCommandBlock(const QString &why);

    // The last complete tick at the current address on this connection; null before one.
    const Reading *lastReading() const { return recentTicks.isEmpty() ? nullptr : &newest; }
    // The last complete tick of any connection or address; a zero reading before the first.
    const Reading &newestReading() const { return newest; }
    // The serial-number word the last tick read: 0xFFFF while nothing answers at the address.
    quint16 serialWord() const { return serial; }
    // Every event the module reported since the connection or the channel's last clear.
    quint16 eventLatch() const { return latch; }
    void clearEvents(int channel);
    bool isStale() const;
    // When the module was last heard of: its last complete tick, or the connection.
    qint64 silentSince() const { return freshness.silentSince(); }
    // Three ticks in a row did not complete: the module does not answer.
    bool isSilent() const { return freshness.isSilent(); }
    // When the module at the current address last completed a tick (milliseconds since the
    // epoch); 0 when it never did.
    qint64 lastAnswer() const { return lastAnswerMs; }
    // When the newest complete tick on this connection at this address ended (see monotonicMs);
    // false before one. A remote module that is not stale counts as read now: its service judges
    // every command against its own newest tick, and refuses it when that is not current.
    bool newestTickEnd(qint64 *monotonic) const;

    // Carries out a command's writes in order. A re-sent set voltage is the one the module holds
    // at that moment, read back on the bus before anything is written (or the one this list wrote
    // before it), and is left out on a tripped channel. A list with a set voltage above its
    // channel's ceiling is refused whole, before any cycle. Reports failures, refusals and notes
    // through the signals below as well as in the result.
    CommandOutcome execute(const WriteList &writes);
    // Commands whose cycles failed since the session began, and the newest failure's text.
    int failedCommands() const { return failures; }
    QString lastFailure() const { return lastFailureText; }

    // Whether a command that reached the program at `receivedMs` (see monotonicMs) may be
    // written now against the newest reading.
    CommandFreshness commandFreshness(qint64 receivedMs) const;

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
    // A command's cycle failed, or the command was refused before any cycle (see
    // CommandOutcome::failure); the rest of it was not written.
    void commandFailed(const QString &text);
    // A command did what was asked, and the operator must know more (CommandOutcome::notes).
    void commandNote(const QString &text);
    void commandBlockChanged(const QString &why);

private:
    bool takeReading(Reading *reading);
    // The debug lines and `alarmRaised` for the channels that newly turned red.
    void takeRedAlarms(const Reading &reading);
    quint16 readRegister(Register reg, int *status = nullptr);
    void updateStale();

    Bridge *bridge;
    quint32 address;
    QString moduleName;
    bool furtherModule = false;
    qint64 lastAnswerMs = 0;
    ResolutionSelection options;
    VoltageCeilings ceilings;
    Freshness freshness;
    bool staleShown = false;
    Reading newest;
    // When the reads of the last complete ticks at the current address on this connection began
    // and ended, on the monotonic clock; empty until one has read the module there, when `newest`
    // may still be another module's.
    RecentTicks recentTicks;
    int failures = 0;
    QString lastFailureText;
    RedAlarmWatch redAlarms;
    quint16 serial = 0;
    quint16 latch = 0;
    RemoteLink remote;
    // A remote module's readings are stale as its service says, or while the service is silent.
    bool remoteStale = true;
    QString blockedBecause;
};

} // namespace Brelk

#endif // MODULESESSION_H
