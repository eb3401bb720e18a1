// The service's stored trend as the attached panel fetches it: the requests that cover the last
// 24 hours, the answers turned back into ticks of register words, and the ticks of both channels
// joined into the complete ticks the module's trend store takes in front of its live ones. A
// column of an answer becomes its minimum, maximum and last values as three ticks within the
// column (one tick when the three agree), so that the trend window's own reduction to pixel columns
// shows what the service's store shows, and a column of one tick is that tick. Pure functions;
// Qt Core only.
#ifndef FETCHEDHISTORY_H
#define FETCHEDHISTORY_H

#include "reading.h"

#include <QByteArray>

#include <vector>

namespace Brelk {

struct HistoryAsk
{
    int channel = 0;
    int spanSeconds = 0;
    int columns = 0;
    int beforeSeconds = 0;
    // One column a tick: these columns replace the coarse ones of the day where both exist.
    bool fine = false;
};

// Per channel the last hour in spans of 400 s at 100 ms a column, the newest first, then the
// whole day at 4096 columns; the channels alternate, so that both see the store alike.
std::vector<HistoryAsk> historyAsks();
// {"span":..., "channel":..., "columns":...[, "before":...]}
QByteArray historyAskPayload(const HistoryAsk &ask);

struct FetchedRecord
{
    int channel = 0;
    // The end of the column the tick stands for, on the service's time axis: a live tick from then
    // on is not in it.
    qint64 until = 0;
    // At its time on the service's time axis, with the words of `channel` only.
    Reading reading;
};

// The ticks of an answer for `channel`, in time order, the values converted back to the words
// they were read from under `selection`; none for a column without a tick. False, with a debug
// line, for a refusal ({"error":...}) and for an answer that cannot be read.
bool fetchedRecords(const QByteArray &payload, int channel, const ResolutionSelection &selection,
                    std::vector<FetchedRecord> *records);

// The complete ticks, in time order, of the answers' records: the fine records of each channel
// once, the coarse ones of columns that end by the first fine one, both channels' words in every
// tick (a channel keeps the words of its latest tick until its next), and only ticks whose column
// ended by `firstLive` (the first live tick's time on the same axis).
std::vector<Reading> joinFetched(const std::vector<FetchedRecord> &coarse,
                                 const std::vector<FetchedRecord> &fine,
                                 const ResolutionSelection &selection, qint64 firstLive);

} // namespace Brelk

#endif // FETCHEDHISTORY_H
