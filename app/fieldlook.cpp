#include "fieldlook.h"

#include <QLineEdit>

using Brelk::AlarmLevel;

namespace {

const QColor AlarmRed(0xD0, 0x10, 0x10);
const QColor AlarmAmber(0xFF, 0xB0, 0x00);

} // namespace

void colourReading(QPalette *palette, AlarmLevel alarm, bool stale, const QColor &disabledText)
{
    if (alarm == AlarmLevel::Red) {
        palette->setColor(QPalette::Base, AlarmRed);
        palette->setColor(QPalette::Text, Qt::white);
    } else if (alarm == AlarmLevel::Amber) {
        palette->setColor(QPalette::Base, AlarmAmber);
        palette->setColor(QPalette::Text, Qt::black);
    }
    if (stale)
        palette->setColor(QPalette::Text, disabledText);
}

FieldLook::FieldLook(QLineEdit *field)
    : edit(field), normalPalette(field->palette()), normalFont(field->font())
{
}

void FieldLook::setAlarm(AlarmLevel level)
{
    if (alarm == level)
        return;
    alarm = level;
    apply();
}

void FieldLook::setStale(bool isStale)
{
    if (stale == isStale)
        return;
    stale = isStale;
    apply();
}

void FieldLook::apply()
{
    QPalette palette = normalPalette;
    colourReading(&palette, alarm, stale,
                  edit->window()->palette().color(QPalette::Disabled, QPalette::Text));
    QFont font = normalFont;
    if (stale)
        font.setItalic(true);
    edit->setPalette(palette);
    edit->setFont(font);
}
