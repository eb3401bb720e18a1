// An in-memory controller for tests and benchmarks: registers held in a map, every cycle
// recorded as the module would see it.
#ifndef FAKECONTROLLER_H
#define FAKECONTROLLER_H

#include "cvmecontroller.h"

#include <QHash>
#include <QVector>

struct BusCycle
{
    quint32 address;
    int addressModifier;
    quint16 data;
    bool write;

    bool operator==(const BusCycle &other) const
    {
        return address == other.address && addressModifier == other.addressModifier &&
               data == other.data && write == other.write;
    }
};

QDebug operator<<(QDebug debug, const BusCycle &cycle);
// QCOMPARE prints differing lists through this.
char *toString(const BusCycle &cycle);

class FakeController : public CVmeController
{
public:
    bool open(int) override { return true; }
    bool close() override { return true; }
    QString errorString() override { return QString(); }
    QString name() override { return QStringLiteral("Fake"); }
    QString infoString() override { return QString(); }
    void systemReset(int *error) override;
    void write16(quint32 address, int addressModifier, quint16 data, int *error) override;
    quint16 read16(quint32 address, int addressModifier, int *error) override;

    // Words delivered by reads; unset addresses read 0.
    QHash<quint32, quint16> registers;
    // Status handed back through a non-null status pointer; a write hands back `writeStatus`
    // instead while that is not 0.
    int status = 0;
    int writeStatus = 0;
    bool recordCycles = true;
    QVector<BusCycle> cycles;
};

#endif // FAKECONTROLLER_H
