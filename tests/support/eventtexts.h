// The texts of the crate events of one kind that a spy on CrateRuntime::happened caught, in order.
#ifndef EVENTTEXTS_H
#define EVENTTEXTS_H

#include "crateevent.h"

#include <QSignalSpy>
#include <QStringList>

inline QStringList eventTexts(const QSignalSpy &happened, Brelk::CrateEvent::Kind kind)
{
    QStringList texts;
    for (const QList<QVariant> &arguments : happened) {
        const Brelk::CrateEvent event = arguments.first().value<Brelk::CrateEvent>();
        if (event.kind == kind)
            texts << event.text;
    }
    return texts;
}

#endif // EVENTTEXTS_H
