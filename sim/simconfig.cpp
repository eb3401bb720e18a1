#include "simconfig.h"

#include <QByteArrayList>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Setter = std::function<bool(SimConfig &, const QByteArray &)>;
using ModuleSetter = std::function<bool(SimModule &, const QByteArray &)>;

struct Key
{
    QByteArray name;
    Setter apply;
};

struct ModuleKey
{
    QByteArray name;
    ModuleSetter apply;
};

// A function, not a global object: the simulator reads its settings while the stand-in library
// is being loaded, before the objects of this file may have been constructed.
QByteArray keyPrefix()
{
    return QByteArrayLiteral("BRELKSIM_");
}

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

template <typename Config>
std::function<bool(Config &, const QByteArray &)>
switchSetter(std::function<bool &(Config &)> field)
{
    return [field](Config &config, const QByteArray &value) {
        return parseSwitch(value, &field(config));
    };
}

template <typename Config>
std::function<bool(Config &, const QByteArray &)>
numberSetter(uint maximum, std::function<void(Config &, uint)> store)
{
    return [maximum, store](Config &config, const QByteArray &value) {
        uint number = 0;
        if (!parseNumber(value, maximum, &number))
            return false;
        store(config, number);
        return true;
    };
}

bool setCurrentResolution(SimModule &config, const QByteArray &value)
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

bool setSecondRange(SimModule &config, const QByteArray &value)
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

bool setVoltageResolution(SimModule &config, const QByteArray &value)
{
    const QByteArray word = value.trimmed();
    if (word != "1V" && word != "100mV")
        return false;
    config.module.fineVoltage = word == "100mV";
    return true;
}

void addChannelKeys(std::vector<ModuleKey> &keys, int channel)
{
    const QByteArray suffix = channel == 0 ? "_A" : "_B";
    auto field = [channel](SimModule &config) -> ChannelConfig & {
        return config.module.channels[channel];
    };
    keys.push_back({"BRELKSIM_LOAD" + suffix, [field](SimModule &config, const QByteArray &value) {
                        bool ok = false;
                        const double megaohms = value.trimmed().toDouble(&ok);
                        if (!ok || megaohms < 0)
                            return false;
                        field(config).loadOhms = megaohms * 1e6;
                        return true;
                    }});
    keys.push_back(
        {"BRELKSIM_POLARITY" + suffix, [field](SimModule &config, const QByteArray &value) {
             const QByteArray word = value.trimmed().toLower();
             if (word != "positive" && word != "negative")
                 return false;
             field(config).positive = word == "positive";
             return true;
         }});
    keys.push_back(
        {"BRELKSIM_HV" + suffix, switchSetter<SimModule>([field](SimModule &config) -> bool & {
             return field(config).hvOn;
         })});
    keys.push_back(
        {"BRELKSIM_KILL" + suffix, switchSetter<SimModule>([field](SimModule &config) -> bool & {
             return field(config).killEnabled;
         })});
    keys.push_back(
        {"BRELKSIM_MANUAL" + suffix, switchSetter<SimModule>([field](SimModule &config) -> bool & {
             return field(config).manual;
         })});
    keys.push_back(
        {"BRELKSIM_INHIBIT" + suffix, switchSetter<SimModule>([field](SimModule &config) -> bool & {
             return field(config).inhibit;
         })});
    keys.push_back(
        {"BRELKSIM_TRIP" + suffix, switchSetter<SimModule>([field](SimModule &config) -> bool & {
             return field(config).trip;
         })});
    keys.push_back({"BRELKSIM_VLIMIT" + suffix,
                    numberSetter<SimModule>(100, [field](SimModule &config, uint n) {
                        field(config).voltageLimitPercent = int(n);
                    })});
    keys.push_back({"BRELKSIM_ILIMIT" + suffix,
                    numberSetter<SimModule>(100, [field](SimModule &config, uint n) {
                        field(config).currentLimitPercent = int(n);
                    })});
    keys.push_back({"BRELKSIM_VSET" + suffix,
                    numberSetter<SimModule>(6000, [field](SimModule &config, uint n) {
                        field(config).setVoltage = int(n);
                    })});
    keys.push_back({"BRELKSIM_RAMP" + suffix,
                    numberSetter<SimModule>(0xFFFF, [field](SimModule &config, uint n) {
                        field(config).rampSpeed = int(n);
                    })});
}

// A comma-separated list of base addresses. The first module keeps its configuration at the
// first address; a further module already at one of the addresses stays as it is, the others are
// new with the defaults.
bool setModules(SimConfig &config, const QByteArray &value)
{
    std::vector<SimModule> modules;
    for (const QByteArray &item : value.split(',')) {
        uint address = 0;
        if (!parseNumber(item, 0xFFFF, &address))
            return false;
        SimModule module = config.modules.front();
        if (!modules.empty()) {
            const auto existing =
                std::find_if(config.modules.begin() + 1, config.modules.end(),
                             [address](const SimModule &m) { return m.baseAddress == address; });
            module = existing != config.modules.end() ? *existing : SimModule();
        }
        module.baseAddress = address;
        modules.push_back(module);
    }
    config.modules = modules;
    return true;
}

const std::vector<Key> &bridgeKeys()
{
    static const std::vector<Key> keys = [] {
        std::vector<Key> list;
        list.push_back(
            {"BRELKSIM_BASE", numberSetter<SimConfig>(0xFFFF, [](SimConfig &config, uint n) {
                 config.modules.front().baseAddress = n;
             })});
        list.push_back({"BRELKSIM_MODULES", setModules});
        // The VM-USB library's device table has room for 32 bridges.
        list.push_back(
            {"BRELKSIM_BRIDGES", numberSetter<SimConfig>(32, [](SimConfig &config, uint n) {
                 config.bridges = int(n);
             })});
        list.push_back(
            {"BRELKSIM_CYCLE_US", numberSetter<SimConfig>(1000000, [](SimConfig &config, uint n) {
                 config.cycleMicroseconds = int(n);
             })});
        list.push_back(
            {"BRELKSIM_OPEN_NO_HANDLE", switchSetter<SimConfig>([](SimConfig &config) -> bool & {
                 return config.openGivesNoHandle;
             })});
        list.push_back(
            {"BRELKSIM_CYCLES_FAIL", switchSetter<SimConfig>([](SimConfig &config) -> bool & {
                 return config.cyclesFail;
             })});
        list.push_back(
            {"BRELKSIM_WRITES_FAIL", switchSetter<SimConfig>([](SimConfig &config) -> bool & {
                 return config.writesFail;
             })});
        list.push_back(
            {"BRELKSIM_UNPLUGGED", switchSetter<SimConfig>([](SimConfig &config) -> bool & {
                 return config.unplugged;
             })});
        list.push_back({"BRELKSIM_UNPLUG_FILE", [](SimConfig &config, const QByteArray &value) {
                            config.unplugFile = value;
                            return true;
                        }});
        return list;
    }();
    return keys;
}

const std::vector<ModuleKey> &moduleKeys()
{
    static const std::vector<ModuleKey> keys = [] {
        std::vector<ModuleKey> list;
        list.push_back(
            {"BRELKSIM_SERIAL", numberSetter<SimModule>(0xFFFF, [](SimModule &config, uint n) {
                 config.module.serialNumber = quint16(n);
                 config.ownSerial = true;
             })});
        list.push_back({"BRELKSIM_VOLTAGE_RESOLUTION", setVoltageResolution});
        list.push_back({"BRELKSIM_CURRENT_RESOLUTION", setCurrentResolution});
        list.push_back({"BRELKSIM_SECOND_RANGE", setSecondRange});
        addChannelKeys(list, 0);
        addChannelKeys(list, 1);
        list.push_back(
            {"BRELKSIM_NO_MODULE",
             switchSetter<SimModule>([](SimModule &config) -> bool & { return config.absent; })});
        return list;
    }();
    return keys;
}

template <typename List>
auto findKey(const List &keys, const QByteArray &name) -> decltype(&keys.front())
{
    for (const auto &key : keys) {
        if (key.name == name)
            return &key;
    }
    return nullptr;
}

// BRELKSIM_DC00_SERIAL is BRELKSIM_SERIAL for the module at 0xDC00.
QByteArray moduleKeyName(quint32 baseAddress, const QByteArray &key)
{
    return keyPrefix() + QByteArray::number(baseAddress, 16).toUpper().rightJustified(4, '0') +
           key.mid(keyPrefix().size() - 1);
}

bool splitModuleKey(const QByteArray &key, quint32 *baseAddress, QByteArray *moduleKey)
{
    const int digits = 4;
    const QByteArray address = key.mid(keyPrefix().size(), digits);
    if (!key.startsWith(keyPrefix()) || address.size() != digits ||
        key.mid(keyPrefix().size() + digits, 1) != "_")
        return false;
    for (const char digit : address) {
        if (!std::isxdigit(static_cast<unsigned char>(digit)))
            return false;
    }
    *baseAddress = address.toUInt(nullptr, 16);
    *moduleKey = keyPrefix() + key.mid(keyPrefix().size() + digits + 1);
    return true;
}

} // namespace

bool SimConfig::set(const QByteArray &key, const QByteArray &value)
{
    // Work on a copy so a bad value leaves the settings as they were.
    SimConfig changed = *this;
    bool applied = false;
    quint32 address = 0;
    QByteArray moduleKey;
    if (const Key *bridgeKey = findKey(bridgeKeys(), key)) {
        applied = bridgeKey->apply(changed, value);
    } else if (const ModuleKey *firstModuleKey = findKey(moduleKeys(), key)) {
        applied = firstModuleKey->apply(changed.modules.front(), value);
    } else if (splitModuleKey(key, &address, &moduleKey)) {
        const ModuleKey *found = findKey(moduleKeys(), moduleKey);
        const auto module =
            std::find_if(changed.modules.begin(), changed.modules.end(),
                         [address](const SimModule &m) { return m.baseAddress == address; });
        applied = found && module != changed.modules.end() && found->apply(*module, value);
    }
    if (!applied || changed.windowsOverlap())
        return false;
    changed.deriveSerials();
    *this = changed;
    return true;
}

void SimConfig::readEnvironment()
{
    std::vector<QByteArray> names;
    for (const Key &key : bridgeKeys())
        names.push_back(key.name);
    for (const ModuleKey &key : moduleKeys())
        names.push_back(key.name);
    // The module list is known once the bridge keys are applied.
    auto apply = [this](const QByteArray &name) {
        if (!qEnvironmentVariableIsSet(name.constData()))
            return;
        const QByteArray value = qgetenv(name.constData());
        if (!set(name, value))
            std::fprintf(stderr, "brelksim: ignoring %s=%s\n", name.constData(), value.constData());
    };
    for (const QByteArray &name : names)
        apply(name);
    const std::vector<SimModule> crate = modules;
    for (const SimModule &module : crate) {
        for (const ModuleKey &key : moduleKeys())
            apply(moduleKeyName(module.baseAddress, key.name));
    }
}

int SimConfig::moduleAt(quint32 address) const
{
    for (std::size_t i = 0; i < modules.size(); ++i) {
        if (address >= modules[i].baseAddress && address < modules[i].baseAddress + moduleWindow)
            return int(i);
    }
    return -1;
}

bool SimConfig::windowsOverlap() const
{
    for (std::size_t i = 0; i < modules.size(); ++i) {
        for (std::size_t j = i + 1; j < modules.size(); ++j) {
            const quint32 a = modules[i].baseAddress;
            const quint32 b = modules[j].baseAddress;
            if ((a > b ? a - b : b - a) < moduleWindow)
                return true;
        }
    }
    return false;
}

void SimConfig::deriveSerials()
{
    for (std::size_t i = 1; i < modules.size(); ++i) {
        if (!modules[i].ownSerial)
            modules[i].module.serialNumber = quint16(modules.front().module.serialNumber + i);
    }
}
