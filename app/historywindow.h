// The history window: the trend plots of the last 24 hours with their span, live, logarithmic
// current, image and CSV export controls, the readout of the values under the pointer, and the
// progress of an export. It shows the module's history, which takes every complete tick whether
// the window is shown or not. A top-level window owned by the main window: closing it only hides
// it.
#ifndef HISTORYWINDOW_H
#define HISTORYWINDOW_H

#include "readinghistory.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace Brelk {

class CsvExport;
class TracePlot;

class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int SpanCount = 5;

    explicit HistoryWindow(ReadingHistory *history, QWidget *parent = nullptr);

    const SampleStore &samples() const { return history->samples(); }
    TracePlot *plot() const { return tracePlot; }
    // Stores a tick that was taken `runningMs` on the store's running clock, not now.
    void addEarlierReading(const Reading &reading, qint64 runningMs);

public slots:
    // Shows the window, or brings it to the front when it is open.
    void showAndRaise();

signals:
    // An export has ended: the file is complete, or could not be written.
    void exportFinished(bool ok);

private slots:
    void saveImage();
    void exportCsv();
    void exportEnded(bool ok, const QString &error);

private:
    void spanChanged();
    QString askFileName(const QString &caption, const QString &suggested, const QString &filter);
    void warn(const QString &text);

    ReadingHistory *history;
    TracePlot *tracePlot;
    QPushButton *spanButtons[SpanCount];
    QPushButton *liveButton;
    QCheckBox *logCurrent;
    QLabel *pointerLabel;
    QPushButton *exportButton;
    QProgressBar *exportProgress;
    QLabel *exportStatus;
    CsvExport *runningExport = nullptr;
};

} // namespace Brelk

#endif // HISTORYWINDOW_H
