// What the machine's controller does with one command from the console, and what it answers.
//
// The controller answers in packets framed as "<" + text + ">". It acknowledges a command by
// echoing it, <SH_S4890>, or in the "=" form that puts "=" between the command's word and its
// argument, <SH_S=4890>; the console removes every "=" and ";" from a packet before comparing it
// with what it sent, so both forms acknowledge. GET_ALL is answered with the state report
// <GET_ALL;CNT=n;setOut=m;> instead of an echo. Every other command is echoed, unknown ones too.
//
// The controller counts one piece for each position set the console dispatches: a set is R_POS,
// R2_POS, ... R7_POS, and the piece is counted at its R_POS.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace velkor::simulator {

enum class CommandKind {
    StateReport,  // GET_ALL
    ClearCount,   // CLR_CNT
    GetStep,      // GET_STEP
    GetCount,     // GET_CNT
    SaveFlash,    // SaveFlash: store the settings permanently
    Position,     // R_POS, R2_POS ... R7_POS with a position in impulses
    Setting,      // a machine setting with its value (SH_S4890)
    Mode,         // Lamin1 / Lamin0
    Unknown,
};

struct ParsedCommand {
    std::string word;      // the command word: SH_S
    std::string argument;  // what follows the word: 4890 (may be empty)
    CommandKind kind = CommandKind::Unknown;
    int position = 0;  // for Position: 1 for R_POS, 2 for R2_POS ... 7 for R7_POS
};

// Splits a command into its word and argument. Known words are matched at the start of the
// command, so that an argument may be text as well as a number; for an unknown command the word
// is what remains without a trailing number (digits, a decimal point and a sign), or the whole
// command when nothing else would remain.
ParsedCommand parseCommand(std::string_view command);

// True for the words whose last value the controller keeps and SaveFlash stores.
bool isStoredWord(std::string_view word);

std::string frame(std::string_view text);

// The framed acknowledgement of a command: its echo, or the "=" form of it.
std::string acknowledgement(const ParsedCommand& command, bool equalsForm);

struct ControllerConfig {
    long long count = 0;      // the piece count at power-up
    int setOut = 0;           // the output state that GET_ALL reports
    bool equalsForm = false;  // acknowledge as <WORD=ARG> instead of <WORDARG>
    // Commands never answered, named by their word or their whole text: the controller still
    // carries them out, only the reply never reaches the console, as if lost on the line.
    std::set<std::string> withheld{};
};

struct Reply {
    std::vector<std::string> packets;  // framed, in the order they are sent
    std::vector<std::string> notes;    // what the controller did, for the log
    bool saveSettings = false;         // SaveFlash: the caller stores settings()
    bool withheld = false;
};

class ControllerModel {
  public:
    explicit ControllerModel(ControllerConfig config = {});

    Reply handle(std::string_view command);

    long long count() const { return count_; }
    int step() const { return step_; }
    int setOut() const { return config_.setOut; }

    // The last value of every setting and mode word received (or restored), by word.
    const std::map<std::string, std::string>& settings() const { return settings_; }

    // Puts back settings stored by an earlier SaveFlash, as the controller does at power-up.
    // Words that the controller does not store are left out and returned.
    std::vector<std::string> restoreSettings(const std::map<std::string, std::string>& stored);

  private:
    ControllerConfig config_;
    long long count_ = 0;
    int step_ = 0;
    std::map<std::string, std::string> settings_;
};

// The settings file that SaveFlash writes: a comment line, then WORD=VALUE lines sorted by word,
// values written as escapeBytes() shows them.
std::string formatSettingsFile(const std::map<std::string, std::string>& settings);

// Reads a settings file; blank lines and lines starting with # are skipped. Lines that cannot be
// read are described in `problems` and skipped.
std::map<std::string, std::string> parseSettingsFile(std::string_view text,
                                                     std::vector<std::string>& problems);

}  // namespace velkor::simulator
