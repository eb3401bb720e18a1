// Decoding of the module's register words and the texts the panel shows for them. Pure
// functions: no widgets, no controller, no locale (numbers always use "." as decimal point).
#ifndef DISPLAY_H
#define DISPLAY_H

#include "programversion.h"
#include "reading.h"
#include "registermap.h"

#include <QString>
#include <QStringList>

namespace Brelk {

// The program's name: the title of its dialogs and message boxes.
constexpr char ProgramName[] = "pavex BRELK Control";
// The version as --version, the About box, the Windows resources and the module message give it,
// and its first two numbers as the main window's title gives them.
constexpr char ProgramVersion[] = BRELK_VERSION;
constexpr char ProgramShortVersion[] = BRELK_VERSION_SHORT;

// Translation in the panel's context; every user-visible text goes through it.
QString tr(const char *sourceText);

// A module's VME base address as the panel writes it everywhere: "0xDD00".
QString baseAddressText(quint32 address);
// A time of day as the panel shows it, in local time: "14:03:27".
QString localTimeText(qint64 msecsSinceEpoch);
// What starts a further module's lines: "0xDC00 (Drift chamber): ", or "0xDC00: " without a name.
QString moduleLinePrefix(const QString &name, quint32 address);

// One-word channel state by priority: error, manual, ramp (with direction), else stable.
QString channelStateText(quint8 statusByte);
QString polarityText(quint8 statusByte);
QString killText(quint8 statusByte);
QString hvText(quint8 statusByte);

// Event names of one channel's event byte in the order QUA, VLIM, ILIM, TRP, INH.
QStringList eventNames(quint8 eventByte);
// The same names joined by "+"; empty when there is no event.
QString eventText(quint8 eventByte);

int limitVoltagePercent(quint16 limitsWord);
int limitCurrentPercent(quint16 limitsWord);
QString limitVoltageText(quint16 limitsWord);
QString limitCurrentText(quint16 limitsWord);

// First-range current count to amperes; `decimals` receives the number of decimals for the
// fixed-point display of measured currents at this resolution.
double scaleCurrent(quint16 count, CurrentResolution resolution, int &decimals);

// With the standard 1 uA resolution first-range currents are shown in mA, with any finer one
// in uA: the unit follows the selected resolution, not the size of the value.
bool firstRangeInMilliamps(CurrentResolution resolution);

QString voltsText(double volts);
QString rampSpeedText(double voltsPerSecond);
QString measuredVoltsText(double volts, bool fineResolution);
QString measuredCurrentText(double amperes, CurrentResolution resolution, int decimals);
QString softLimitText(double amperes, CurrentResolution resolution);
// "----" for a module without a second range.
QString secondRangeCurrentText(double amperes, SecondRange range);
QString secondRangeLimitText(double amperes, SecondRange range);

QString serialNumberMessage(quint16 serialNumber);

// A text from the network or from a file, made safe for one log line: control characters (C0,
// DEL, C1) and the Unicode line separators are written as escapes ("\n", "\x1b", "\u2028"), so
// that no such text can start a forged line or drive a terminal.
QString escapedForLog(const QString &text);

// Every text a complete tick shows for one channel, as the main window's fields show it.
struct ChannelTexts
{
    QString vset, ramp, vmeas, imeas, imeas2, state, polarity, kill, hv, events, limitV, limitI,
        softLimitI, softLimitI2;
};
// `latchedEvents`: the events kept until Clear, both channels' bytes. Without a second range its
// texts read "----", whatever was measured before.
ChannelTexts channelTexts(const Reading &reading, int channel, quint16 latchedEvents);

} // namespace Brelk

#endif // DISPLAY_H
