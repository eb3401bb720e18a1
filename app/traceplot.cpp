#include "traceplot.h"

#include "axisscale.h"
#include "display.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace Brelk {

namespace {

const int LeftMargin = 80;
const int RightMargin = 12;
const int TopMargin = 8;
const int PlotGap = 10;
const int BottomMargin = 22;
// Event labels of one channel closer than this would overlap; the mark is drawn without one.
const int MarkLabelSpacing = 70;

const QColor ChannelColour[2] = {QColor(0, 90, 200), QColor(200, 70, 0)};
const QColor GridColour(225, 225, 225);
const QColor FrameColour(150, 150, 150);
const QColor EventMarkColour(120, 0, 120);

// Nothing is drawn before the epoch or past the 48 bits the store keeps.
qint64 clampTime(double time)
{
    return qint64(std::max(0.0, std::min(time, 281474976710655.0)));
}

} // namespace

int TracePlot::Axis::pixel(double value) const
{
    double fraction;
    if (logarithmic) {
        fraction = value <= low ? 0
                                : (std::log10(value) - std::log10(low)) /
                                      (std::log10(high) - std::log10(low));
    } else {
        fraction = (value - low) / (high - low);
    }
    fraction = std::max(-0.01, std::min(fraction, 1.01));
    return rect.bottom() - int(std::lround(fraction * (rect.height() - 1)));
}

TracePlot::TracePlot(const SampleStore *store, QWidget *parent)
    : QWidget(parent), store(store), drawnOffset(store->axisOffset())
{
    setMouseTracking(true);
    setMinimumSize(480, 320);
    setAttribute(Qt::WA_OpaquePaintEvent);
    voltageTitle.setText(tr("Voltage (V): measured solid, set dashed"));
    currentTitle.setText(tr("Measured current (A)"));
    layoutPlots();
}

double TracePlot::msPerColumn() const
{
    return double(spanMs) / std::max(columns(), 1);
}

qint64 TracePlot::viewStart() const
{
    return columnStart(0, msPerColumn(), firstColumn);
}

qint64 TracePlot::viewEnd() const
{
    return columnStart(0, msPerColumn(), firstColumn + columns());
}

void TracePlot::layoutPlots()
{
    const int plotWidth = std::max(width() - LeftMargin - RightMargin, 1);
    const int plotsHeight = std::max(height() - TopMargin - PlotGap - BottomMargin, 2);
    const int voltageHeight = plotsHeight / 2;
    voltage.rect = QRect(LeftMargin, TopMargin, plotWidth, voltageHeight);
    current.rect = QRect(LeftMargin, TopMargin + voltageHeight + PlotGap, plotWidth,
                         plotsHeight - voltageHeight);
    current.logarithmic = logarithmic;

    // Every buffer the drawing fills is sized here, so that neither a tick nor a paint
    // allocates.
    const qint64 end = viewEnd();
    reduced.resize(plotWidth);
    if (!live)
        firstColumn = qint64(std::floor(end / msPerColumn())) - plotWidth;
    for (int s = 0; s < SeriesCount; ++s) {
        points[s].reserve(4 * plotWidth);
        runs[s].reserve(plotWidth);
    }
    grid.reserve(plotWidth + plotsHeight);
    labels.reserve(plotWidth / 10 + plotsHeight / 10);
    marks.reserve(2 * plotWidth);
    eventLines.reserve(EventMarks::MostMarks);
}

void TracePlot::setEventMarks(const EventMarks *newMarks)
{
    eventMarks = newMarks;
    refresh();
}

void TracePlot::marksChanged()
{
    refresh();
}

void TracePlot::samplesReplaced()
{
    refresh();
}

void TracePlot::followNewest()
{
    if (!live)
        return;
    const qint64 newest =
        store->isEmpty() ? QDateTime::currentMSecsSinceEpoch() : store->time(store->end() - 1);
    firstColumn = qint64(std::floor(newest / msPerColumn())) + 1 - columns();
}

void TracePlot::refresh()
{
    if (!isVisible()) {
        stale = true;
        return;
    }
    followNewest();
    reduceColumns(*store, double(firstColumn) * msPerColumn(), msPerColumn(), reduced.data(),
                  columns());
    scaleAxes();
    for (int ch = 0; ch < 2; ++ch) {
        buildSeries(vmeasSeries(ch), voltage);
        buildSeries(vsetSeries(ch), voltage);
        buildSeries(imeasSeries(ch), current);
    }
    buildLabels();
    stale = false;
    update();
}

void TracePlot::scaleAxes()
{
    double vLow = INFINITY, vHigh = -INFINITY, iLow = INFINITY, iHigh = -INFINITY;
    double iPositive = INFINITY;
    for (const Column &column : reduced) {
        if (column.isEmpty())
            continue;
        const Extent &e = column.extent;
        for (Series s : {VmeasA, VmeasB, VsetA, VsetB}) {
            vLow = std::min(vLow, double(e.minimum[s]));
            vHigh = std::max(vHigh, double(e.maximum[s]));
        }
        for (Series s : {ImeasA, ImeasB}) {
            iLow = std::min(iLow, double(e.minimum[s]));
            iHigh = std::max(iHigh, double(e.maximum[s]));
            for (float v : {e.minimum[s], e.maximum[s]}) {
                if (v > 0)
                    iPositive = std::min(iPositive, double(v));
            }
        }
    }
    const auto niceRange = [](Axis &axis, double low, double high, double smallest,
                              double emptyHigh) {
        if (!(low <= high)) {
            low = 0;
            high = emptyHigh;
        }
        if (high - low < smallest) {
            const double middle = (low + high) / 2;
            low = middle - smallest / 2;
            high = middle + smallest / 2;
        }
        const double step = niceStep(high - low, 5);
        axis.low = std::floor(low / step) * step;
        axis.high = std::ceil(high / step) * step;
        if (axis.high <= axis.low)
            axis.high = axis.low + step;
    };
    niceRange(voltage, vLow, vHigh, 1.0, 100.0);
    current.logarithmic = logarithmic;
    if (logarithmic) {
        if (!(iHigh > 0) || !std::isfinite(iPositive)) {
            iPositive = 1e-9;
            iHigh = 1e-6;
        }
        const double lowDecade = std::floor(std::log10(iPositive) + 1e-9);
        double highDecade = std::ceil(std::log10(iHigh) - 1e-9);
        if (highDecade <= lowDecade)
            highDecade = lowDecade + 1;
        current.low = std::pow(10.0, lowDecade);
        current.high = std::pow(10.0, highDecade);
    } else {
        niceRange(current, iLow, iHigh, 1e-9, 1e-6);
    }
}

void TracePlot::columnPixels(const Column &column, int *rows) const
{
    for (int s = 0; s < SeriesCount; ++s) {
        const Axis &axis = (s == ImeasA || s == ImeasB) ? current : voltage;
        rows[4 * s] = axis.pixel(column.first[s]);
        rows[4 * s + 1] = axis.pixel(column.extent.minimum[s]);
        rows[4 * s + 2] = axis.pixel(column.extent.maximum[s]);
        rows[4 * s + 3] = axis.pixel(column.last[s]);
    }
}

// One polyline per run of columns without a gap: the first value, down to the minimum, up to
// the maximum and to the last value at the column's x, then on to the next column.
void TracePlot::buildSeries(int series, const Axis &axis)
{
    std::vector<QPoint> &out = points[series];
    std::vector<int> &starts = runs[series];
    out.clear();
    starts.clear();
    for (int c = 0; c < columns(); ++c) {
        const Column &column = reduced[c];
        if (column.isEmpty())
            continue;
        if (!column.joinsPrevious || out.empty())
            starts.push_back(int(out.size()));
        const int x = axis.rect.left() + c;
        const int first = axis.pixel(column.first[series]);
        const int low = axis.pixel(column.extent.minimum[series]);
        const int high = axis.pixel(column.extent.maximum[series]);
        const int last = axis.pixel(column.last[series]);
        const int runStart = starts.back();
        // A flat stretch is one segment, not one per column.
        if (int(out.size()) - runStart >= 2 && out.back().y() == first &&
            out[out.size() - 2].y() == first)
            out.back().setX(x);
        else
            out.emplace_back(x, first);
        if (low != first || high != first || last != first) {
            // The nearer extreme first, so the column's span is drawn once, not twice.
            const bool lowFirst = low - first < first - high; // rows grow downwards
            out.emplace_back(x, lowFirst ? low : high);
            out.emplace_back(x, lowFirst ? high : low);
            out.emplace_back(x, last);
        }
    }
}

void TracePlot::buildLabels()
{
    grid.clear();
    labels.clear();
    marks.clear();
    eventLines.clear();
    const QFontMetrics metrics = fontMetrics();

    for (Axis *axis : {&voltage, &current}) {
        const bool amperes = axis == &current;
        const QRect &r = axis->rect;
        const auto add = [&](double value, const QString &text) {
            const int y = axis->pixel(value);
            grid.emplace_back(r.left(), y, r.right(), y);
            labels.push_back(
                {QPoint(r.left() - 6 - metrics.horizontalAdvance(text), y - metrics.height() / 2),
                 QStaticText(text)});
        };
        if (axis->logarithmic) {
            for (double d = std::log10(axis->low); d <= std::log10(axis->high) + 1e-9; d += 1)
                add(std::pow(10.0, d), siText(std::pow(10.0, d), QStringLiteral("A")));
            continue;
        }
        const double step = niceStep(axis->high - axis->low, std::max(2, r.height() / 40));
        for (double v = std::ceil(axis->low / step - 1e-9) * step; v <= axis->high + step * 1e-9;
             v += step) {
            const double value = std::fabs(v) < step * 1e-9 ? 0 : v;
            if (amperes) {
                add(value, siText(value, QStringLiteral("A"), step));
            } else {
                const int decimals = qBound(0, int(std::ceil(-std::log10(step) - 1e-9)), 3);
                add(value, QString::number(value, 'f', decimals));
            }
        }
    }

    const double ms = msPerColumn();
    const qint64 start = viewStart();
    const qint64 step = timeStep(ms, 90);
    for (qint64 t = firstTimeTick(start, step); t < viewEnd(); t += step) {
        const int x = voltage.rect.left() + int((t - start) / ms);
        grid.emplace_back(x, voltage.rect.top(), x, voltage.rect.bottom());
        grid.emplace_back(x, current.rect.top(), x, current.rect.bottom());
        const QString text = timeTickText(t, step);
        labels.push_back(
            {QPoint(x - metrics.horizontalAdvance(text) / 2, current.rect.bottom() + 4),
             QStaticText(text)});
    }

    int lastLabel[2] = {-MarkLabelSpacing, -MarkLabelSpacing};
    for (int c = 0; c < columns(); ++c) {
        if (reduced[c].isEmpty() || !reduced[c].extent.rising)
            continue;
        for (int ch = 0; ch < 2; ++ch) {
            const quint8 rising = channelByte(reduced[c].extent.rising, ch);
            if (!rising)
                continue;
            const bool labelled = c - lastLabel[ch] >= MarkLabelSpacing;
            if (labelled)
                lastLabel[ch] = c;
            marks.push_back({voltage.rect.left() + c, ch, labelled,
                             QStaticText(labelled ? eventText(rising) : QString())});
        }
    }

    if (!eventMarks)
        return;
    int lastEventLabel = -MarkLabelSpacing;
    for (const EventMark &mark : eventMarks->all()) {
        const qint64 time = mark.running + store->axisOffset();
        if (time < start || time >= viewEnd())
            continue;
        const int c = int((time - start) / ms);
        const bool labelled = c - lastEventLabel >= MarkLabelSpacing;
        if (labelled)
            lastEventLabel = c;
        eventLines.push_back(
            {voltage.rect.left() + c, QStaticText(labelled ? mark.text : QString())});
    }
}

void TracePlot::paintEvent(QPaintEvent *event)
{
    // While a channel ramps, only the newest columns are repainted: the lines are drawn from the
    // points in and next to those columns, not from the whole span.
    const int clipLeft = event->rect().left() - 1;
    const int clipRight = event->rect().right() + 1;
    const auto byX = [](const QPoint &point, int x) { return point.x() < x; };
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().base());
    painter.setPen(GridColour);
    if (event->rect() == rect()) {
        painter.drawLines(grid.data(), int(grid.size()));
    } else {
        // Grid lines are horizontal or vertical: each is cut to the repainted part by hand, which
        // costs far less than the painter clipping every whole line.
        const QRect part = event->rect();
        for (const QLine &line : grid) {
            const QRect box = QRect(line.p1(), line.p2()).normalized() & part;
            if (box.isEmpty())
                continue;
            if (line.y1() == line.y2())
                painter.drawLine(box.left(), line.y1(), box.right(), line.y1());
            else
                painter.drawLine(line.x1(), box.top(), line.x1(), box.bottom());
        }
    }
    painter.setPen(palette().color(QPalette::Text));
    for (const Label &label : labels) {
        if (event->rect().intersects(QRect(label.position, label.text.size().toSize())))
            painter.drawStaticText(label.position, label.text);
    }
    painter.drawStaticText(voltage.rect.topLeft() + QPoint(4, 2), voltageTitle);
    painter.drawStaticText(current.rect.topLeft() + QPoint(4, 2), currentTitle);

    for (const Mark &mark : marks) {
        painter.setPen(ChannelColour[mark.channel]);
        painter.drawLine(mark.x, voltage.rect.top(), mark.x, current.rect.bottom());
        if (mark.labelled)
            painter.drawStaticText(mark.x + 3, voltage.rect.top() + 18 + 14 * mark.channel,
                                   mark.text);
    }

    QPen pen(EventMarkColour);
    pen.setStyle(Qt::DashLine);
    painter.setPen(pen);
    for (const EventLine &line : eventLines) {
        painter.drawLine(line.x, voltage.rect.top(), line.x, current.rect.bottom());
        painter.drawStaticText(line.x + 3, voltage.rect.bottom() - 18, line.text);
    }

    for (int s = 0; s < SeriesCount; ++s) {
        const int channel = (s == VmeasA || s == VsetA || s == ImeasA) ? 0 : 1;
        pen.setColor(ChannelColour[channel]);
        pen.setStyle((s == VsetA || s == VsetB) ? Qt::DashLine : Qt::SolidLine);
        pen.setWidth(1);
        painter.setPen(pen);
        const std::vector<QPoint> &line = points[s];
        const std::vector<int> &starts = runs[s];
        for (size_t r = 0; r < starts.size(); ++r) {
            const QPoint *runBegin = line.data() + starts[r];
            const QPoint *runEnd =
                line.data() + (r + 1 < starts.size() ? starts[r + 1] : int(line.size()));
            if (runBegin == runEnd || runBegin->x() > clipRight || (runEnd - 1)->x() < clipLeft)
                continue;
            // The points inside the clip and one on either side, so that segments crossing its
            // edges are drawn too.
            const QPoint *first = std::lower_bound(runBegin, runEnd, clipLeft, byX);
            const QPoint *last = std::lower_bound(first, runEnd, clipRight + 1, byX);
            if (first != runBegin)
                --first;
            if (last != runEnd)
                ++last;
            if (last - first == 1)
                painter.drawPoint(*first);
            else
                painter.drawPolyline(first, int(last - first));
        }
    }

    painter.setPen(FrameColour);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(voltage.rect.adjusted(0, 0, -1, -1));
    painter.drawRect(current.rect.adjusted(0, 0, -1, -1));
    if (cursorX >= voltage.rect.left() && cursorX <= voltage.rect.right()) {
        painter.setPen(QPen(palette().color(QPalette::Text), 1, Qt::DotLine));
        painter.drawLine(cursorX, voltage.rect.top(), cursorX, current.rect.bottom());
    }
}

void TracePlot::sampleAdded()
{
    if (store->axisOffset() != drawnOffset) {
        // The wall clock was stepped and the history moved along the axis with it: a view of the
        // past moves too, so that it keeps showing the same ticks.
        if (!live)
            firstColumn +=
                qint64(std::llround((store->axisOffset() - drawnOffset) / msPerColumn()));
        drawnOffset = store->axisOffset();
        stale = true;
    }
    if (!isVisible() || stale) {
        stale = true;
        if (isVisible())
            refresh();
        return;
    }
    if (store->isEmpty())
        return;
    const double ms = msPerColumn();
    const qint64 column = qint64(std::floor(store->time(store->end() - 1) / ms));
    const qint64 c = column - firstColumn;
    if (c < 0 || c >= columns()) {
        // A live view moves on by whole columns; a view of the past stays as it is.
        if (live)
            refresh();
        return;
    }
    Column updated;
    reduceColumn(*store, columnStart(0, ms, column), columnStart(0, ms, column + 1),
                 store->lowerBound(viewStart()), &updated);
    const Extent &e = updated.extent;
    for (int s = 0; s < SeriesCount; ++s) {
        const Axis &axis = (s == ImeasA || s == ImeasB) ? current : voltage;
        const bool below = axis.logarithmic ? (e.minimum[s] > 0 && e.minimum[s] < axis.low)
                                            : e.minimum[s] < axis.low;
        if (below || e.maximum[s] > axis.high) {
            refresh();
            return;
        }
    }
    Column &drawn = reduced[c];
    bool changed = drawn.isEmpty() || drawn.joinsPrevious != updated.joinsPrevious ||
                   drawn.extent.rising != updated.extent.rising;
    if (!changed) {
        int before[4 * SeriesCount], after[4 * SeriesCount];
        columnPixels(drawn, before);
        columnPixels(updated, after);
        changed = !std::equal(before, before + 4 * SeriesCount, after);
    }
    const bool newEvent = drawn.extent.rising != updated.extent.rising;
    drawn = updated;
    if (!changed)
        return;
    for (int ch = 0; ch < 2; ++ch) {
        buildSeries(vmeasSeries(ch), voltage);
        buildSeries(vsetSeries(ch), voltage);
        buildSeries(imeasSeries(ch), current);
    }
    buildLabels();
    if (newEvent) {
        update();
        return;
    }
    // Only the newest column and its joint with the column drawn before it changed: while a
    // channel ramps this happens at nearly every tick, and redrawing those few pixel columns is
    // far cheaper than the whole plot.
    int previous = int(c) - 1;
    while (previous > 0 && reduced[previous].isEmpty())
        --previous;
    const int left = voltage.rect.left() + std::max(previous, 0) - 1;
    const int right = voltage.rect.left() + int(c) + 2;
    update(QRect(left, voltage.rect.top(), right - left + 1,
                 current.rect.bottom() - voltage.rect.top() + 1));
}

void TracePlot::setLiveState(bool on)
{
    if (live == on)
        return;
    live = on;
    emit liveChanged(on);
}

void TracePlot::setSpan(qint64 ms)
{
    ms = std::max(MinimumSpanMs, std::min(ms, store->keptMs()));
    const qint64 end = viewEnd();
    spanMs = ms;
    if (!live)
        firstColumn = qint64(std::floor(end / msPerColumn())) - columns();
    refresh();
    emit spanChanged(spanMs);
}

void TracePlot::setLive(bool on)
{
    setLiveState(on);
    refresh();
}

void TracePlot::setLogCurrent(bool on)
{
    logarithmic = on;
    refresh();
}

QString TracePlot::valueText(int x) const
{
    const double ms = msPerColumn();
    const qint64 time =
        clampTime(double(firstColumn) * ms + (x - voltage.rect.left()) * ms + ms / 2);
    QString text = QDateTime::fromMSecsSinceEpoch(time, Qt::LocalTime)
                       .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (store->isEmpty())
        return text;
    qint64 seq = store->lowerBound(time);
    if (seq == store->end() ||
        (seq > store->first() && time - store->time(seq - 1) < store->time(seq) - time))
        seq = std::max(seq - 1, store->first());
    if (std::llabs(store->time(seq) - time) > std::max<qint64>(qint64(ms), SampleStore::GapMs))
        return text;
    const Reading r = store->reading(seq);
    text = QDateTime::fromMSecsSinceEpoch(r.time, Qt::LocalTime)
               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    for (int ch = 0; ch < 2; ++ch) {
        text += QStringLiteral("   %1: %2 V  %3")
                    .arg(QChar('A' + ch))
                    .arg(measuredVoltsDecimal(r, ch),
                         siText(measuredAmperes(r, ch), QStringLiteral("A"),
                                amperesPerCount(r.currentResolution)));
    }
    return text;
}

void TracePlot::resizeEvent(QResizeEvent *)
{
    layoutPlots();
    refresh();
}

void TracePlot::showEvent(QShowEvent *)
{
    if (stale)
        refresh();
}

void TracePlot::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    pressX = event->pos().x();
    pressFirstColumn = firstColumn;
}

void TracePlot::mouseMoveEvent(QMouseEvent *event)
{
    const int x = event->pos().x();
    if (pressX >= 0 && (event->buttons() & Qt::LeftButton) && x != pressX) {
        setLiveState(false);
        firstColumn = pressFirstColumn - (x - pressX);
        refresh();
    }
    cursorX = x;
    emit pointerMoved(valueText(x));
    update();
}

void TracePlot::mouseReleaseEvent(QMouseEvent *)
{
    pressX = -1;
}

// Zooms the time axis about the pointer: the time under it stays where it is.
void TracePlot::wheelEvent(QWheelEvent *event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0)
        return;
    const int x = int(event->position().x()) - voltage.rect.left();
    const double pointerTime = (double(firstColumn) + x) * msPerColumn();
    spanMs = std::max(MinimumSpanMs, std::min(qint64(std::llround(spanMs * std::pow(0.8, steps))),
                                              store->keptMs()));
    firstColumn = qint64(std::llround(pointerTime / msPerColumn())) - x;
    setLiveState(false);
    refresh();
    emit spanChanged(spanMs);
    event->accept();
}

void TracePlot::leaveEvent(QEvent *)
{
    cursorX = -1;
    emit pointerMoved(QString());
    update();
}

} // namespace Brelk
