#pragma once

#include <string_view>
#include <vector>

#include "MachineParameters.h"

namespace velkor {

// Where a parameter sits in the settings window.
enum class SettingsArea { General, WhiteProfile, LaminatedProfile };

// One parameter's row in the settings window: its edit, the button beside it that applies the
// edit's value, the button's caption and hint, and the parameter it sets. The names are the
// widgets' and their click handlers' own.
struct SettingControl {
    SettingsArea area;
    std::string_view caption;  // UTF-8
    std::string_view hint;     // shown on hover; empty for none (UTF-8)
    std::string_view edit;
    std::string_view button;
    std::string_view handler;
    const MachineParameter* parameter;
};

// The 38 rows in the order the window fills them, each area top to bottom.
const std::vector<SettingControl>& settingControls();

}  // namespace velkor
