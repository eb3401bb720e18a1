// The history window on the real main window: the Tools menu opens one window that records every
// complete tick from start-up, closing only hides it, the plot repaints only for what it draws,
// panning and zooming leave live mode, and the CSV export writes the visible ticks of a day.
#include "brelkcontroltestaccess.h"
#include "csvformat.h"
#include "dialogdriver.h"
#include "fakecontroller.h"
#include "historywindow.h"
#include "settingsfile.h"
#include "traceplot.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using Access = BrelkControlTestAccess;
using namespace Brelk;

namespace {

// Counts the paint events a widget receives.
struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void paintsWhatItDraws();
    void panZoomAndLive_data();
    void panZoomAndLive();
    void exportWritesTheVisibleTicks_data();
    void exportWritesTheVisibleTicks();
    void exportOfADayKeepsThePollGoing();
    // Last: it ends with Quit.
    void recordsFromStartUpAndReopens();

private:
    HistoryWindow *history() { return window->findChild<HistoryWindow *>(); }
    QAction *action() { return window->findChild<QAction *>(QStringLiteral("actionHistory")); }
    bool showHistory()
    {
        action()->trigger();
        return QTest::qWaitForWindowExposed(history());
    }
    void ticks(int count)
    {
        for (int i = 0; i < count; ++i)
            Access::tick(*window);
    }

    std::unique_ptr<BrelkControl> window;
    FakeController *bus = nullptr;
};

void TestHistory::initTestCase()
{
    QLibrary simulator("libxxusb");
    QVERIFY2(simulator.load(), "the module simulator is not on the library search path");
    QFile::remove(settingsPath());
}

void TestHistory::init()
{
    window.reset(new BrelkControl);
    bus = new FakeController;
    bus->recordCycles = false;
    Access::useController(*window, bus);
    bus->registers[0xDD00 + regSerialNumber] = 0x1234;
    bus->registers[0xDD00 + regVmeas_A] = 1000;
    bus->registers[0xDD00 + regImeas_A] = 10;
    window->show();
}

void TestHistory::cleanup()
{
    window.reset();
}

void TestHistory::recordsFromStartUpAndReopens()
{
    QVERIFY(action());
    QCOMPARE(action()->text(), QStringLiteral("History"));
    HistoryWindow *h = history();
    QVERIFY(h);
    QVERIFY(!h->isVisible());
    ticks(5);
    QCOMPARE(h->samples().size(), 5);

    action()->trigger();
    QVERIFY(h->isVisible());
    QCOMPARE(h->windowTitle(), QStringLiteral("History - pavex BRELK Control"));
    QCOMPARE(h->parentWidget(), window.get());
    QVERIFY(h->isWindow());
    QCOMPARE(h->windowModality(), Qt::NonModal);

    QVERIFY(h->close());
    QVERIFY(!h->isVisible());
    ticks(3);
    action()->trigger();
    QCOMPARE(window->findChildren<HistoryWindow *>().size(), 1);
    QCOMPARE(history(), h);
    QVERIFY(h->isVisible());
    QCOMPARE(h->samples().size(), 8);
    QCOMPARE(h->samples().reading(h->samples().end() - 1).vmeas[0], quint16(1000));

    // File > Quit closes the main window, and the history window never keeps the program alive on
    // its own: if it kept the event loop going, the guard would end it with a failure.
    QTimer::singleShot(0, window.get(), [this] {
        window->findChild<QAction *>(QStringLiteral("actionQuit"))->trigger();
    });
    QTimer::singleShot(5000, h, [] { QCoreApplication::exit(1); });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window->isVisible());
}

// A repaint of a few pixel columns, as a ramping channel asks for at every tick, draws there
// exactly what a repaint of the whole plot draws; the plot repaints only for what it draws.
void TestHistory::paintsWhatItDraws()
{
    QVERIFY(showHistory());
    TracePlot *plot = history()->plot();
    // Ten minutes of a ramp with a gap, both channels, dashed set voltages included.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    Reading reading;
    reading.vset[0] = 3000;
    reading.vset[1] = 1500;
    for (qint64 t = now - 600000; t <= now; t += 100) {
        if (t > now - 300000 && t < now - 280000)
            continue;
        reading.time = t;
        reading.vmeas[0] = quint16((t - (now - 600000)) / 200);
        reading.vmeas[1] = quint16(1500 - (t - (now - 600000)) / 400);
        reading.imeas[0] = quint16(reading.vmeas[0] / 100);
        history()->addEarlierReading(reading, t - now);
    }
    QCoreApplication::processEvents();

    const QImage whole = plot->grab().toImage();
    for (int left : {0, plot->width() / 3, plot->width() / 2 + 7, plot->width() - 6}) {
        const QRect part(left, 0, 5, plot->height());
        QImage image(whole.size(), whole.format());
        image.fill(Qt::magenta);
        plot->render(&image, part.topLeft(), QRegion(part));
        QCOMPARE(image.copy(part), whole.copy(part));
    }

    window->findChild<QPushButton *>(QStringLiteral("historySpan86400"))->click();
    QCOMPARE(plot->span(), 24 * 3600 * 1000);
    ticks(2);
    QCoreApplication::processEvents();
    PaintCounter counter;
    plot->installEventFilter(&counter);
    // At 24 h a pixel column lasts well over a minute: steady ticks land on the same pixels.
    for (int i = 0; i < 20; ++i) {
        ticks(1);
        QCoreApplication::processEvents();
    }
    QVERIFY2(counter.paints <= 1, qPrintable(QString::number(counter.paints)));
    counter.paints = 0;
    bus->registers[0xDD00 + regVmeas_A] = 500;
    ticks(1);
    QCoreApplication::processEvents();
    QVERIFY(counter.paints >= 1);
}

void TestHistory::panZoomAndLive_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<qint64>("span");
    QTest::newRow("drag") << QStringLiteral("drag") << qint64(10 * 60 * 1000);
    QTest::newRow("wheel in") << QStringLiteral("wheel") << qint64(8 * 60 * 1000);
}

void TestHistory::panZoomAndLive()
{
    QFETCH(QString, gesture);
    QFETCH(qint64, span);
    QVERIFY(showHistory());
    TracePlot *plot = history()->plot();
    ticks(3);
    auto *live = window->findChild<QPushButton *>(QStringLiteral("historyLive"));
    auto *tenMinutes = window->findChild<QPushButton *>(QStringLiteral("historySpan600"));
    QVERIFY(plot->isLive() && live->isChecked() && tenMinutes->isChecked());
    const qint64 end = plot->viewEnd();
    QVERIFY(end > history()->samples().time(history()->samples().end() - 1));

    const QPoint middle = plot->rect().center();
    if (gesture == QLatin1String("drag")) {
        QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, middle);
        QMouseEvent move(QEvent::MouseMove, middle + QPoint(100, 0), plot->mapToGlobal(middle),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(plot, &move);
        QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, middle + QPoint(100, 0));
        // Dragging to the right shows earlier times by as many pixel columns.
        QVERIFY(plot->viewEnd() < end - 90 * span / 1000);
    } else {
        QWheelEvent wheel(QPointF(middle), QPointF(plot->mapToGlobal(middle)), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(plot, &wheel);
        QVERIFY(!tenMinutes->isChecked());
    }
    QCOMPARE(plot->span(), span);
    QVERIFY(!plot->isLive());
    QVERIFY(!live->isChecked());

    // A view of the past stays put while ticks arrive; Live brings back the newest tick.
    const qint64 pastEnd = plot->viewEnd();
    ticks(2);
    QCOMPARE(plot->viewEnd(), pastEnd);
    live->click();
    QVERIFY(plot->isLive() && live->isChecked());
    QVERIFY(plot->viewEnd() > history()->samples().time(history()->samples().end() - 1));
    QCOMPARE(plot->span(), span);
}

void TestHistory::exportWritesTheVisibleTicks_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("written") << QString();
    QTest::newRow("folder that does not exist") << QStringLiteral("missing/");
}

void TestHistory::exportWritesTheVisibleTicks()
{
    QFETCH(QString, folder);
    QVERIFY(showHistory());
    ticks(2);
    bus->registers[0xDD00 + regStatus2] = EventTRP;
    bus->registers[0xDD00 + regImeas_A] = 1234;
    ticks(1);

    QTemporaryDir temporary;
    const QString path = temporary.filePath(folder + "export.csv");
    DialogDriver::onNextModal([path](QWidget *widget) {
        auto *dialog = qobject_cast<QFileDialog *>(widget);
        if (!dialog) {
            widget->close();
            return;
        }
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept();
    });
    QSignalSpy finished(history(), &HistoryWindow::exportFinished);
    UnexpectedBoxes boxes;
    window->findChild<QPushButton *>(QStringLiteral("historyExportCsv"))->click();
    QVERIFY(finished.wait(10000));
    auto *status = window->findChild<QLabel *>(QStringLiteral("historyExportStatus"));
    QCOMPARE(finished.first().first().toBool(), folder.isEmpty());
    if (!folder.isEmpty()) {
        QCOMPARE(status->text(), QStringLiteral("Export failed"));
        QTRY_COMPARE(boxes.texts().size(), 1);
        QVERIFY(boxes.texts().first().startsWith("Could not write the samples to the file\n" +
                                                 QDir::toNativeSeparators(path) + "\n"));
        QVERIFY(!QFile::exists(path));
        return;
    }
    QCOMPARE(status->text(),
             QStringLiteral("Exported 3 ticks to %1").arg(QDir::toNativeSeparators(path)));
    QVERIFY(boxes.texts().isEmpty());

    QByteArray expected = csvHeader().toUtf8() + '\n';
    const SampleStore &store = history()->samples();
    for (qint64 seq = store.first(); seq < store.end(); ++seq)
        expected += csvRow(store.reading(seq), store.reading(seq).events).toUtf8() + '\n';
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
}

// A full day exported at the 24 h span while the poll timer runs: the poll keeps its 100 ms ticks
// throughout, and the file holds every tick that was visible when the export began.
void TestHistory::exportOfADayKeepsThePollGoing()
{
    HistoryWindow *h = history();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    Reading reading;
    reading.vmeas[0] = 100;
    reading.imeas[0] = 12345;
    reading.currentResolution = CurrentResolution::nA10;
    for (qint64 i = SampleStore::DayCapacity - 1; i > 0; --i) {
        reading.time = now - 100 * i;
        h->addEarlierReading(reading, -100 * i);
    }
    QVERIFY(showHistory());
    window->findChild<QPushButton *>(QStringLiteral("historySpan86400"))->click();
    // The readout under the pointer gives every count of the current's resolution in the axis' SI
    // notation, never with an exponent: 12345 counts at 10 nA.
    const QString readout = h->plot()->valueText(h->plot()->width() / 2);
    QVERIFY2(readout.contains(QString::fromUtf8("   A: 100 V  123.45 \xc2\xb5"
                                                "A   B: 0 V  0 A")),
             qPrintable(readout));
    const SampleStore &store = h->samples();
    const qint64 visible =
        store.lowerBound(h->plot()->viewEnd()) - store.lowerBound(h->plot()->viewStart());
    // The 24 h view is aligned to pixel columns of about 100 s: at each end up to one column's
    // ticks fall outside it, by the time of day.
    QVERIFY2(visible > SampleStore::DayCapacity - 3000, qPrintable(QString::number(visible)));

    QTemporaryDir folder;
    const QString path = folder.filePath("day.csv");
    qint64 longest = 0;
    int taken = 0;
    QElapsedTimer sinceTick;
    // The poll starts as the export does: ticks while the file dialog is up would move the live
    // view, and with it the ticks the export takes, away from those counted above.
    DialogDriver::onNextModal([this, path, &sinceTick](QWidget *widget) {
        if (auto *dialog = qobject_cast<QFileDialog *>(widget)) {
            dialog->selectFile(path);
            sinceTick.start();
            Access::timer(*window)->start();
            static_cast<QDialog *>(dialog)->accept();
        } else {
            widget->close();
        }
    });
    connect(window.get(), &BrelkControl::readingTaken, h, [&] {
        longest = std::max(longest, sinceTick.restart());
        ++taken;
    });
    QTimer::singleShot(0, h, [this] {
        window->findChild<QPushButton *>(QStringLiteral("historyExportCsv"))->click();
    });
    QSignalSpy finished(h, &HistoryWindow::exportFinished);
    QVERIFY(finished.wait(60000));
    const int duringExport = taken;
    QTest::qWait(300);
    Access::timer(*window)->stop();
    qInfo("longest gap between ticks during the export: %lld ms (%d ticks)", longest, duringExport);
    // An export on the poll's thread stops it for seconds; a loaded machine (or an instrumented
    // build) may delay one tick by a few hundred milliseconds without anything being wrong.
    QVERIFY2(longest < 1000, qPrintable(QString::number(longest)));
    QVERIFY(finished.first().first().toBool());

    // The file dialog, busy beside the running poll, sometimes keeps the suggested name in the
    // folder it was given: the one file there is the export.
    const QStringList files = QDir(folder.path()).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QFile file(folder.filePath(files.first()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    qint64 lines = 0;
    while (!file.atEnd()) {
        file.readLine();
        ++lines;
    }
    QCOMPARE(lines, visible + 1);
}

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
