#include "columnreduction.h"

#include <cmath>

namespace Brelk {

qint64 columnStart(double start, double msPerColumn, qint64 column)
{
    return qint64(std::ceil(start + double(column) * msPerColumn));
}

void reduceColumn(const SampleStore &store, qint64 from, qint64 to, qint64 viewFirstSeq,
                  Column *out)
{
    out->firstSeq = store.lowerBound(from);
    out->endSeq = store.lowerBound(to, out->firstSeq, store.end());
    if (out->isEmpty()) {
        out->joinsPrevious = false;
        return;
    }
    out->joinsPrevious = out->firstSeq > viewFirstSeq && !store.gapBefore(out->firstSeq);
    out->extent = store.extent(out->firstSeq, out->endSeq);
    store.values(out->firstSeq, out->first);
    store.values(out->endSeq - 1, out->last);
}

void reduceColumns(const SampleStore &store, double start, double msPerColumn, Column *out,
                   int columns)
{
    const qint64 viewFirstSeq = store.lowerBound(columnStart(start, msPerColumn, 0));
    for (int c = 0; c < columns; ++c)
        reduceColumn(store, columnStart(start, msPerColumn, c),
                     columnStart(start, msPerColumn, c + 1), viewFirstSeq, out + c);
}

} // namespace Brelk
