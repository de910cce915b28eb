#pragma once

#include <string_view>

#include "ConsoleDatabase.h"
#include "ControllerLine.h"
#include "MachineParameters.h"
#include "RecordBook.h"

namespace velkor {

// Applies a value typed into a parameter's edit: strips it, converts it, makes it the machine
// variable, sends it to the controller (when the parameter is sent at all) and writes it to its
// VARIABLES row. Everything is checked first: a text that is not a number, a length whose
// impulses the controller cannot hold or a text longer than VARIABLES holds changes nothing.
// After that a failure throws at its step and what the earlier steps did stays done: a failed
// send leaves the variable changed and the database alone; a failed write leaves the variable
// changed and the command sent, and says so. `change` learns, step by step, what the history
// keeps of it: the key, the value to store, the command sent and the value stored before.
void applySetting(const MachineParameter& parameter, std::string_view editText,
                  MachineVariables& variables, ControllerLine& line, ConsoleDatabase& database,
                  SettingsChange& change);

// Tells the controller to keep its parameters over a power cut.
void saveControllerSettings(ControllerLine& line);

}  // namespace velkor
