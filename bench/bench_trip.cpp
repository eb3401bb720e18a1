// How long a trip takes to bring its group down: a crate of 8 modules on the simulator with a
// real bridge's cycle time and a group of one channel on each module. The first module's channel
// trips again and again; the tick that reads the trip is compared with a steady one, and the
// difference is what bringing the other 7 channels down costs.
// Usage: LD_LIBRARY_PATH=build/sim BRELKSIM_CYCLE_US=300 build/bench/bench_trip [TRIPS]
#include "crate.h"
#include "crateruntime.h"
#include "modulesession.h"
#include "simcontrol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace Brelk;

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int trips = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    SimControl sim(QStringLiteral("libxxusb"));
    if (!sim.isLoaded()) {
        std::fprintf(stderr, "the module simulator is not on the library search path\n");
        return 1;
    }
    QStringList addresses;
    QByteArray ini = "[General]\nVmeController=VM-USB\n";
    QStringList channels;
    for (int module = 0; module < 8; ++module) {
        const quint32 address = 0xD600 + quint32(module) * 0x100;
        addresses << QStringLiteral("0x%1").arg(address, 4, 16, QLatin1Char('0'));
        channels << QStringLiteral("%1A").arg(address, 4, 16, QLatin1Char('0')).toUpper();
        if (module > 0)
            ini += "[Module_" + QByteArray::number(address, 16).toUpper() + "]\n";
    }
    // The first module of the file is the one of BaseAddress.
    ini.replace("VM-USB\n", "VM-USB\nBaseAddress=0xD600\n");
    ini += "[Group_Stack]\nChannels=" + channels.join(QStringLiteral(", ")).toUtf8() + "\n";
    sim.configure(QStringLiteral("BRELKSIM_MODULES"), addresses.join(QLatin1Char(',')));
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("crate.ini"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(ini);
    file.close();

    CrateRuntime runtime(path, CrateRuntime::Options());
    runtime.start();
    runtime.pollTimer()->stop();
    ModuleSession *tripping = runtime.crate()->module(0xD600);
    QVector<double> steady, tripped;
    int groupTrips = 0;
    QObject::connect(&runtime, &CrateRuntime::happened, [&](const CrateEvent &event) {
        groupTrips += event.kind == CrateEvent::GroupTripped;
    });
    QElapsedTimer tick;
    for (int trip = 0; trip < trips; ++trip) {
        tick.start();
        runtime.crate()->pollAll();
        steady << tick.nsecsElapsed() / 1e6;
        sim.configure(QStringLiteral("BRELKSIM_INHIBIT_A"), QStringLiteral("on"));
        tick.start();
        runtime.crate()->pollAll();
        tripped << tick.nsecsElapsed() / 1e6;
        if (groupTrips != trip + 1) {
            std::fprintf(stderr, "trip %d was not acted on in the tick that read it\n", trip);
            return 1;
        }
        sim.configure(QStringLiteral("BRELKSIM_INHIBIT_A"), QStringLiteral("off"));
        // The module's event word and the panel's latch cleared make the next trip a new one.
        sim.setRegister(0x30, 0);
        tripping->clearEvents(0);
        runtime.crate()->pollAll();
    }
    std::sort(steady.begin(), steady.end());
    std::sort(tripped.begin(), tripped.end());
    const double median = tripped.at(tripped.size() / 2) - steady.at(steady.size() / 2);
    std::printf("8 modules, %d trips: a steady tick %.2f ms, the tick that reads a trip and brings "
                "7 channels down %.2f ms (median); the group's writes add %.2f ms\n",
                trips, steady.at(steady.size() / 2), tripped.at(tripped.size() / 2), median);
    return 0;
}
