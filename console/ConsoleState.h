#pragma once

#include <cstdint>
#include <string>

#include "EventLog.h"
#include "IniFile.h"
#include "MachineVariables.h"

namespace velkor {

// The program-wide values of the console, shared by its two windows.
struct ConsoleState {
    std::string startupDirectory;  // the process's current directory, taken once at start-up
    MachineVariables variables;
    std::int32_t counterBase = 0;  // the production count read from the INI file at start-up
    int laminationMode = 0;        // 0 white, 1 laminated
    EventLog eventLog;

    // Kept by the reply handling.
    std::string lastReply;  // the newest packet that is not a state report, "=" and ";" removed
    int showRequest = 0;    // 1: log the next state report ("Показать")
    int autoPushState = 0;  // 1 after the first state report; 10 once the settings push started
    int outputState = 0;    // the controller's output state from its reports
    // True while the counter label holds a number read from the INI file or from a report;
    // only then does shutdown save it, so a start-up that failed early never wipes the count.
    bool counterKnown = false;

    IniFile iniFile() const { return IniFile(startupDirectory + "/Morvel.INI"); }
    std::string defaultDatabasePath() const { return startupDirectory + "/KV.GDB"; }
};

// The value of an INI entry of the console, or, when it is missing, the text
// "Ошибка в названии параметров : <section> = <key>" in its place (8-bit, Windows-1251).
std::string readConsoleIniEntry(const IniFile& ini, std::string_view section, std::string_view key);

}  // namespace velkor
