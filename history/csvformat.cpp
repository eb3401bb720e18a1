#include "csvformat.h"

#include "display.h"

#include <QStringList>

namespace Brelk {

QString csvHeader()
{
    QStringList columns{QStringLiteral("time")};
    for (const char *channel : {"a", "b"}) {
        for (const char *name : {"vset_%1_V", "vmeas_%1_V", "imeas_%1_A", "imeas2_%1_A", "state_%1",
                                 "hv_%1", "events_%1"})
            columns << QString::fromLatin1(name).arg(QLatin1String(channel));
    }
    return columns.join(QLatin1Char(','));
}

QString csvRow(const Reading &reading, quint16 eventsSincePreviousRow)
{
    QStringList fields{isoLocalTime(reading.time)};
    for (int ch = 0; ch < 2; ++ch) {
        const quint8 status = channelByte(reading.status, ch);
        fields << setVoltsDecimal(reading, ch) << measuredVoltsDecimal(reading, ch)
               << measuredAmperesDecimal(reading, ch) << secondRangeAmperesDecimal(reading, ch)
               << channelStateText(status) << hvText(status)
               << eventText(channelByte(eventsSincePreviousRow, ch));
    }
    return fields.join(QLatin1Char(','));
}

} // namespace Brelk
