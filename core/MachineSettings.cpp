#include "MachineSettings.h"

#include <algorithm>
#include <cctype>

namespace velkor {
namespace {

struct Parameter {
    std::string_view key;
    ApplyShape shape;
};

using enum ApplyShape;

// Used by this console only.
constexpr Parameter kGeneral[] = {
    {"L_marking", StoredOnly},
    {"L_BarCode", StoredOnly},
    {"Step_pnevmo", StoredOnly},
    {"Qty_Imp_mm", StoredOnly},
};

// Each has a laminated twin.
constexpr Parameter kProfile[] = {
    {"SH_S", ScaledLength},      {"head_DELTA", ScaledLength},  {"setSpeed", PlainInteger},
    {"setAccel", PlainInteger},  {"SAM_DEL", PlainInteger},     {"STP_OUT", ScaledLength},
    {"L1headPaz", ScaledLength}, {"L_upor", StoredOnly},        {"setS_OUT", PlainInteger},
    {"stToR", ScaledLength},     {"setA_OUT", PlainInteger},    {"R_DELTA", ScaledLength},
    {"uporDelay", PlainInteger}, {"n_uporDelay", PlainInteger}, {"SbrosDelay", PlainInteger},
    {"S_SH_S", ScaledLength},    {"VOZVRAT", FreeText},
};

}  // namespace

std::string MachineSetting::databaseKey() const {
    std::string upper(key);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

const std::vector<MachineSetting>& machineSettings() {
    static const std::vector<MachineSetting> settings = [] {
        std::vector<MachineSetting> all;
        for (const Parameter& p : kGeneral) {
            all.push_back({std::string(p.key), p.shape, {}});
        }
        for (const bool laminated : {false, true}) {
            for (const Parameter& p : kProfile) {
                std::string word = p.shape == StoredOnly ? std::string() : std::string(p.key);
                all.push_back({std::string(p.key) + (laminated ? "_L" : ""), p.shape,
                               std::move(word), laminated});
            }
        }
        return all;
    }();
    return settings;
}

const MachineSetting* findMachineSetting(std::string_view key) {
    const auto& settings = machineSettings();
    const auto found = std::find_if(settings.begin(), settings.end(),
                                    [&](const MachineSetting& s) { return s.key == key; });
    return found == settings.end() ? nullptr : &*found;
}

}  // namespace velkor
