// The overview of the real panel on a real display: starts the main window against the module
// simulator with the modules its settings file names, opens Tools > Overview after some seconds of
// polling and saves a picture of the overview. Prints "overview drawn: N rows" or a line starting
// with "FAIL:", then keeps the windows up until it is ended.
//
// Usage: e2e_overview PICTURE SECONDS [MODULE_WINDOW PICTURE]
// MODULE_WINDOW (e.g. moduleWindow_DC00) is shown too, and its picture saved.
#include "brelkcontrol.h"

#include <QAction>
#include <QApplication>
#include <QTableWidget>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: e2e_overview PICTURE SECONDS\n");
        return 2;
    }
    const QString picture = QString::fromLocal8Bit(argv[1]);
    const int seconds = atoi(argv[2]);

    BrelkControl panel;
    panel.show();
    panel.findChild<QAction *>(QStringLiteral("actionOverview"))->trigger();
    QWidget *moduleWindow = nullptr;
    if (argc > 4) {
        moduleWindow = panel.findChild<QWidget *>(QString::fromLocal8Bit(argv[3]));
        if (moduleWindow)
            moduleWindow->show();
    }
    const QString modulePicture = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();
    QTimer::singleShot(seconds * 1000, &panel, [&panel, picture, moduleWindow, modulePicture] {
        if (moduleWindow)
            moduleWindow->grab().save(modulePicture, "PNG");
        auto *table = panel.findChild<QTableWidget *>(QStringLiteral("overviewTable"));
        QWidget *overview = table->window();
        overview->grab().save(picture, "PNG");
        if (table->rowCount() > 0 && !table->item(0, 3)->text().isEmpty())
            std::printf("overview drawn: %d rows\n", table->rowCount());
        else
            std::printf("FAIL: the overview shows no reading\n");
        std::fflush(stdout);
    });
    return app.exec();
}
