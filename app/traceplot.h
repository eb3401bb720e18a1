// The two trend plots of the history window on one shared time axis in local wall-clock time:
// measured (solid) and set (dashed) voltage of both channels above, measured current below, with
// a vertical mark in the channel's colour where an event rose, and a dashed one with its text
// where the runtime marked something the registers do not show (a channel group's trip). Every
// redraw works from a reduction of the visible span to one entry per pixel column, computed when
// the view or the data changes; the paint itself only draws prepared points and texts.
#ifndef TRACEPLOT_H
#define TRACEPLOT_H

#include "columnreduction.h"
#include "eventmarks.h"

#include <QStaticText>
#include <QWidget>

#include <vector>

namespace Brelk {

class TracePlot : public QWidget
{
    Q_OBJECT

public:
    static constexpr qint64 MinimumSpanMs = 10 * 1000;
    static constexpr qint64 DefaultSpanMs = 10 * 60 * 1000;

    explicit TracePlot(const SampleStore *store, QWidget *parent = nullptr);

    qint64 span() const { return spanMs; }
    bool isLive() const { return live; }
    bool logCurrent() const { return logarithmic; }
    // The visible times [viewStart(), viewEnd()).
    qint64 viewStart() const;
    qint64 viewEnd() const;
    // The value ranges of the two plots as drawn.
    double voltageLow() const { return voltage.low; }
    double voltageHigh() const { return voltage.high; }
    double currentLow() const { return current.low; }
    double currentHigh() const { return current.high; }
    // The text for the pointer at widget position `x`: time and both channels' values there.
    QString valueText(int x) const;
    // The marks beside the store's ticks, drawn from then on; none by default.
    void setEventMarks(const EventMarks *marks);

public slots:
    // The span of the time axis; live mode keeps following the newest tick, else the right
    // edge stays where it is.
    void setSpan(qint64 ms);
    void setLive(bool on);
    void setLogCurrent(bool on);
    // The store has taken a tick: repaints only when it changes what is drawn.
    void sampleAdded();
    // A mark was added to the marks drawn.
    void marksChanged();
    // Records were put in front of the store's others: everything is drawn again.
    void samplesReplaced();

signals:
    void liveChanged(bool live);
    void spanChanged(qint64 ms);
    void pointerMoved(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    struct Axis
    {
        QRect rect;
        double low = 0;
        double high = 1;
        bool logarithmic = false;
        int pixel(double value) const;
    };
    struct Label
    {
        QPoint position;
        QStaticText text;
    };
    struct Mark
    {
        int x;
        int channel;
        bool labelled;
        QStaticText text;
    };

    void layoutPlots();
    void followNewest();
    void refresh();
    void scaleAxes();
    void buildSeries(int series, const Axis &axis);
    void buildLabels();
    double msPerColumn() const;
    int columns() const { return int(reduced.size()); }
    // Pixel rows of a column's first, minimum, maximum and last value of every series.
    void columnPixels(const Column &column, int *rows) const;
    void setLiveState(bool on);

    const SampleStore *store;
    qint64 spanMs = DefaultSpanMs;
    bool live = true;
    bool logarithmic = false;
    // The absolute index of the leftmost column: column k covers [ceil(k × ms), ceil((k+1) × ms)).
    qint64 firstColumn = 0;
    bool stale = true;
    // The store's axis offset the columns were placed with: a step of the wall clock moves it.
    qint64 drawnOffset = 0;

    Axis voltage;
    Axis current;
    std::vector<Column> reduced;
    // Per series the polyline points and the index where each unbroken run of them starts.
    std::vector<QPoint> points[SeriesCount];
    std::vector<int> runs[SeriesCount];
    std::vector<QLine> grid;
    std::vector<Label> labels;
    std::vector<Mark> marks;
    const EventMarks *eventMarks = nullptr;
    struct EventLine
    {
        int x;
        QStaticText text;
    };
    std::vector<EventLine> eventLines;
    QStaticText voltageTitle;
    QStaticText currentTitle;

    int cursorX = -1;
    int pressX = -1;
    qint64 pressFirstColumn = 0;
};

} // namespace Brelk

#endif // TRACEPLOT_H
