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

    IniFile iniFile() const { return IniFile(startupDirectory + "/Morvel.INI"); }
    std::string defaultDatabasePath() const { return startupDirectory + "/KV.GDB"; }
};

// The value of an INI entry of the console, or, when it is missing, the text
// "Ошибка в названии параметров : <section> = <key>" in its place (8-bit, Windows-1251).
std::string readConsoleIniEntry(const IniFile& ini, std::string_view section, std::string_view key);

}  // namespace velkor
