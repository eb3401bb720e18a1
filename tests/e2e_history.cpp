// The history window of the real panel on a real display: starts the main window against the
// module simulator, opens Tools > History after some seconds of polling at the chosen span, saves
// a picture of the window, and checks that both plots carry lines in both channels' colours.
// Prints "history plots drawn" or a line starting with "FAIL:", then keeps the window up until
// it is ended, so that the caller can also photograph the screen.
//
// Usage: e2e_history PICTURE SECONDS [SPAN_SECONDS [RADIO_BUTTON]]
// RADIO_BUTTON names a resolution button of the panel to select first, matching the simulator's.
#include "brelkcontrol.h"
#include "historywindow.h"
#include "traceplot.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

// Pixels of exactly `colour` in the rows [top, bottom) of `image`.
int countColour(const QImage &image, QRgb colour, int top, int bottom)
{
    int count = 0;
    for (int y = top; y < bottom; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            count += (line[x] & 0xFFFFFF) == (colour & 0xFFFFFF);
    }
    return count;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: e2e_history PICTURE SECONDS [SPAN_SECONDS [RADIO_BUTTON]]\n");
        return 2;
    }
    const QString picture = QString::fromLocal8Bit(argv[1]);
    const int seconds = atoi(argv[2]);
    const QString span = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("600");

    BrelkControl panel;
    panel.show();
    if (argc > 4) {
        if (auto *radio = panel.findChild<QAbstractButton *>(QString::fromLocal8Bit(argv[4])))
            radio->click();
    }
    QTimer::singleShot(1000, &panel, [&panel, span] {
        panel.findChild<QAction *>(QStringLiteral("actionHistory"))->trigger();
        if (auto *button = panel.findChild<QPushButton *>(QStringLiteral("historySpan") + span))
            button->click();
    });
    QTimer::singleShot(1000 + seconds * 1000, &panel, [&panel, picture] {
        auto *history = panel.findChild<Brelk::HistoryWindow *>();
        Brelk::TracePlot *plot = history->plot();
        history->grab().save(picture, "PNG");
        const QImage image = plot->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const int middle = image.height() / 2;
        const QRgb colours[2] = {qRgb(0, 90, 200), qRgb(200, 70, 0)};
        QStringList missing;
        for (int ch = 0; ch < 2; ++ch) {
            if (countColour(image, colours[ch], 0, middle) < 20)
                missing << QStringLiteral("voltage %1").arg(QChar('A' + ch));
            if (countColour(image, colours[ch], middle, image.height()) < 20)
                missing << QStringLiteral("current %1").arg(QChar('A' + ch));
        }
        if (missing.isEmpty())
            std::printf("history plots drawn: %d samples\n", history->samples().size());
        else
            std::printf("FAIL: no line for %s\n", qPrintable(missing.join(", ")));
        std::fflush(stdout);
    });
    return app.exec();
}
