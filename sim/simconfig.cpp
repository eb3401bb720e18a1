#include "simconfig.h"

#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Setter = std::function<bool(SimConfig &, const QByteArray &)>;

struct Key
{
    QByteArray name;
    Setter apply;
};

bool parseSwitch(const QByteArray &value, bool *on)
{
    const QByteArray word = value.trimmed().toLower();
    if (word == "1" || word == "on" || word == "true" || word == "yes") {
        *on = true;
        return true;
    }
    if (word == "0" || word == "off" || word == "false" || word == "no") {
        *on = false;
        return true;
    }
    return false;
}

// Decimal, or hexadecimal with a 0x prefix.
bool parseNumber(const QByteArray &value, uint maximum, uint *number)
{
    const QByteArray text = value.trimmed();
    bool ok = false;
    const uint parsed =
        text.toLower().startsWith("0x") ? text.mid(2).toUInt(&ok, 16) : text.toUInt(&ok, 10);
    if (!ok || parsed > maximum)
        return false;
    *number = parsed;
    return true;
}

Setter switchSetter(std::function<bool &(SimConfig &)> field)
{
    return [field](SimConfig &config, const QByteArray &value) {
        return parseSwitch(value, &field(config));
    };
}

Setter numberSetter(uint maximum, std::function<void(SimConfig &, uint)> store)
{
    return [maximum, store](SimConfig &config, const QByteArray &value) {
        uint number = 0;
        if (!parseNumber(value, maximum, &number))
            return false;
        store(config, number);
        return true;
    };
}

bool setCurrentResolution(SimConfig &config, const QByteArray &value)
{
    using Brelk::CurrentResolution;
    const QByteArray word = value.trimmed();
    if (word == "1uA")
        config.module.currentResolution = CurrentResolution::uA1;
    else if (word == "100nA")
        config.module.currentResolution = CurrentResolution::nA100;
    else if (word == "10nA")
        config.module.currentResolution = CurrentResolution::nA10;
    else if (word == "1nA")
        config.module.currentResolution = CurrentResolution::nA1;
    else
        return false;
    return true;
}

bool setSecondRange(SimConfig &config, const QByteArray &value)
{
    using Brelk::SecondRange;
    const QByteArray word = value.trimmed();
    if (word == "none")
        config.module.secondRange = SecondRange::None;
    else if (word == "1nA")
        config.module.secondRange = SecondRange::nA1;
    else if (word == "100pA")
        config.module.secondRange = SecondRange::pA100;
    else
        return false;
    return true;
}

bool setVoltageResolution(SimConfig &config, const QByteArray &value)
{
    const QByteArray word = value.trimmed();
    if (word != "1V" && word != "100mV")
        return false;
    config.module.fineVoltage = word == "100mV";
    return true;
}

void addChannelKeys(std::vector<Key> &keys, int channel)
{
    const QByteArray suffix = channel == 0 ? "_A" : "_B";
    auto field = [channel](SimConfig &config) -> ChannelConfig & {
        return config.module.channels[channel];
    };
    keys.push_back({"BRELKSIM_LOAD" + suffix, [field](SimConfig &config, const QByteArray &value) {
                        bool ok = false;
                        const double megaohms = value.trimmed().toDouble(&ok);
                        if (!ok || megaohms < 0)
                            return false;
                        field(config).loadOhms = megaohms * 1e6;
                        return true;
                    }});
    keys.push_back(
        {"BRELKSIM_POLARITY" + suffix, [field](SimConfig &config, const QByteArray &value) {
             const QByteArray word = value.trimmed().toLower();
             if (word != "positive" && word != "negative")
                 return false;
             field(config).positive = word == "positive";
             return true;
         }});
    keys.push_back({"BRELKSIM_HV" + suffix, switchSetter([field](SimConfig &config) -> bool & {
                        return field(config).hvOn;
                    })});
    keys.push_back({"BRELKSIM_KILL" + suffix, switchSetter([field](SimConfig &config) -> bool & {
                        return field(config).killEnabled;
                    })});
    keys.push_back({"BRELKSIM_MANUAL" + suffix, switchSetter([field](SimConfig &config) -> bool & {
                        return field(config).manual;
                    })});
    keys.push_back({"BRELKSIM_INHIBIT" + suffix, switchSetter([field](SimConfig &config) -> bool & {
                        return field(config).inhibit;
                    })});
    keys.push_back(
        {"BRELKSIM_VLIMIT" + suffix, numberSetter(100, [field](SimConfig &config, uint n) {
             field(config).voltageLimitPercent = int(n);
         })});
    keys.push_back(
        {"BRELKSIM_ILIMIT" + suffix, numberSetter(100, [field](SimConfig &config, uint n) {
             field(config).currentLimitPercent = int(n);
         })});
    keys.push_back(
        {"BRELKSIM_VSET" + suffix, numberSetter(6000, [field](SimConfig &config, uint n) {
             field(config).setVoltage = int(n);
         })});
    keys.push_back(
        {"BRELKSIM_RAMP" + suffix, numberSetter(0xFFFF, [field](SimConfig &config, uint n) {
             field(config).rampSpeed = int(n);
         })});
}

const std::vector<Key> &allKeys()
{
    static const std::vector<Key> keys = [] {
        std::vector<Key> list;
        list.push_back({"BRELKSIM_BASE", numberSetter(0xFFFF, [](SimConfig &config, uint n) {
                            config.baseAddress = n;
                        })});
        list.push_back({"BRELKSIM_SERIAL", numberSetter(0xFFFF, [](SimConfig &config, uint n) {
                            config.module.serialNumber = quint16(n);
                        })});
        list.push_back({"BRELKSIM_VOLTAGE_RESOLUTION", setVoltageResolution});
        list.push_back({"BRELKSIM_CURRENT_RESOLUTION", setCurrentResolution});
        list.push_back({"BRELKSIM_SECOND_RANGE", setSecondRange});
        addChannelKeys(list, 0);
        addChannelKeys(list, 1);
        // The VM-USB library's device table has room for 32 bridges.
        list.push_back({"BRELKSIM_BRIDGES", numberSetter(32, [](SimConfig &config, uint n) {
                            config.bridges = int(n);
                        })});
        list.push_back({"BRELKSIM_OPEN_NO_HANDLE", switchSetter([](SimConfig &config) -> bool & {
                            return config.openGivesNoHandle;
                        })});
        list.push_back({"BRELKSIM_NO_MODULE",
                        switchSetter([](SimConfig &config) -> bool & { return config.noModule; })});
        list.push_back({"BRELKSIM_CYCLES_FAIL", switchSetter([](SimConfig &config) -> bool & {
                            return config.cyclesFail;
                        })});
        return list;
    }();
    return keys;
}

} // namespace

bool SimConfig::set(const QByteArray &key, const QByteArray &value)
{
    for (const Key &candidate : allKeys()) {
        if (candidate.name == key) {
            // Work on a copy so a bad value leaves the setting as it was.
            SimConfig changed = *this;
            if (!candidate.apply(changed, value))
                return false;
            *this = changed;
            return true;
        }
    }
    return false;
}

void SimConfig::readEnvironment()
{
    for (const Key &key : allKeys()) {
        if (!qEnvironmentVariableIsSet(key.name.constData()))
            continue;
        const QByteArray value = qgetenv(key.name.constData());
        if (!set(key.name, value))
            std::fprintf(stderr, "brelksim: ignoring %s=%s\n", key.name.constData(),
                         value.constData());
    }
}
