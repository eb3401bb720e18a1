// The status and the word of a read and of a write on either backend, with the module answering,
// with nothing there and with the link down. Each backend has its own codes for these.
#ifndef BACKENDCYCLESTATUS_H
#define BACKENDCYCLESTATUS_H

#include "cvmecontroller.h"
#include "simcontrol.h"

#include <QtTest>

// `done` is the status of an answered cycle, `busError` that of an unanswered one; a failed link
// gives `linkStatus` and the word `linkWord`.
inline void cycleStatusRows(int done, int busError, int linkStatus, quint16 linkWord)
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("addressModifier");
    QTest::addColumn<int>("status");
    QTest::addColumn<quint16>("word");

    const quint32 serial = 0xDD3C;
    const quint16 none = 0xFFFF;
    QTest::newRow("module answers") << "" << serial << 0x29 << done << quint16(0x2101);
    QTest::newRow("nothing at the address") << "" << 0xC000u << 0x29 << busError << none;
    QTest::newRow("supervisory modifier") << "" << serial << 0x2D << busError << none;
    QTest::newRow("module missing") << "BRELKSIM_NO_MODULE" << serial << 0x29 << busError << none;
    QTest::newRow("link fails") << "BRELKSIM_CYCLES_FAIL" << serial << 0x29 << linkStatus
                                << linkWord;
}

// A read, then a write, of the row's address on a controller just opened.
inline void checkCycleStatus(CVmeController &controller, SimControl &sim)
{
    QFETCH(QString, fault);
    QFETCH(quint32, address);
    QFETCH(int, addressModifier);
    QFETCH(int, status);
    if (!fault.isEmpty())
        QVERIFY(sim.configure(fault, "on"));

    QVERIFY(controller.open(0));
    int readStatus = 12345;
    QTEST(controller.read16(address, addressModifier, &readStatus), "word");
    QCOMPARE(readStatus, status);
    int writeStatus = 12345;
    controller.write16(address, addressModifier, 0x0000, &writeStatus);
    QCOMPARE(writeStatus, status);
    QCOMPARE(sim.cycles().size(), 2);
    QVERIFY(controller.close());
}

#endif // BACKENDCYCLESTATUS_H
