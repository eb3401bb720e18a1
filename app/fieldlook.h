// The look of one field that the poll writes: its alarm colour and whether its reading is stale.
// A stale field keeps its text, so the operator still sees the last value, but is drawn in italic
// with the window's disabled text colour; it keeps its alarm background. The palette and font are
// set only when the look changes, which keeps the steady tick as cheap as before.
#ifndef FIELDLOOK_H
#define FIELDLOOK_H

#include "alarms.h"

#include <QFont>
#include <QPalette>

class QLineEdit;

// Colours `palette`'s Base and Text roles as a reading in `alarm` is drawn, stale or not: the
// colours of a field of the form and of a cell of the overview. `disabledText`: the window's
// disabled text colour, the text colour of a stale reading.
void colourReading(QPalette *palette, Brelk::AlarmLevel alarm, bool stale,
                   const QColor &disabledText);

class FieldLook
{
public:
    explicit FieldLook(QLineEdit *field);

    void setAlarm(Brelk::AlarmLevel level);
    void setStale(bool stale);

    QLineEdit *field() const { return edit; }

private:
    void apply();

    QLineEdit *edit;
    QPalette normalPalette;
    QFont normalFont;
    Brelk::AlarmLevel alarm = Brelk::AlarmLevel::None;
    bool stale = false;
};

#endif // FIELDLOOK_H
