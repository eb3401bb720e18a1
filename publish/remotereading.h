// A panel attached through the broker to a service rebuilds each module from the service's
// `<prefix>/a`, `<prefix>/b` and `<prefix>/module` documents: the register words of the tick, the
// service's event latch and the resolution selection go back into a `Reading`, which the local
// conversions then turn into exactly what the service's own panel would show. Pure functions.
//
// A document is refused, with a debug line saying why, when what it gives would make the reading
// wrong: it is not a JSON object, a word the channel's values need is missing or not four
// hexadecimal digits, the resolution, latch, time or stale flag is missing or unreadable. Keys
// that are merely extra are ignored, whatever they hold: further keys of a newer service, the
// other channel's words, the values a subscriber reads ("vset", "state", ...), which are derived
// from the same words.
#ifndef REMOTEREADING_H
#define REMOTEREADING_H

#include "reading.h"

#include <QByteArray>
#include <QString>

namespace Brelk {

// One channel's document decoded.
struct RemoteChannel
{
    // The channel's registers, the serial number, the channel's byte of the status and status-2
    // words, the selection and the time; the other channel's registers and bytes are zero.
    Reading reading;
    // The channel's byte of the service's event latch (events kept until Clear).
    quint16 latched = 0;
    bool stale = false;
};

// `<prefix>/module` decoded: the keys an attached panel needs.
struct RemoteModule
{
    // False while no module answers the service ("serial": null).
    bool hasModule = false;
    quint16 serialNumber = 0;
    ResolutionSelection selection;
    // The service takes remote commands.
    bool commands = false;
    QString host;
    // The module's VME base address at its crate; 0 when the message names none.
    quint32 baseAddress = 0;
    // The operator's name for the module at its service; empty when it has none.
    QString name;
};

// `channel` 0 for `<prefix>/a`, 1 for `<prefix>/b`.
bool decodeChannelMessage(const QByteArray &payload, int channel, RemoteChannel *out);
bool decodeModuleMessage(const QByteArray &payload, RemoteModule *out);

// Puts a channel's part of `from` into the module's reading and latch; the other channel's part
// stays. The reading takes the time, serial number and selection of `from`.
void mergeChannel(const RemoteChannel &from, int channel, Reading *reading, quint16 *latched);

} // namespace Brelk

#endif // REMOTEREADING_H
