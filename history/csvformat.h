// The comma-separated text of the panel's samples, shared by the data log and the history's CSV
// export: one header line and one row per sample, both without the line end. Numbers are exact
// decimal texts of the register counts in volts and amperes, the time is local ISO-8601 with a
// numeric offset, and no field ever holds a comma, so nothing is quoted.
#ifndef CSVFORMAT_H
#define CSVFORMAT_H

#include "reading.h"

#include <QString>

namespace Brelk {

// "time,vset_a_V,vmeas_a_V,imeas_a_A,imeas2_a_A,state_a,hv_a,events_a,vset_b_V,...,events_b"
QString csvHeader();

// One row for `reading`. `eventsSincePreviousRow` is the regStatus2 words of every complete tick
// after the previous row up to and including this one, OR-ed; each channel's byte becomes its
// event names joined by "+". The second-range column is empty without a second range.
QString csvRow(const Reading &reading, quint16 eventsSincePreviousRow);

} // namespace Brelk

#endif // CSVFORMAT_H
