// Process entry: the application object and the one main window.
#include "brelkcontrol.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    BrelkControl window;
    window.show();
    return application.exec();
}
