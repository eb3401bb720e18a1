// The tests' window into BrelkControl: hand it a controller, run a tick, read its cached values.
// The main window declares this class its friend; nothing else uses it.
#ifndef BRELKCONTROLTESTACCESS_H
#define BRELKCONTROLTESTACCESS_H

#include "brelkcontrol.h"
#include "crate.h"
#include "crateruntime.h"
#include "cvmecontroller.h"
#include "modulesession.h"
#include "moduleview.h"
#include "readingform.h"
#include "readinglooks.h"

#include <QTimer>

class BrelkControlTestAccess
{
public:
    // Replaces the window's controller (closing the old one) and stops the poll timer, so that
    // ticks run only when the test calls tick().
    static void useController(BrelkControl &window, CVmeController *controller)
    {
        window.runtime->pollTimer()->stop();
        window.runtime->bridge()->adopt(controller, true);
    }
    static CVmeController *controller(BrelkControl &window)
    {
        return window.runtime->bridge()->controller();
    }
    static void tick(BrelkControl &window) { window.crate->tick(); }
    static QTimer *timer(BrelkControl &window) { return window.runtime->pollTimer(); }
    static Brelk::CrateRuntime *runtime(BrelkControl &window) { return window.runtime; }
    static QString iniFile(BrelkControl &window) { return window.settings.path(); }
    static Brelk::ModuleSession *session(BrelkControl &window) { return window.session; }
    static Brelk::Crate *crate(BrelkControl &window) { return window.crate; }
    static int baseAddress(BrelkControl &window) { return int(window.session->baseAddress()); }
    static void setBaseAddress(BrelkControl &window, int address)
    {
        window.session->setBaseAddress(quint32(address));
    }

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
    // What the window shows and the session holds: the values of the form, the status word of
    // the last complete tick, the latch and the last serial-number word read.
    static Cache cache(BrelkControl &w)
    {
        Cache c;
        const ReadingForm::Values &shown = w.view->form()->values();
        for (int ch = 0; ch < 2; ++ch) {
            c.vset[ch] = shown.vset[ch];
            c.rampSpeed[ch] = shown.rampSpeed[ch];
            c.softLimitI[ch] = shown.softLimitI[ch];
            c.softLimitI2[ch] = shown.softLimitI2[ch];
            c.vmeas[ch] = shown.vmeas[ch];
            c.imeas[ch] = shown.imeas[ch];
            c.imeas2[ch] = shown.imeas2[ch];
        }
        c.statusWord = w.session->newestReading().status;
        c.status2Latch = w.session->eventLatch();
        c.serialNumber = w.session->serialWord();
        return c;
    }
    // Clears the latch of both channels, as their Clear buttons do.
    static void clearStatus2Latch(BrelkControl &w)
    {
        w.session->clearEvents(0);
        w.session->clearEvents(1);
    }
    static Brelk::MqttPublisher *mqttPublisher(BrelkControl &w)
    {
        return w.runtime->publisher(w.session);
    }
};

#endif // BRELKCONTROLTESTACCESS_H
