// Every module of the crate behind the one bridge: the first module (the one of "BaseAddress"),
// then the further modules in ascending address order, each with a session of its own. A tick
// reads every module in that order; a module that does not answer ends only its own part of the
// tick. Between two modules' parts the event loop runs, so that a window answers its operator
// while a crate of slow modules is read.
#ifndef CRATE_H
#define CRATE_H

#include "settings.h"

#include <QObject>
#include <QPointer>
#include <QVector>

namespace Brelk {

class Bridge;
class ModuleSession;

class Crate : public QObject
{
    Q_OBJECT

public:
    Crate(Bridge *bridge, quint32 firstAddress, QObject *parent = nullptr);

    Bridge *bridge() const { return bus; }
    ModuleSession *first() const { return sessions.first(); }
    // Every module in the order of the tick.
    const QVector<ModuleSession *> &modules() const { return sessions; }
    ModuleSession *module(quint32 address) const;
    bool isAddressTaken(quint32 address, const ModuleSession *except = nullptr) const;

    // Modules of several crates, seen through the broker: two of them may stand at one address,
    // and there may be up to 64.
    void setAddressesShared(bool shared) { sharedAddresses = shared; }
    static constexpr int MostSharedModules = 64;

    // A further module; null when the address is taken or the crate holds 16 modules already.
    ModuleSession *addModule(const ModuleConfig &config);
    void removeModule(ModuleSession *module);
    // Moves a module to a free address and keeps the tick's order; false when it is taken.
    bool moveModule(ModuleSession *module, quint32 address);

    // A paused module is left out of every tick, and its readings are stale until a tick after
    // it is resumed; the rest of the crate keeps its ticks (the Module Address dialog of one
    // module pauses only that module).
    void pause(ModuleSession *module);
    void resume(ModuleSession *module);
    bool isPaused(const ModuleSession *module) const { return paused.contains(module); }

    // What happened to the bridge, told to every module.
    void connected();
    void connectionFailed();
    void pollStopped();

    // Reads the first module now and each further module at a later turn of the event loop. A
    // tick asked for before the last one ended starts when it ends: a crate whose reads take
    // longer than the poll interval is read over and over, never twice at once.
    void tick();
    // Reads every module at once.
    void pollAll();
    bool isTicking() const { return !pending.isEmpty(); }

signals:
    void moduleAdded(Brelk::ModuleSession *module);
    // Just before the module's session is deleted.
    void moduleRemoving(Brelk::ModuleSession *module);
    // The tick's order changed: a module was added, removed or moved.
    void orderChanged();
    // After the last module's part of a tick.
    void tickEnded();

private:
    void pollNext();
    void sortFurtherModules();

    Bridge *bus;
    QVector<ModuleSession *> sessions;
    QVector<QPointer<ModuleSession>> pending;
    QVector<const ModuleSession *> paused;
    bool tickAsked = false;
    bool sharedAddresses = false;
};

} // namespace Brelk

#endif // CRATE_H
