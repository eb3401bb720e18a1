#include "crate.h"

#include "bridge.h"
#include "modulesession.h"

#include <QTimer>

#include <algorithm>

namespace Brelk {

Crate::Crate(Bridge *bridge, quint32 firstAddress, QObject *parent) : QObject(parent), bus(bridge)
{
    sessions.push_back(new ModuleSession(bridge, firstAddress, this));
}

ModuleSession *Crate::module(quint32 address) const
{
    for (ModuleSession *session : sessions) {
        if (session->baseAddress() == address)
            return session;
    }
    return nullptr;
}

bool Crate::isAddressTaken(quint32 address, const ModuleSession *except) const
{
    if (sharedAddresses)
        return false;
    const ModuleSession *holder = module(address);
    return holder && holder != except;
}

ModuleSession *Crate::addModule(const ModuleConfig &config)
{
    if (isAddressTaken(config.address) ||
        sessions.size() >= (sharedAddresses ? MostSharedModules : Settings::MostModules))
        return nullptr;
    auto *session = new ModuleSession(bus, config.address, this);
    session->setFurtherModule(true);
    session->setName(config.name);
    session->setSelection(config.selection);
    session->setVoltageCeilings(config.ceilings);
    // A module added while the bridge is open is polled from the next tick as after a connection.
    if (bus && bus->isOpen())
        session->connected();
    sessions.push_back(session);
    sortFurtherModules();
    emit moduleAdded(session);
    emit orderChanged();
    return session;
}

void Crate::removeModule(ModuleSession *module)
{
    const int index = sessions.indexOf(module);
    if (index <= 0)
        return;
    emit moduleRemoving(module);
    sessions.remove(index);
    paused.removeAll(module);
    delete module;
    emit orderChanged();
}

bool Crate::moveModule(ModuleSession *module, quint32 address)
{
    if (isAddressTaken(address, module))
        return false;
    module->setBaseAddress(address);
    sortFurtherModules();
    emit orderChanged();
    return true;
}

void Crate::pause(ModuleSession *module)
{
    pending.removeAll(module);
    if (!paused.contains(module))
        paused.push_back(module);
    module->pollStopped();
}

void Crate::resume(ModuleSession *module)
{
    paused.removeAll(module);
}

void Crate::connected()
{
    for (ModuleSession *session : sessions)
        session->connected();
}

void Crate::connectionFailed()
{
    pending.clear();
    tickAsked = false;
    for (ModuleSession *session : sessions)
        session->connectionFailed();
}

void Crate::pollStopped()
{
    pending.clear();
    tickAsked = false;
    for (ModuleSession *session : sessions)
        session->pollStopped();
}

void Crate::tick()
{
    if (isTicking()) {
        tickAsked = true;
        return;
    }
    for (ModuleSession *session : sessions) {
        if (!paused.contains(session))
            pending.push_back(session);
    }
    pollNext();
}

void Crate::pollAll()
{
    pending.clear();
    for (ModuleSession *session : sessions) {
        if (!paused.contains(session))
            session->poll();
    }
    emit tickEnded();
}

void Crate::pollNext()
{
    while (!pending.isEmpty()) {
        const QPointer<ModuleSession> session = pending.takeFirst();
        if (!session)
            continue;
        session->poll();
        if (!pending.isEmpty()) {
            QTimer::singleShot(0, this, &Crate::pollNext);
            return;
        }
    }
    emit tickEnded();
    if (tickAsked) {
        // After a turn of the event loop, as between two modules.
        QTimer::singleShot(0, this, [this] {
            if (!tickAsked)
                return;
            tickAsked = false;
            tick();
        });
    }
}

void Crate::sortFurtherModules()
{
    std::sort(sessions.begin() + 1, sessions.end(),
              [](const ModuleSession *a, const ModuleSession *b) {
                  return a->baseAddress() < b->baseAddress();
              });
}

} // namespace Brelk
