// Counts the taskbar alerts where the panel hands them to Qt, and passes each on to Qt's own
// function: the definition below takes the place of Qt's in the test program (the panel's code is
// linked into it), so an alert the panel only meant to raise is not counted. Include it in one
// source file of a test program only.
#ifndef ALERTCAPTURE_H
#define ALERTCAPTURE_H

#include <QApplication>
#include <QVector>

#include <dlfcn.h>

// The windows whose taskbar entry was asked to flash, in order.
QVector<QWidget *> alertedWindows;

void QApplication::alert(QWidget *widget, int duration)
{
    alertedWindows.append(widget);
    using Alert = void (*)(QWidget *, int);
    static const auto qtAlert =
        reinterpret_cast<Alert>(dlsym(RTLD_NEXT, "_ZN12QApplication5alertEP7QWidgeti"));
    if (qtAlert)
        qtAlert(widget, duration);
}

#endif // ALERTCAPTURE_H
