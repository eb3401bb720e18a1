#include "fakecontroller.h"

#include <QDebug>
#include <QString>
#include <QtTest>

QDebug operator<<(QDebug debug, const BusCycle &cycle)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << (cycle.write ? "W(" : "R(") << Qt::hex << Qt::showbase << cycle.address
                    << ", " << cycle.addressModifier << ", " << cycle.data << ")";
    return debug;
}

char *toString(const BusCycle &cycle)
{
    const QString text = QString::asprintf("%s(0x%04X, 0x%02X, 0x%04X)", cycle.write ? "W" : "R",
                                           cycle.address, cycle.addressModifier, cycle.data);
    return qstrdup(text.toLatin1().constData());
}

void FakeController::systemReset(int *error)
{
    if (error)
        *error = status;
}

void FakeController::write16(quint32 address, int addressModifier, quint16 data, int *error)
{
    if (recordCycles)
        cycles.append({address, addressModifier, data, true});
    if (error)
        *error = writeStatus != 0 ? writeStatus : status;
}

quint16 FakeController::read16(quint32 address, int addressModifier, int *error)
{
    const quint16 word = registers.value(address, 0);
    if (recordCycles)
        cycles.append({address, addressModifier, word, false});
    if (error)
        *error = status;
    return word;
}
