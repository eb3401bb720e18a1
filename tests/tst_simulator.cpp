// The simulated module's behaviour behind its registers, on a manual clock: ramps at the ramp
// speed, the measurement resolutions, and the events it latches.
#include "modulemodel.h"
#include "registermap.h"

#include <QtTest>

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
        QFETCH(int, volts);
        QFETCH(int, status);
        config.channels[0].setVoltage = from;
        config.channels[0].rampSpeed = 6000;
        ModuleModel module(config, &clock);
        clock.advance(1000);
        QCOMPARE(module.read(regVmeas_A), quint16(from));

        module.write(regRamp_A, quint16(rampSpeed));
        module.write(regVsetWrite_A, quint16(to));
        clock.advance(elapsedMs);
        QCOMPARE(module.read(regVset_A), quint16(to));
        QCOMPARE(module.read(regVmeas_A), quint16(volts));
        QCOMPARE(channelByte(module.read(regStatus), 0), quint8(status));
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

    void setVoltageIsLimitedToTheModulesMaximum()
    {
        ModuleModel module(config, &clock);
        module.write(regVsetWrite_A, 7000);
        QCOMPARE(module.read(regVset_A), quint16(6000));
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
        QFETCH(quint16, coarse);
        QFETCH(quint16, fineCount);
        config.fineVoltage = fine;
        config.channels[0].rampSpeed = 10;
        ModuleModel module(config, &clock);
        clock.advance(12340);
        QCOMPARE(module.read(regVmeas_A), coarse);
        QCOMPARE(module.read(regVmeasFine_A), fineCount);
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
        QFETCH(quint16, first);
        QFETCH(quint16, second1nA);
        QFETCH(quint16, second100pA);
        config.currentResolution = resolution;
        config.secondRange = secondRange;
        config.channels[0].loadOhms = 100e6;
        config.channels[0].setVoltage = 100;
        config.channels[0].rampSpeed = 100;
        ModuleModel module(config, &clock);
        clock.advance(1000);
        QCOMPARE(module.read(regImeas_A), first);
        QCOMPARE(module.read(regImeas2_1nA_A), second1nA);
        QCOMPARE(module.read(regImeas2_100pA_A), second100pA);
    }

    void currentLimitHoldsTheVoltageWithoutKill()
    {
        config.channels[0].loadOhms = 100e6;
        config.channels[0].rampSpeed = 100;
        ModuleModel module(config, &clock);
        module.write(regSoftLimitI_A, 5); // 5 uA: reached at 500 V
        clock.advance(10000);
        QCOMPARE(module.read(regVmeas_A), quint16(500));
        QCOMPARE(module.read(regImeas_A), quint16(5));
        QCOMPARE(module.read(regStatus2), quint16(EventILIM));
        QCOMPARE(channelByte(module.read(regStatus), 0), quint8(StatusPositive));

        // Latched: raising the limit frees the ramp but keeps the event.
        module.write(regSoftLimitI_A, 0);
        clock.advance(5000);
        QCOMPARE(module.read(regVmeas_A), quint16(1000));
        QCOMPARE(module.read(regStatus2), quint16(EventILIM));
    }

    void currentLimitTripsWithKill()
    {
        config.channels[0].loadOhms = 100e6;
        config.channels[0].rampSpeed = 100;
        config.channels[0].killEnabled = true;
        ModuleModel module(config, &clock);
        module.write(regSoftLimitI_A, 5);
        clock.advance(10000);
        QCOMPARE(module.read(regVmeas_A), quint16(0));
        QCOMPARE(module.read(regStatus2), quint16(EventILIM | EventTRP));
        QCOMPARE(channelByte(module.read(regStatus), 0),
                 quint8(StatusError | StatusKillEnable | StatusPositive));

        // A new set voltage re-arms the channel.
        module.write(regSoftLimitI_A, 0);
        module.write(regVsetWrite_A, 300);
        clock.advance(3000);
        QCOMPARE(module.read(regVmeas_A), quint16(300));
        QCOMPARE(module.read(regStatus2), quint16(EventILIM | EventTRP));
    }

    void hardwareVoltageLimitHoldsTheRamp()
    {
        config.channels[1].voltageLimitPercent = 50;
        config.channels[1].currentLimitPercent = 100;
        ModuleModel module(config, &clock);
        QCOMPARE(module.read(regLimits_B), quint16(0x5A));
        module.write(regRamp_B, 1000);
        module.write(regVsetWrite_B, 4000);
        clock.advance(10000);
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

private:
    SimClock clock;
    ModuleConfig config;
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
