// Storing and loading a port's settings in an INI file or the registry.
#include <functional>
#include <utility>

#include "ComPort.h"
#include "ComPortText.h"
#include "Numbers.h"
#include "SettingsStore.h"
#include "Text.h"

namespace velkor {
namespace {

// One stored setting: its group, its name, and how it reads and writes as text or integer.
struct StoredSetting {
    TStoredProp group;
    const char* name;
    std::function<std::string(TCustomComPort&)> text;
    std::function<void(TCustomComPort&, std::string_view)> setText;
    std::function<std::int32_t(TCustomComPort&)> integer;
    std::function<void(TCustomComPort&, std::int32_t)> setInteger;
};

using Port = TCustomComPort;

StoredSetting text(TStoredProp group, const char* name, std::function<std::string(Port&)> get,
                   std::function<void(Port&, std::string_view)> set) {
    return {group, name, std::move(get), std::move(set), {}, {}};
}

StoredSetting integer(TStoredProp group, const char* name, std::function<std::int32_t(Port&)> get,
                      std::function<void(Port&, std::int32_t)> set) {
    return {group, name, {}, {}, std::move(get), std::move(set)};
}

StoredSetting yesNo(TStoredProp group, const char* name, std::function<bool(Port&)> get,
                    std::function<void(Port&, bool)> set) {
    return text(
        group, name, [get = std::move(get)](Port& p) { return YesNoText(get(p)); },
        [set = std::move(set)](Port& p, std::string_view v) { set(p, TextToYesNo(v)); });
}

StoredSetting character(TStoredProp group, const char* name, std::function<char(Port&)> get,
                        std::function<void(Port&, char)> set) {
    return text(
        group, name, [get = std::move(get)](Port& p) { return CharToText(get(p)); },
        [set = std::move(set)](Port& p, std::string_view v) { set(p, TextToChar(v)); });
}

// Every stored setting, group after group, in the order they are written and read.
const std::vector<StoredSetting>& storedSettings() {
    static const std::vector<StoredSetting> settings = {
        text(
            spBasic, "Port", [](Port& p) { return p.Port(); },
            [](Port& p, std::string_view v) { p.SetPort(std::string(v)); }),
        text(
            spBasic, "BaudRate", [](Port& p) { return BaudRateToText(p.BaudRate()); },
            [](Port& p, std::string_view v) { p.SetBaudRate(TextToBaudRate(v)); }),
        integer(
            spBasic, "CustomBaudRate", [](Port& p) { return p.CustomBaudRate(); },
            [](Port& p, std::int32_t v) { p.SetCustomBaudRate(v); }),
        text(
            spBasic, "StopBits", [](Port& p) { return StopBitsToText(p.StopBits()); },
            [](Port& p, std::string_view v) { p.SetStopBits(TextToStopBits(v)); }),
        text(
            spBasic, "DataBits", [](Port& p) { return DataBitsToText(p.DataBits()); },
            [](Port& p, std::string_view v) { p.SetDataBits(TextToDataBits(v)); }),
        text(
            spBasic, "Parity", [](Port& p) { return ParityToText(p.Parity().Bits()); },
            [](Port& p, std::string_view v) { p.Parity().SetBits(TextToParity(v)); }),
        text(
            spBasic, "FlowControl",
            [](Port& p) { return FlowControlToText(p.FlowControl().FlowControl()); },
            [](Port& p, std::string_view v) {
                p.FlowControl().SetFlowControl(TextToFlowControl(v));
            }),
        character(
            spOthers, "EventChar", [](Port& p) { return p.EventChar(); },
            [](Port& p, char v) { p.SetEventChar(v); }),
        yesNo(
            spOthers, "DiscardNull", [](Port& p) { return p.DiscardNull(); },
            [](Port& p, bool v) { p.SetDiscardNull(v); }),
        yesNo(
            spParity, "Parity.Check", [](Port& p) { return p.Parity().Check(); },
            [](Port& p, bool v) { p.Parity().SetCheck(v); }),
        yesNo(
            spParity, "Parity.Replace", [](Port& p) { return p.Parity().Replace(); },
            [](Port& p, bool v) { p.Parity().SetReplace(v); }),
        character(
            spParity, "Parity.ReplaceChar", [](Port& p) { return p.Parity().ReplaceChar(); },
            [](Port& p, char v) { p.Parity().SetReplaceChar(v); }),
        integer(
            spBuffer, "Buffer.OutputSize", [](Port& p) { return p.Buffer().OutputSize(); },
            [](Port& p, std::int32_t v) { p.Buffer().SetOutputSize(v); }),
        integer(
            spBuffer, "Buffer.InputSize", [](Port& p) { return p.Buffer().InputSize(); },
            [](Port& p, std::int32_t v) { p.Buffer().SetInputSize(v); }),
        integer(
            spTimeouts, "Timeouts.ReadInterval",
            [](Port& p) { return p.Timeouts().ReadInterval(); },
            [](Port& p, std::int32_t v) { p.Timeouts().SetReadInterval(v); }),
        integer(
            spTimeouts, "Timeouts.ReadTotalConstant",
            [](Port& p) { return p.Timeouts().ReadTotalConstant(); },
            [](Port& p, std::int32_t v) { p.Timeouts().SetReadTotalConstant(v); }),
        integer(
            spTimeouts, "Timeouts.ReadTotalMultiplier",
            [](Port& p) { return p.Timeouts().ReadTotalMultiplier(); },
            [](Port& p, std::int32_t v) { p.Timeouts().SetReadTotalMultiplier(v); }),
        integer(
            spTimeouts, "Timeouts.WriteTotalConstant",
            [](Port& p) { return p.Timeouts().WriteTotalConstant(); },
            [](Port& p, std::int32_t v) { p.Timeouts().SetWriteTotalConstant(v); }),
        integer(
            spTimeouts, "Timeouts.WriteTotalMultiplier",
            [](Port& p) { return p.Timeouts().WriteTotalMultiplier(); },
            [](Port& p, std::int32_t v) { p.Timeouts().SetWriteTotalMultiplier(v); }),
        text(
            spFlowControl, "FlowControl.ControlRTS",
            [](Port& p) { return RTSToText(p.FlowControl().ControlRTS()); },
            [](Port& p, std::string_view v) { p.FlowControl().SetControlRTS(TextToRTS(v)); }),
        text(
            spFlowControl, "FlowControl.ControlDTR",
            [](Port& p) { return DTRToText(p.FlowControl().ControlDTR()); },
            [](Port& p, std::string_view v) { p.FlowControl().SetControlDTR(TextToDTR(v)); }),
        yesNo(
            spFlowControl, "FlowControl.DSRSensitivity",
            [](Port& p) { return p.FlowControl().DSRSensitivity(); },
            [](Port& p, bool v) { p.FlowControl().SetDSRSensitivity(v); }),
        yesNo(
            spFlowControl, "FlowControl.OutCTSFlow",
            [](Port& p) { return p.FlowControl().OutCTSFlow(); },
            [](Port& p, bool v) { p.FlowControl().SetOutCTSFlow(v); }),
        yesNo(
            spFlowControl, "FlowControl.OutDSRFlow",
            [](Port& p) { return p.FlowControl().OutDSRFlow(); },
            [](Port& p, bool v) { p.FlowControl().SetOutDSRFlow(v); }),
        yesNo(
            spFlowControl, "FlowControl.TxContinueOnXoff",
            [](Port& p) { return p.FlowControl().TxContinueOnXoff(); },
            [](Port& p, bool v) { p.FlowControl().SetTxContinueOnXoff(v); }),
        yesNo(
            spFlowControl, "FlowControl.XonXoffIn",
            [](Port& p) { return p.FlowControl().XonXoffIn(); },
            [](Port& p, bool v) { p.FlowControl().SetXonXoffIn(v); }),
        yesNo(
            spFlowControl, "FlowControl.XonXoffOut",
            [](Port& p) { return p.FlowControl().XonXoffOut(); },
            [](Port& p, bool v) { p.FlowControl().SetXonXoffOut(v); }),
        character(
            spFlowControl, "FlowControl.XoffChar",
            [](Port& p) { return p.FlowControl().XoffChar(); },
            [](Port& p, char v) { p.FlowControl().SetXoffChar(v); }),
        character(
            spFlowControl, "FlowControl.XonChar", [](Port& p) { return p.FlowControl().XonChar(); },
            [](Port& p, char v) { p.FlowControl().SetXonChar(v); }),
    };
    return settings;
}

constexpr TStoredProp kGroupOrder[] = {spBasic,  spOthers,   spParity,
                                       spBuffer, spTimeouts, spFlowControl};

bool isCustomRate(const StoredSetting& setting) {
    return std::string_view(setting.name) == "CustomBaudRate";
}

// The custom rate is kept only with a custom baud rate (the one just read, when loading).
bool applies(Port& port, const StoredSetting& setting) {
    return !isCustomRate(setting) || port.BaudRate() == brCustom;
}

// The registry key of a location: the root named before its first backslash (the current
// user's unless it names the local machine), then the rest, then the component's name.
std::string registryKeyPath(const std::string& location, const std::string& name) {
    const auto slash = location.find('\\');
    const std::string rootText = location.substr(0, slash);
    std::string rest = slash == std::string::npos ? std::string() : location.substr(slash + 1);
    const bool localMachine = equalsIgnoringCase(rootText, "HKEY_LOCAL_MACHINE");
    if (slash == std::string::npos && !localMachine &&
        !equalsIgnoringCase(rootText, "HKEY_CURRENT_USER")) {
        rest = location;  // no root given: the whole location is the key
    }
    if (!rest.empty() && rest.back() != '\\') {
        rest += '\\';
    }
    return std::string(localMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER") + "\\" + rest +
           name;
}

}  // namespace

void IniSection::writeText(std::string_view name, std::string_view value) {
    file_.write(section_, name, value);
}

void IniSection::writeInteger(std::string_view name, std::int32_t value) {
    file_.write(section_, name, std::to_string(value));
}

std::string IniSection::readText(std::string_view name, std::string_view current) {
    return file_.read(section_, name).value_or(std::string(current));
}

std::int32_t IniSection::readInteger(std::string_view name, std::int32_t current) {
    const auto value = file_.read(section_, name);
    return value ? velkor::readInteger(*value) : current;
}

void RegistryKey::writeText(std::string_view name, std::string_view value) {
    registry_.writeText(key_, name, value);
}

void RegistryKey::writeInteger(std::string_view name, std::int32_t value) {
    registry_.writeInteger(key_, name, value);
}

std::string RegistryKey::readText(std::string_view name, std::string_view) {
    return registry_.readText(key_, name).value_or(std::string());
}

std::int32_t RegistryKey::readInteger(std::string_view name, std::int32_t) {
    const auto value = registry_.readInteger(key_, name);
    if (!value) {
        throw VelkorError("no integer value " + std::string(name) + " under " + key_);
    }
    return *value;
}

void TCustomComPort::writeStoredSettings(SettingsStore& store) {
    for (TStoredProp group : kGroupOrder) {
        if (!storedProps_.contains(group)) {
            continue;
        }
        for (const StoredSetting& setting : storedSettings()) {
            if (setting.group != group || !applies(*this, setting)) {
                continue;
            }
            if (setting.text) {
                store.writeText(setting.name, setting.text(*this));
            } else {
                store.writeInteger(setting.name, setting.integer(*this));
            }
        }
    }
}

void TCustomComPort::readStoredSettings(SettingsStore& store) {
    for (TStoredProp group : kGroupOrder) {
        if (!storedProps_.contains(group)) {
            continue;
        }
        for (const StoredSetting& setting : storedSettings()) {
            if (setting.group != group || !applies(*this, setting)) {
                continue;
            }
            if (setting.text) {
                setting.setText(*this, store.readText(setting.name, setting.text(*this)));
            } else {
                const std::int32_t fallback = isCustomRate(setting) ? 9600 : setting.integer(*this);
                setting.setInteger(*this, store.readInteger(setting.name, fallback));
            }
        }
    }
}

void TCustomComPort::WriteRegistrySettings(RegistryKey& key) {
    writeStoredSettings(key);
}

void TCustomComPort::WriteIniSettings(IniSection& ini) {
    writeStoredSettings(ini);
}

void TCustomComPort::ReadRegistrySettings(RegistryKey& key) {
    readStoredSettings(key);
}

void TCustomComPort::ReadIniSettings(IniSection& ini) {
    readStoredSettings(ini);
}

void TCustomComPort::SaveSettings(TStorageType storage, const std::string& location) {
    try {
        if (storage == stIniFile) {
            IniSection section(IniFile(location), name_);
            WriteIniSettings(section);
        } else {
            RegistryKey key(RegistryFile(), registryKeyPath(location, name_));
            WriteRegistrySettings(key);
        }
    } catch (const std::exception&) {
        RaisePortError(CE_StoreFailed);
    }
}

void TCustomComPort::RestoreSettings(TStorageType storage, const std::string& location) {
    bool failed = false;
    BeginSettingsUpdate();
    try {
        if (storage == stIniFile) {
            IniSection section(IniFile(location), name_);
            ReadIniSettings(section);
        } else {
            RegistryKey key(RegistryFile(), registryKeyPath(location, name_));
            ReadRegistrySettings(key);
        }
    } catch (const std::exception&) {
        failed = true;  // what was read before stays set and is applied below
    }
    EndSettingsUpdate();
    if (failed) {
        RaisePortError(CE_LoadFailed);
    }
}

}  // namespace velkor
