// The reduction of a span of the sample store to pixel columns: per column the first, last,
// minimum and maximum of every plotted series and the events that rose in it, so that a plot
// draws a handful of points per column however many ticks the span holds.
#ifndef COLUMNREDUCTION_H
#define COLUMNREDUCTION_H

#include "samplestore.h"

namespace Brelk {

struct Column
{
    // The records [firstSeq, endSeq) fall into this column; none when they are equal.
    qint64 firstSeq = 0;
    qint64 endSeq = 0;
    // A line joins this column's first record to the previous column's last one: the record
    // before it is in the reduced span and no gap lies between them.
    bool joinsPrevious = false;
    Extent extent;
    float first[SeriesCount];
    float last[SeriesCount];

    bool isEmpty() const { return firstSeq == endSeq; }
};

// Column c covers the times [ceil(start + c * msPerColumn), ceil(start + (c + 1) * msPerColumn)).
qint64 columnStart(double start, double msPerColumn, qint64 column);

// Fills `out[0..columns)` from the records in [start, columnStart(start, msPerColumn, columns)).
void reduceColumns(const SampleStore &store, double start, double msPerColumn, Column *out,
                   int columns);

// Reduces one column alone, as reduceColumns would; `viewFirstSeq` is the first record of the
// whole reduced span.
void reduceColumn(const SampleStore &store, qint64 from, qint64 to, qint64 viewFirstSeq,
                  Column *out);

} // namespace Brelk

#endif // COLUMNREDUCTION_H
