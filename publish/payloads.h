// The JSON documents the panel publishes: one per channel, one describing the module and its
// bridge. Pure functions of a tick and of the panel's context; no network, no widgets. A channel's
// document also carries the register words its values were decoded from, so that a panel attached
// through the broker decodes the very same words (see remotereading.h).
#ifndef PAYLOADS_H
#define PAYLOADS_H

#include "commands.h"
#include "reading.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QVector>

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
    // The operator's name for the module ("Drift chamber"); published only where there is one.
    QString name{};
};

// `<prefix>/a` or `<prefix>/b`: the channel's values of one tick. `events` is a channel event
// byte (the events gathered since the channel's previous message).
QJsonObject channelPayload(const Reading &reading, int channel, quint8 events, bool stale);

// The words of a channel's document: the channel's own registers as the tick read them (the
// measured voltage from the register the voltage resolution reads, the second range's current
// only with a second range), the serial number, and the status and status-2 words, of which only
// the channel's byte counts; each slot points into `reading`.
struct WordSlot
{
    Register reg;
    quint16 *word;
};
QVector<WordSlot> channelWordSlots(Reading &reading, int channel);

// The keys a channel's document has beside its values: "words", the register words of the tick
// keyed by their offset in two lower-case hexadecimal digits ("00", "3c"), each four lower-case
// hexadecimal digits, with the other channel's byte of the shared status words zero; "latched",
// the channel's byte of the event latch in the same form; "resolution", the selection the tick
// read under as [voltage, current, second range] names ("1V", "1uA", "none").
void addTickWords(QJsonObject *message, const Reading &reading, int channel, quint16 latched);

// The hexadecimal forms of a word and of a register offset used in the documents.
QString wordText(quint16 word);
QString offsetText(Register reg);

// `<prefix>/module`. `hasModule` false gives "serial": null (no module answers).
QJsonObject modulePayload(const ModuleContext &context, bool hasModule, quint16 serialNumber);

// One line of compact UTF-8 JSON.
QByteArray compactJson(const QJsonObject &object);

} // namespace Brelk

#endif // PAYLOADS_H
