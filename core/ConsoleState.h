#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "EventLog.h"
#include "IniFile.h"
#include "MachineVariables.h"
#include "RunMarker.h"

namespace velkor {

// The program-wide values of the running console, which its two windows show and change.
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
    // True while the counter holds a number read from the INI file or from a report.
    bool counterKnown = false;
    // True once start-up has read the INI counter (or found it missing): only from then on do
    // reports and shutdown write it, so neither the port probe's report (counted without the
    // counter base) nor a start-up that failed early ever wipes the saved total.
    bool counterSaving = false;

    IniFile iniFile() const { return IniFile(startupDirectory + "/Morvel.INI"); }
    std::string defaultDatabasePath() const { return startupDirectory + "/KV.GDB"; }
    RunMarker runMarker() const { return RunMarker(startupDirectory + "/velkor.running"); }
};

// Start-up's reading of the production counter from Morvel.INI into the counter base. `show`
// gets the text the counter shows (the entry, or in its place the missing-entry text
// "Ошибка в названии параметров : MAIN = CNT", 8-bit Windows-1251) before it is
// converted, so the counter holds it also when the conversion fails. A missing entry fails with
// the conversion error of the missing-entry text. An entry that is there but is no number is
// first kept in the file under a key of its own, stamped with `now`, and the error names the
// file, the key and where the text went; only then may a report replace it.
void readStartupCounter(ConsoleState& state, const std::function<void(const std::string&)>& show,
                        const std::tm& now);

}  // namespace velkor
