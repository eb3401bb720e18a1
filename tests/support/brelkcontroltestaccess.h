// The tests' window into BrelkControl: hand it a controller, run a tick, read its cached values.
// The main window declares this class its friend; nothing else uses it.
#ifndef BRELKCONTROLTESTACCESS_H
#define BRELKCONTROLTESTACCESS_H

#include "brelkcontrol.h"
#include "cvmecontroller.h"
#include "readinglooks.h"

#include <QTimer>

class BrelkControlTestAccess
{
public:
    // Replaces the window's controller (closing the old one) and stops the poll timer, so that
    // ticks run only when the test calls tick().
    static void useController(BrelkControl &window, CVmeController *controller)
    {
        window.timer->stop();
        if (window.vmeController) {
            window.vmeController->close();
            delete window.vmeController;
        }
        window.vmeController = controller;
    }
    static CVmeController *controller(BrelkControl &window) { return window.vmeController; }
    static void tick(BrelkControl &window) { window.timeout(); }
    static QTimer *timer(BrelkControl &window) { return window.timer; }
    static QString iniFile(BrelkControl &window) { return window.iniFile; }
    static int baseAddress(BrelkControl &window) { return window.baseAddress; }
    static void setBaseAddress(BrelkControl &window, int address) { window.baseAddress = address; }

    struct Cache
    {
        double vset[2], rampSpeed[2], softLimitI[2], softLimitI2[2], vmeas[2], imeas[2], imeas2[2];
        quint16 statusWord, status2Latch;
        unsigned int serialNumber;

        bool operator==(const Cache &o) const
        {
            for (int ch = 0; ch < 2; ++ch) {
                if (vset[ch] != o.vset[ch] || rampSpeed[ch] != o.rampSpeed[ch] ||
                    softLimitI[ch] != o.softLimitI[ch] || softLimitI2[ch] != o.softLimitI2[ch] ||
                    vmeas[ch] != o.vmeas[ch] || imeas[ch] != o.imeas[ch] ||
                    imeas2[ch] != o.imeas2[ch])
                    return false;
            }
            return statusWord == o.statusWord && status2Latch == o.status2Latch &&
                   serialNumber == o.serialNumber;
        }
    };
    static Cache cache(BrelkControl &w)
    {
        Cache c;
        for (int ch = 0; ch < 2; ++ch) {
            c.vset[ch] = w.vset[ch];
            c.rampSpeed[ch] = w.rampSpeed[ch];
            c.softLimitI[ch] = w.softLimitI[ch];
            c.softLimitI2[ch] = w.softLimitI2[ch];
            c.vmeas[ch] = w.vmeas[ch];
            c.imeas[ch] = w.imeas[ch];
            c.imeas2[ch] = w.imeas2[ch];
        }
        c.statusWord = w.statusWord;
        c.status2Latch = w.status2Latch;
        c.serialNumber = w.serialNumber;
        return c;
    }
    static void setStatus2Latch(BrelkControl &w, quint16 latch) { w.status2Latch = latch; }
    static Brelk::MqttPublisher *mqttPublisher(BrelkControl &w) { return w.mqttPublisher; }
    static int taskbarAlerts(BrelkControl &w) { return w.looks->alertCount(); }
};

#endif // BRELKCONTROLTESTACCESS_H
