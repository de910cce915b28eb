#pragma once

#include <string>

#include "EventLog.h"
#include "IniFile.h"
#include "MachineVariables.h"
#include "UnansweredProbe.h"

namespace velkor {

// The program-wide values of the running console, which its two windows show and change.
struct ConsoleState {
    std::string startupDirectory;  // the process's current directory, taken once at start-up
    MachineVariables variables;
    int laminationMode = 0;  // 0 white, 1 laminated
    EventLog eventLog;

    // Kept by the reply handling.
    std::string lastReply;  // the newest packet that is not a state report, "=" and ";" removed
    int showRequest = 0;    // 1: log the next state report ("Показать")
    int autoPushState = 0;  // 1 after the first state report; 10 once the settings push started
    int outputState = 0;    // the controller's output state from its reports
    // False while the start-up probe has a port open that is not the controller's: a report
    // from there shows on the counter, but neither starts the settings push nor answers the
    // probe's requests to the controller.
    bool lineIsTheControllers = true;
    UnansweredProbe probe;

    IniFile iniFile() const { return IniFile(startupDirectory + "/Morvel.INI"); }
    std::string defaultDatabasePath() const { return startupDirectory + "/KV.GDB"; }
    std::string runMarkerPath() const { return startupDirectory + "/velkor.running"; }
};

}  // namespace velkor
