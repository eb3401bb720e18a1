// The tests' window into BrelkControl: hand it a controller, run a tick, read what it holds.
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
#include <QVector>

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

    // The values the form shows.
    static const ReadingForm::Values &shown(BrelkControl &w) { return w.view->form()->values(); }
    // All the window holds of the module: the values of the form, then the status word of the
    // last complete tick, the latch and the last serial-number word read.
    static QVector<double> state(BrelkControl &w)
    {
        const ReadingForm::Values &v = shown(w);
        QVector<double> all;
        for (int ch = 0; ch < 2; ++ch)
            all << v.vset[ch] << v.rampSpeed[ch] << v.softLimitI[ch] << v.softLimitI2[ch]
                << v.vmeas[ch] << v.imeas[ch] << v.imeas2[ch];
        return all << w.session->newestReading().status << w.session->eventLatch()
                   << w.session->serialWord();
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
