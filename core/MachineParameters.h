#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ConsoleDatabase.h"
#include "MachineVariables.h"

namespace velkor {

// What applying a parameter in the settings window does with its value besides keeping it.
enum class Applied {
    Never,   // not in the settings window: only VARIABLES sets it (Port, pwd, TestMode)
    Stored,  // used by this console only: kept in VARIABLES, nothing sent
    Sent,    // also sent to the controller under its command word: a length as impulses, an
             // integer or a text as typed
};

// One machine variable, named once for everything that reads or writes it: start-up's load,
// the settings window's apply, the settings push and the profile toggle.
struct MachineParameter {
    // Where the value lives; the member's type is the parameter's kind: a length in
    // millimetres (long double), a 32-bit integer or a text.
    using Member = std::variant<long double MachineVariables::*, std::int32_t MachineVariables::*,
                                std::string MachineVariables::*>;

    std::string key{};  // the VARIABLES key and the member's name
    Member member{};
    bool trimmedText = false;  // a text kept trimmed, not as read
    Applied applied = Applied::Never;
    // The word the controller knows it by. A laminated twin goes out under its white
    // parameter's word, so nothing on the line tells a laminated value from a white one.
    std::string commandWord{};
    bool laminated = false;       // the laminated-profile twin of a white parameter
    std::string laminatedTwin{};  // a white parameter's twin, empty for none
    int pushPlace = 0;            // 1 to 14: its place in the settings push; 0: not pushed
    // A laminated profile moves the length by this many cylinder strokes when the mode
    // toggles to it (0: the toggle does not send it).
    int strokeShift = 0;

    bool isLength() const {
        return std::holds_alternative<long double MachineVariables::*>(member);
    }
    bool isText() const { return std::holds_alternative<std::string MachineVariables::*>(member); }
    // The key VARIABLES rows are written under, compared with upper(KODS).
    std::string databaseKey() const;
};

// All 41 machine variables: the shared ones, then each white parameter followed by its
// laminated twin.
const std::vector<MachineParameter>& machineParameters();

// The parameter whose key equals `key` exactly (case-sensitive), or null.
const MachineParameter* findMachineParameter(std::string_view key);
// The parameter of a key the code names itself; a key that is none is a programming error.
const MachineParameter& machineParameter(std::string_view key);

// The fourteen parameters of the settings push, in the order the controller takes them.
const std::vector<const MachineParameter*>& pushedParameters();
// The parameters the profile toggle shifts, in the order it sends them.
const std::vector<const MachineParameter*>& strokeShiftedParameters();

// A length's value in millimetres.
long double lengthValue(const MachineVariables& variables, const MachineParameter& parameter);

// The text an edit shows for its parameter (8-bit): a length in general form with a decimal
// comma (16,3; 300), an integer in decimal, a text as stored.
std::string shownText(const MachineVariables& variables, const MachineParameter& parameter);

// Stores a value text read from VARIABLES into its variable: integers as readInteger reads
// them, lengths with either "." or "," as the decimal separator, texts as they are (trimmed where
// the parameter says so). A text that does not convert throws the conversion error and leaves
// the variable unchanged.
void storeVariableText(MachineVariables& variables, const MachineParameter& parameter,
                       std::string_view text);

// Loads the rows of VARIABLES in the order given. Keys are trimmed and compared exactly; rows
// with unknown keys are ignored; a key that occurs twice ends with its last value. The first
// row that does not convert stops the load with its error; the rows before it stay loaded.
void loadMachineVariables(MachineVariables& variables, const std::vector<VariableRow>& rows);

}  // namespace velkor
