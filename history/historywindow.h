// The history window: the trend plots of the last 24 hours with their span, live, logarithmic
// current, image and CSV export controls, and the readout of the values under the pointer. It
// owns the sample store, which takes every complete tick from start-up on whether the window is
// shown or not. A top-level window owned by the main window: closing it only hides it.
#ifndef HISTORYWINDOW_H
#define HISTORYWINDOW_H

#include "samplestore.h"

#include <QWidget>

class QCheckBox;
class QIODevice;
class QLabel;
class QPushButton;

namespace Brelk {

class TracePlot;

class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int SpanCount = 5;

    explicit HistoryWindow(QWidget *parent = nullptr);

    const SampleStore &samples() const { return store; }
    TracePlot *plot() const { return tracePlot; }
    // Stores a tick that was taken `runningMs` on the store's running clock, not now.
    void addEarlierReading(const Reading &reading, qint64 runningMs);

    // The rows of the records in [from, to) with the header line, as the data log writes them.
    static bool writeCsv(const SampleStore &store, qint64 from, qint64 to, QIODevice *device);

public slots:
    void addReading(const Brelk::Reading &reading);
    // Shows the window, or brings it to the front when it is open.
    void showAndRaise();

private slots:
    void saveImage();
    void exportCsv();

private:
    void spanChanged();
    QString askFileName(const QString &caption, const QString &suggested, const QString &filter);
    void warn(const QString &text);

    SampleStore store;
    TracePlot *tracePlot;
    QPushButton *spanButtons[SpanCount];
    QPushButton *liveButton;
    QCheckBox *logCurrent;
    QLabel *pointerLabel;
};

} // namespace Brelk

#endif // HISTORYWINDOW_H
