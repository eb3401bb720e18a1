// The JSON documents the panel publishes: one per channel, one describing the module and its
// bridge. Pure functions of a tick and of the panel's context; no network, no widgets.
#ifndef PAYLOADS_H
#define PAYLOADS_H

#include "commands.h"
#include "reading.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace Brelk {

// What the panel knows about the module besides its registers.
struct ModuleContext
{
    QString bridge; // the controller's name, e.g. "Wiener VM-USB"
    int baseAddress = 0;
    bool fineVoltage = false;
    CurrentResolution currentResolution = CurrentResolution::uA1;
    SecondRange secondRange = SecondRange::None;
    // Which program publishes: its host name, and host, process id and start time in one text
    // that no other program shares. Empty in a context that is not a running program's.
    QString host;
    QString instance;
    // The operator's ceilings on the set voltages; published only where there is one.
    VoltageCeilings ceilings{};
};

// `<prefix>/a` or `<prefix>/b`: the channel's values of one tick. `events` is a channel event
// byte (the events gathered since the channel's previous message).
QJsonObject channelPayload(const Reading &reading, int channel, quint8 events, bool stale);

// `<prefix>/module`. `hasModule` false gives "serial": null (no module answers).
QJsonObject modulePayload(const ModuleContext &context, bool hasModule, quint16 serialNumber);

// One line of compact UTF-8 JSON.
QByteArray compactJson(const QJsonObject &object);

} // namespace Brelk

#endif // PAYLOADS_H
