// The simulated module's behaviour behind its registers, on a manual clock: ramps at the ramp
// speed, the measurement resolutions, and the events it latches. Then the crate behind the
// bridge: several modules at their own addresses, the keys that configure them, the cycle time.
#include "modulemodel.h"
#include "registermap.h"
#include "simulator.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>

using namespace Brelk;

Q_DECLARE_METATYPE(Brelk::CurrentResolution)
Q_DECLARE_METATYPE(Brelk::SecondRange)

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        clock.setManual(true);
        config = ModuleConfig();
    }

    void rampFollowsTheSetVoltage_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("rampSpeed");
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<int>("volts");
        QTest::addColumn<int>("status");

        const int up = StatusPositive | StatusRamping | StatusRampUp;
        const int down = StatusPositive | StatusRamping;
        const int stable = StatusPositive;
        QTest::newRow("at the start") << 0 << 1000 << 50 << 0 << 0 << up;
        QTest::newRow("one second up") << 0 << 1000 << 50 << 1000 << 50 << up;
        QTest::newRow("just short of the set voltage") << 0 << 1000 << 50 << 19980 << 999 << up;
        QTest::newRow("arrived") << 0 << 1000 << 50 << 20000 << 1000 << stable;
        QTest::newRow("stays") << 0 << 1000 << 50 << 60000 << 1000 << stable;
        QTest::newRow("down") << 1000 << 200 << 100 << 4000 << 600 << down;
        QTest::newRow("down arrived") << 1000 << 200 << 100 << 8000 << 200 << stable;
    }

    void rampFollowsTheSetVoltage()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, rampSpeed);
        QFETCH(int, elapsedMs);
        config.channels[0].setVoltage = from;
        config.channels[0].rampSpeed = 6000;
        ModuleModel module(config, &clock);
        clock.advance(1000);
        QCOMPARE(module.read(regVmeas_A), quint16(from));

        module.write(regRamp_A, quint16(rampSpeed));
        module.write(regVsetWrite_A, quint16(to));
        clock.advance(elapsedMs);
        QCOMPARE(module.read(regVset_A), quint16(to));
        QTEST(int(module.read(regVmeas_A)), "volts");
        QTEST(int(channelByte(module.read(regStatus), 0)), "status");
    }

    void hvOffRampsDownAndChannelBIsTheHighByte()
    {
        config.channels[1].setVoltage = 500;
        config.channels[1].rampSpeed = 100;
        ModuleModel module(config, &clock);
        clock.advance(5000);
        QCOMPARE(module.read(regVmeas_B), quint16(500));

        config.channels[1].hvOn = false;
        module.applyConfig(config);
        clock.advance(2000);
        QCOMPARE(module.read(regVmeas_B), quint16(300));
        QCOMPARE(module.read(regStatus) >> 8, StatusPositive | StatusHvOff | StatusRamping);
        QCOMPARE(module.read(regVset_B), quint16(500));
    }

    void voltageResolution_data()
    {
        QTest::addColumn<bool>("fine");
        QTest::addColumn<quint16>("coarse");
        QTest::addColumn<quint16>("fineCount");

        QTest::newRow("1 V module") << false << quint16(123) << quint16(1230);
        QTest::newRow("100 mV module") << true << quint16(123) << quint16(1234);
    }

    void voltageResolution()
    {
        QFETCH(bool, fine);
        config.fineVoltage = fine;
        config.channels[0].rampSpeed = 10;
        ModuleModel module(config, &clock);
        clock.advance(12340);
        QTEST(module.read(regVmeas_A), "coarse");
        QTEST(module.read(regVmeasFine_A), "fineCount");
    }

    // 100 V across 100 MΩ drives 1 µA.
    void currentResolution_data()
    {
        QTest::addColumn<CurrentResolution>("resolution");
        QTest::addColumn<SecondRange>("secondRange");
        QTest::addColumn<quint16>("first");
        QTest::addColumn<quint16>("second1nA");
        QTest::addColumn<quint16>("second100pA");

        QTest::newRow("1 uA") << CurrentResolution::uA1 << SecondRange::None << quint16(1)
                              << quint16(0) << quint16(0);
        QTest::newRow("100 nA, second range 1 nA") << CurrentResolution::nA100 << SecondRange::nA1
                                                   << quint16(10) << quint16(1000) << quint16(0);
        QTest::newRow("10 nA, second range 100 pA") << CurrentResolution::nA10 << SecondRange::pA100
                                                    << quint16(100) << quint16(0) << quint16(10000);
        QTest::newRow("1 nA") << CurrentResolution::nA1 << SecondRange::None << quint16(1000)
                              << quint16(0) << quint16(0);
    }

    void currentResolution()
    {
        QFETCH(CurrentResolution, resolution);
        QFETCH(SecondRange, secondRange);
        config.currentResolution = resolution;
        config.secondRange = secondRange;
        config.channels[0].loadOhms = 100e6;
        config.channels[0].setVoltage = 100;
        config.channels[0].rampSpeed = 100;
        ModuleModel module(config, &clock);
        clock.advance(1000);
        QTEST(module.read(regImeas_A), "first");
        QTEST(module.read(regImeas2_1nA_A), "second1nA");
        QTEST(module.read(regImeas2_100pA_A), "second100pA");
    }

    // A soft limit of 5 uA is reached at 500 V. Without kill the ramp holds there; with kill the
    // channel trips. Raising the limit frees the ramp, a new set voltage re-arms a tripped
    // channel, and the events stay latched.
    void currentLimit_data()
    {
        QTest::addColumn<bool>("kill");
        QTest::addColumn<int>("volts");
        QTest::addColumn<int>("events");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("freed"); // volts 3 s after the limit is raised, towards 800 V

        QTest::newRow("without kill: held")
            << false << 500 << int(EventILIM) << int(StatusPositive) << 800;
        QTest::newRow("with kill: tripped")
            << true << 0 << int(EventILIM | EventTRP)
            << int(StatusError | StatusKillEnable | StatusPositive) << 300;
    }

    void currentLimit()
    {
        QFETCH(bool, kill);
        QFETCH(int, volts);
        QFETCH(int, events);
        config.channels[0].loadOhms = 100e6;
        config.channels[0].rampSpeed = 100;
        config.channels[0].killEnabled = kill;
        ModuleModel module(config, &clock);
        module.write(regSoftLimitI_A, 5);
        clock.advance(10000);
        QCOMPARE(module.read(regVmeas_A), quint16(volts));
        QCOMPARE(module.read(regImeas_A), quint16(volts / 100));
        QCOMPARE(module.read(regStatus2), quint16(events));
        QTEST(int(channelByte(module.read(regStatus), 0)), "state");

        module.write(regSoftLimitI_A, 0);
        module.write(regVsetWrite_A, 800);
        clock.advance(3000);
        QTEST(int(module.read(regVmeas_A)), "freed");
        QCOMPARE(module.read(regStatus2), quint16(events));
    }

    // A set voltage above the module's maximum is held to it.
    void hardwareVoltageLimitHoldsTheRamp()
    {
        config.channels[1].voltageLimitPercent = 50;
        config.channels[1].currentLimitPercent = 100;
        ModuleModel module(config, &clock);
        QCOMPARE(module.read(regLimits_B), quint16(0x5A));
        module.write(regRamp_B, 1000);
        module.write(regVsetWrite_B, 7000);
        clock.advance(10000);
        QCOMPARE(module.read(regVset_B), quint16(6000));
        QCOMPARE(module.read(regVmeas_B), quint16(3000));
        QCOMPARE(module.read(regStatus2), quint16(EventVLIM << 8));
    }

    void inhibitSwitchesOffAtOnce()
    {
        config.channels[0].rampSpeed = 1000;
        ModuleModel module(config, &clock);
        clock.advance(1000);
        QCOMPARE(module.read(regVmeas_A), quint16(1000));
        config.channels[0].inhibit = true;
        module.applyConfig(config);
        QCOMPARE(module.read(regVmeas_A), quint16(0));
        config.channels[0].inhibit = false;
        module.applyConfig(config);
        QCOMPARE(module.read(regStatus2), quint16(EventINH));
    }

    void forcedWordsAreReportedUntilPowerOn()
    {
        ModuleModel module(config, &clock);
        module.force(regSerialNumber, 0xFFFF);
        module.force(regStatus, 0x00C0);
        QCOMPARE(module.read(regSerialNumber), quint16(0xFFFF));
        QCOMPARE(module.read(regStatus), quint16(0x00C0));
        module.powerOn();
        QCOMPARE(module.read(regSerialNumber), config.serialNumber);
    }

    // Each row's settings are applied once through the test control path in order, and once from
    // the environment when the library loads; both must give the same crate.
    void crateAnswersAtEachModulesAddress_data()
    {
        QTest::addColumn<QByteArrayList>("settings");
        QTest::addColumn<QList<int>>("answers"); // address, serial, set voltage A; 0: a bus error

        const QByteArray two = "BRELKSIM_MODULES=0xDD00,0xDC00";
        const QByteArray three = "BRELKSIM_MODULES=0xDD00,0xDC00,0x1000";
        QTest::newRow("one module as ever") << QByteArrayList() << QList<int>{0xDD00, 0x2101, 1000};
        QTest::newRow("one module moved") << QByteArrayList{"BRELKSIM_BASE=0xDC00"}
                                          << QList<int>{0xDC00, 0x2101, 1000, 0xDD00, 0, 0};
        QTest::newRow("three modules")
            << QByteArrayList{three}
            << QList<int>{0xDC00, 0x2102, 1000, 0x1000, 0x2103, 1000, 0xDD80, 0, 0, 0x0F00, 0, 0};
        QTest::newRow("module list wins over base")
            << QByteArrayList{"BRELKSIM_BASE=0xC000", two} << QList<int>{0xC000, 0, 0};
        QTest::newRow("plain keys are the first module's")
            << QByteArrayList{two, "BRELKSIM_SERIAL=0x3000", "BRELKSIM_VSET_A=2000"}
            << QList<int>{0xDD00, 0x3000, 2000, 0xDC00, 0x3001, 1000};
        QTest::newRow("own keys of the second module")
            << QByteArrayList{three, "BRELKSIM_DC00_SERIAL=0x4000", "BRELKSIM_DC00_VSET_A=3000"}
            << QList<int>{0xDC00, 0x4000, 3000, 0xDD00, 0x2101, 1000};
        QTest::newRow("own keys leave the third")
            << QByteArrayList{three, "BRELKSIM_DC00_SERIAL=0x4000", "BRELKSIM_SERIAL=0x3000"}
            << QList<int>{0x1000, 0x3002, 1000};
        QTest::newRow("own keys of the first module")
            << QByteArrayList{two, "BRELKSIM_VSET_A=2000", "BRELKSIM_DD00_VSET_A=1500"}
            << QList<int>{0xDD00, 0x2101, 1500};
        QTest::newRow("one module absent") << QByteArrayList{two, "BRELKSIM_DC00_NO_MODULE=on"}
                                           << QList<int>{0xDC00, 0, 0, 0xDD00, 0x2101, 1000};
    }

    void crateAnswersAtEachModulesAddress()
    {
        QFETCH(QByteArrayList, settings);
        QFETCH(QList<int>, answers);

        Simulator configured;
        for (const QByteArray &setting : settings) {
            const QByteArrayList keyValue = setting.split('=');
            QVERIFY2(configured.configure(keyValue[0], keyValue[1]), setting.constData());
            qputenv(keyValue[0].constData(), keyValue[1]);
        }
        const auto loaded = std::make_unique<Simulator>();
        for (const QByteArray &setting : settings)
            qunsetenv(setting.split('=')[0].constData());

        for (Simulator *simulator : {&configured, loaded.get()}) {
            for (int i = 0; i < answers.size(); i += 3) {
                const quint32 address = quint32(answers[i]);
                const Simulator::Outcome expected =
                    answers[i + 1] ? Simulator::Outcome::Done : Simulator::Outcome::BusError;
                quint16 word = 0;
                QCOMPARE(simulator->read16(address + regSerialNumber, AddressModifier, &word),
                         expected);
                QCOMPARE(int(word), answers[i + 1] ? answers[i + 1] : 0xFFFF);
                QCOMPARE(simulator->read16(address + regVset_A, AddressModifier, &word), expected);
                QCOMPARE(int(word), answers[i + 1] ? answers[i + 2] : 0xFFFF);
            }
        }
    }

    void refusedSettingLeavesTheCrate_data()
    {
        QTest::addColumn<QByteArray>("setting"); // key=value

        QTest::newRow("empty module list") << QByteArray("BRELKSIM_MODULES=");
        QTest::newRow("empty entry") << QByteArray("BRELKSIM_MODULES=0xDD00,");
        QTest::newRow("not a number") << QByteArray("BRELKSIM_MODULES=0xDD00,zz");
        QTest::newRow("beyond A16") << QByteArray("BRELKSIM_MODULES=0x10000");
        QTest::newRow("same address twice") << QByteArray("BRELKSIM_MODULES=0xDD00,0xDD00");
        QTest::newRow("overlapping windows") << QByteArray("BRELKSIM_MODULES=0xDD00,0xDD40");
        QTest::newRow("base into the second window") << QByteArray("BRELKSIM_BASE=0xDC40");
        QTest::newRow("no module there") << QByteArray("BRELKSIM_DE00_SERIAL=1");
        QTest::newRow("not a module key") << QByteArray("BRELKSIM_DC00_BRIDGES=2");
        QTest::newRow("bad value of a module key") << QByteArray("BRELKSIM_DC00_SERIAL=0x10000");
        QTest::newRow("bad cycle time") << QByteArray("BRELKSIM_CYCLE_US=fast");
    }

    void refusedSettingLeavesTheCrate()
    {
        QFETCH(QByteArray, setting);
        Simulator simulator;
        QVERIFY(simulator.configure("BRELKSIM_MODULES", "0xDD00,0xDC00"));
        simulator.clock().setManual(true);
        QCOMPARE(simulator.write16(0xDC00 + regVsetWrite_A, AddressModifier, 2500),
                 Simulator::Outcome::Done);

        const int equals = setting.indexOf('=');
        QVERIFY(!simulator.configure(setting.left(equals), setting.mid(equals + 1)));
        QCOMPARE(int(simulator.config().modules.size()), 2);
        QCOMPARE(simulator.config().cycleMicroseconds, 0);
        QCOMPARE(word(simulator, 0xDD00 + regSerialNumber), quint16(0x2101));
        QCOMPARE(word(simulator, 0xDC00 + regSerialNumber), quint16(0x2102));
        QCOMPARE(word(simulator, 0xDC00 + regVset_A), quint16(2500));
    }

    // Modules already in the crate keep what was written to them when the list changes.
    void modulesKeepTheirStateWhenTheCrateGrows()
    {
        Simulator simulator;
        simulator.clock().setManual(true);
        QVERIFY(simulator.configure("BRELKSIM_MODULES", "0xDD00,0xDC00"));
        simulator.write16(0xDD00 + regVsetWrite_A, AddressModifier, 2200);
        simulator.write16(0xDC00 + regVsetWrite_A, AddressModifier, 2500);
        QVERIFY(simulator.configure("BRELKSIM_MODULES", "0xD000,0x1000,0xDC00"));
        const quint32 bases[] = {0xD000, 0x1000, 0xDC00};
        const quint16 setVoltages[] = {2200, 1000, 2500};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(word(simulator, bases[i] + regVset_A), setVoltages[i]);
            QCOMPARE(word(simulator, bases[i] + regSerialNumber), quint16(0x2101 + i));
        }
    }

    void cycleTime_data()
    {
        QTest::addColumn<int>("microseconds");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<bool>("write");

        QTest::newRow("as ever") << 0 << 0xDD00u << false;
        QTest::newRow("reads") << 300 << 0xDD00u << false;
        QTest::newRow("writes") << 300 << 0xDD00u << true;
        QTest::newRow("bus errors") << 300 << 0xC000u << false;
    }

    void cycleTime()
    {
        QFETCH(int, microseconds);
        QFETCH(quint32, address);
        QFETCH(bool, write);
        Simulator simulator;
        QVERIFY(simulator.configure("BRELKSIM_CYCLE_US", QByteArray::number(microseconds)));
        const int cycles = 100;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < cycles; ++i) {
            quint16 word = 0;
            if (write)
                simulator.write16(address + regRamp_A, AddressModifier, 50);
            else
                simulator.read16(address + regSerialNumber, AddressModifier, &word);
        }
        const qint64 elapsedUs = timer.nsecsElapsed() / 1000;
        if (microseconds == 0)
            QVERIFY2(elapsedUs < 30000, QByteArray::number(elapsedUs).constData());
        else
            QVERIFY2(elapsedUs >= qint64(cycles) * microseconds,
                     QByteArray::number(elapsedUs).constData());
    }

private:
    // The word a read gives; 0xFFFF when no module answers.
    static quint16 word(Simulator &simulator, quint32 address)
    {
        quint16 read = 0;
        simulator.read16(address, AddressModifier, &read);
        return read;
    }

    SimClock clock;
    ModuleConfig config;
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
