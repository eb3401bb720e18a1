#include "historywindow.h"

#include "display.h"

#include "csvexport.h"
#include "traceplot.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace Brelk {

namespace {

const struct
{
    const char *text;
    qint64 ms;
} Spans[] = {
    {QT_TRANSLATE_NOOP("Brelk::HistoryWindow", "1 min"), 60 * 1000},
    {QT_TRANSLATE_NOOP("Brelk::HistoryWindow", "10 min"), 10 * 60 * 1000},
    {QT_TRANSLATE_NOOP("Brelk::HistoryWindow", "1 h"), 3600 * 1000},
    {QT_TRANSLATE_NOOP("Brelk::HistoryWindow", "8 h"), 8 * 3600 * 1000},
    {QT_TRANSLATE_NOOP("Brelk::HistoryWindow", "24 h"), 24 * 3600 * 1000},
};
static_assert(sizeof(Spans) / sizeof(Spans[0]) == HistoryWindow::SpanCount, "one button a span");

} // namespace

HistoryWindow::HistoryWindow(ReadingHistory *history, QWidget *parent)
    : QWidget(parent, Qt::Window), history(history)
{
    setObjectName(QStringLiteral("historyWindow"));
    setWindowTitle(tr("History - %1").arg(QLatin1String(ProgramName)));

    tracePlot = new TracePlot(&history->samples(), this);
    tracePlot->setObjectName(QStringLiteral("historyPlot"));
    connect(history, &ReadingHistory::sampleAdded, tracePlot, &TracePlot::sampleAdded);
    connect(history, &ReadingHistory::samplesReplaced, tracePlot, &TracePlot::samplesReplaced);
    tracePlot->setEventMarks(&history->eventMarks());
    connect(history, &ReadingHistory::markAdded, tracePlot, &TracePlot::marksChanged);

    auto *controls = new QHBoxLayout;
    for (int i = 0; i < SpanCount; ++i) {
        auto *button = new QPushButton(tr(Spans[i].text), this);
        button->setObjectName(QStringLiteral("historySpan%1").arg(Spans[i].ms / 1000));
        button->setCheckable(true);
        button->setAutoExclusive(true);
        button->setChecked(Spans[i].ms == TracePlot::DefaultSpanMs);
        const qint64 ms = Spans[i].ms;
        connect(button, &QPushButton::clicked, tracePlot, [this, ms] { tracePlot->setSpan(ms); });
        spanButtons[i] = button;
        controls->addWidget(button);
    }

    liveButton = new QPushButton(tr("Live"), this);
    liveButton->setObjectName(QStringLiteral("historyLive"));
    liveButton->setCheckable(true);
    liveButton->setChecked(true);
    // Live mode is left by panning or zooming the plot, and entered by this button only.
    connect(liveButton, &QPushButton::clicked, this, [this] {
        liveButton->setChecked(true);
        tracePlot->setLive(true);
    });
    connect(tracePlot, &TracePlot::liveChanged, liveButton, &QPushButton::setChecked);
    connect(tracePlot, &TracePlot::spanChanged, this, &HistoryWindow::spanChanged);
    controls->addWidget(liveButton);

    logCurrent = new QCheckBox(tr("Logarithmic current"), this);
    logCurrent->setObjectName(QStringLiteral("historyLogCurrent"));
    connect(logCurrent, &QCheckBox::toggled, tracePlot, &TracePlot::setLogCurrent);
    controls->addWidget(logCurrent);
    controls->addStretch();

    auto *saveImageButton = new QPushButton(tr("Save Image..."), this);
    saveImageButton->setObjectName(QStringLiteral("historySaveImage"));
    connect(saveImageButton, &QPushButton::clicked, this, &HistoryWindow::saveImage);
    controls->addWidget(saveImageButton);
    exportButton = new QPushButton(tr("Export CSV..."), this);
    exportButton->setObjectName(QStringLiteral("historyExportCsv"));
    connect(exportButton, &QPushButton::clicked, this, &HistoryWindow::exportCsv);
    controls->addWidget(exportButton);

    pointerLabel = new QLabel(this);
    pointerLabel->setObjectName(QStringLiteral("historyPointer"));
    pointerLabel->setMinimumHeight(pointerLabel->fontMetrics().height());
    connect(tracePlot, &TracePlot::pointerMoved, pointerLabel, &QLabel::setText);

    exportStatus = new QLabel(this);
    exportStatus->setObjectName(QStringLiteral("historyExportStatus"));
    exportProgress = new QProgressBar(this);
    exportProgress->setObjectName(QStringLiteral("historyExportProgress"));
    exportProgress->setRange(0, 100);
    exportProgress->setMaximumWidth(200);
    exportProgress->hide();
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(pointerLabel, 1);
    bottom->addWidget(exportStatus);
    bottom->addWidget(exportProgress);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(tracePlot, 1);
    layout->addLayout(bottom);
    resize(900, 600);
}

void HistoryWindow::addEarlierReading(const Reading &reading, qint64 runningMs)
{
    history->addEarlierReading(reading, runningMs);
}

void HistoryWindow::showAndRaise()
{
    show();
    raise();
    activateWindow();
}

// A zoom leaves a span that no button names; none is checked then.
void HistoryWindow::spanChanged()
{
    for (int i = 0; i < SpanCount; ++i) {
        spanButtons[i]->setAutoExclusive(false);
        spanButtons[i]->setChecked(Spans[i].ms == tracePlot->span());
        spanButtons[i]->setAutoExclusive(true);
    }
}

QString HistoryWindow::askFileName(const QString &caption, const QString &suggested,
                                   const QString &filter)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileDialog::getSaveFileName(this, caption, QDir(folder).filePath(suggested), filter);
}

void HistoryWindow::warn(const QString &text)
{
    QMessageBox::warning(this, tr(ProgramName), text);
}

void HistoryWindow::saveImage()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString path =
        askFileName(tr("Save Image"), QStringLiteral("brelk-history-%1.png").arg(stamp),
                    tr("PNG images (*.png)"));
    if (path.isEmpty())
        return;
    if (!tracePlot->grab().save(path, "PNG"))
        warn(tr("Could not save the image to the file\n%1").arg(QDir::toNativeSeparators(path)));
}

// The span is taken as it is shown now; the ticks that arrive while the file is written are not
// in it. One export runs at a time.
void HistoryWindow::exportCsv()
{
    if (runningExport)
        return;
    const qint64 from = tracePlot->viewStart();
    const qint64 to = tracePlot->viewEnd();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString path =
        askFileName(tr("Export CSV"), QStringLiteral("brelk-history-%1.csv").arg(stamp),
                    tr("CSV files (*.csv)"));
    if (path.isEmpty() || runningExport)
        return;
    runningExport = new CsvExport(history->samples(), from, to, path, this);
    connect(runningExport, &CsvExport::progress, exportProgress, &QProgressBar::setValue);
    connect(runningExport, &CsvExport::finished, this, &HistoryWindow::exportEnded);
    exportButton->setEnabled(false);
    exportProgress->setValue(0);
    exportProgress->show();
    exportStatus->setText(tr("Exporting %n ticks...", nullptr, int(runningExport->rowCount())));
    runningExport->start();
}

void HistoryWindow::exportEnded(bool ok, const QString &error)
{
    const QString path = QDir::toNativeSeparators(runningExport->path());
    const qint64 rows = runningExport->rowCount();
    delete runningExport;
    runningExport = nullptr;
    exportProgress->hide();
    exportButton->setEnabled(true);
    if (ok) {
        exportStatus->setText(tr("Exported %n ticks to %1", nullptr, int(rows)).arg(path));
    } else {
        exportStatus->setText(tr("Export failed"));
        warn(tr("Could not write the samples to the file\n%1\n%2").arg(path, error));
    }
    emit exportFinished(ok);
}

} // namespace Brelk
