#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velkor {

// How pressing a parameter's button hands its value on.
enum class ApplyShape {
    ScaledLength,  // millimetres, sent to the controller as impulses
    PlainInteger,  // sent exactly as typed
    StoredOnly,    // used by this console only, nothing sent
    FreeText,      // sent as typed, never checked
};

// Where a parameter sits in the settings window.
enum class SettingsArea { General, WhiteProfile, LaminatedProfile };

// One parameter of the settings window: an edit, the button beside it that applies the edit's
// value, and what applying does. Every name here is also the widget's or handler's name.
struct SettingRow {
    SettingsArea area;
    std::string_view caption;  // the button's caption (UTF-8)
    std::string_view hint;     // shown on hover; empty for none (UTF-8)
    ApplyShape shape;
    std::string_view commandWord;  // what the controller knows the parameter by; empty: not sent
    std::string_view key;          // the machine variable, also the VARIABLES key
    std::string_view edit;
    std::string_view button;
    std::string_view handler;

    // The VARIABLES key the value is written under, compared with upper(KODS).
    std::string databaseKey() const;
};

// The 38 parameters in the order the window fills them: the four general ones, the seventeen
// white-profile ones, then their seventeen laminated twins, each area top to bottom.
const std::vector<SettingRow>& settingRows();

// The row whose handler has this name, or null.
const SettingRow* findSettingRow(std::string_view handler);

}  // namespace velkor
