#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velkor {

// How applying a parameter hands its value on.
enum class ApplyShape {
    ScaledLength,  // millimetres, sent to the controller as impulses
    PlainInteger,  // sent exactly as typed
    StoredOnly,    // used by this console only, nothing sent
    FreeText,      // sent as typed, never checked
};

// One of the 38 machine parameters the service person sets: the machine variable that holds it
// (also its VARIABLES key), how applying it hands its value on, and the word the controller
// knows it by. A laminated-profile parameter is its white twin's key with "_L" and goes out
// under the white one's word, so nothing on the line tells a laminated value from a white one.
struct MachineSetting {
    std::string key;
    ApplyShape shape;
    std::string commandWord;  // empty: not sent
    bool laminated = false;

    // The VARIABLES key the value is written under, compared with upper(KODS).
    std::string databaseKey() const;
};

// The 38 parameters: the four general ones, the seventeen white-profile ones, then their
// seventeen laminated twins in the same order.
const std::vector<MachineSetting>& machineSettings();

// The parameter of this machine variable, or null.
const MachineSetting* findMachineSetting(std::string_view key);

}  // namespace velkor
