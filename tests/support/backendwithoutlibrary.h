// A backend whose vendor library is not on the search path, or lacks an entry point: it exists but
// attempts nothing. The same checks for each backend, told what that backend answers.
#ifndef BACKENDWITHOUTLIBRARY_H
#define BACKENDWITHOUTLIBRARY_H

#include "cvmecontroller.h"
#include "messagecapture.h"
#include "simcontrol.h"

#include <QLibrary>
#include <QObject>
#include <QStringList>
#include <QtTest>

#include <functional>
#include <memory>
#include <utility>

struct BackendFacts
{
    const char *library; // as the backend loads it
    std::function<CVmeController *()> make;
    // The lines the backend prints while it loads `library`, the library it loads itself.
    std::function<QStringList(QLibrary &)> loadingLines;
    QString name;
    QString notConnected; // the info text without a library
    bool closes;          // what close() reports without a library
    int failed;           // the status of a cycle without a library
    quint16 failedWord;   // the word such a read gives
    bool resetFails;      // a system reset reports `failed`, rather than leaving the status alone
};

class BackendWithoutLibrary : public QObject
{
    Q_OBJECT

public:
    // `incomplete`: the library is the stand-in that lacks an entry point; else none is there.
    BackendWithoutLibrary(BackendFacts facts, bool incomplete)
        : facts(std::move(facts)), incomplete(incomplete), sim(QLatin1String(this->facts.library))
    {
    }

private slots:
    void initTestCase()
    {
        if (!incomplete && QLibrary(QLatin1String(facts.library)).load())
            QSKIP("The vendor's library is installed on this machine");
        QCOMPARE(sim.isLoaded(), incomplete);
    }

    void debugLinesAndErrorText()
    {
        QLibrary probe(QLatin1String(facts.library));
        QStringList expectedLines;
        QString expectedError;
        if (incomplete) {
            QVERIFY(probe.load());
            expectedLines = facts.loadingLines(probe);
            expectedError = QStringLiteral("Error while loading shared library '%1'!")
                                .arg(QLatin1String(facts.library));
        } else {
            // A further file name the backend tries is not reported: the first name's failure is.
            QVERIFY(!probe.load());
            expectedError = probe.errorString();
            expectedLines << QLatin1Char('"') + expectedError + QLatin1Char('"');
        }
        MessageCapture debug;
        const std::unique_ptr<CVmeController> controller(facts.make());
        QCOMPARE(debug.lines(), expectedLines);
        QCOMPARE(controller->errorString(), expectedError);
    }

    void openFails()
    {
        const std::unique_ptr<CVmeController> controller(facts.make());
        const QString error = controller->errorString();
        QVERIFY(!controller->open(0));
        QCOMPARE(controller->close(), facts.closes);
        QCOMPARE(controller->errorString(), error);
        QCOMPARE(controller->name(), facts.name);
        QCOMPARE(controller->infoString(), facts.notConnected);
    }

    void operationsAttemptNothing()
    {
        sim.reset();
        const std::unique_ptr<CVmeController> controller(facts.make());
        int readStatus = 0;
        int writeStatus = 0;
        int resetStatus = 12345;
        QCOMPARE(controller->read16(base + 0x3C, am, &readStatus), facts.failedWord);
        controller->write16(base + 0x34, am, 100, &writeStatus);
        controller->systemReset(&resetStatus);
        QCOMPARE(readStatus, facts.failed);
        QCOMPARE(writeStatus, facts.failed);
        QCOMPARE(resetStatus, facts.resetFails ? facts.failed : 12345);

        // Without a status to hand back as well.
        QCOMPARE(controller->read16(base + 0x3C, am), facts.failedWord);
        controller->write16(base + 0x34, am, 100);
        controller->systemReset();
        QVERIFY(sim.cycles().isEmpty());
    }

private:
    static constexpr quint32 base = 0xDD00;
    static constexpr int am = 0x29;

    BackendFacts facts;
    bool incomplete;
    SimControl sim;
};

#endif // BACKENDWITHOUTLIBRARY_H
