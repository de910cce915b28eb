#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "EventLog.h"
#include "IniFile.h"
#include "MachineVariables.h"

namespace velkor {

// The start-up probe's requests ("GET_ALL") to the controller's own device that it has not
// answered yet. A controller that answers late (busy, slow firmware) sends its report after
// start-up has opened its port again and read the saved counter: that report carries the count
// from before this run, which must not be added to the saved total. An answer is waited for
// up to a second after the last request; a report after that is the controller's own news.
class UnansweredProbe {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kLongestAnswer{1000};

    void asked(Clock::time_point now);
    // A state report from the controller came in at `now`: true when it answers the probe.
    bool answeredBy(Clock::time_point now);

  private:
    int unanswered_ = 0;
    Clock::time_point lastAsked_{};
};

// The program-wide values of the running console, which its two windows show and change.
struct ConsoleState {
    std::string startupDirectory;  // the process's current directory, taken once at start-up
    MachineVariables variables;
    std::int64_t counterBase = 0;  // the production count read from the INI file at start-up
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
    // False while the start-up probe has a port open that is not the controller's: a report
    // from there shows on the counter, but neither starts the settings push nor answers the
    // probe's requests to the controller.
    bool lineIsTheControllers = true;
    UnansweredProbe probe;

    IniFile iniFile() const { return IniFile(startupDirectory + "/Morvel.INI"); }
    std::string defaultDatabasePath() const { return startupDirectory + "/KV.GDB"; }
    std::string runMarkerPath() const { return startupDirectory + "/velkor.running"; }
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
