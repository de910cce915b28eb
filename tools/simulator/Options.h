// The simulator's command line.
#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velkor::simulator {

extern const char* const kUsage;

struct Options {
    std::optional<std::string> device;  // a real serial device instead of a pseudo-terminal
    std::optional<std::string> link;    // a symbolic link to the line, kept while running
    std::optional<std::string> logFile;
    std::optional<std::string> stateFile;
    std::set<std::string> withheld;
    std::chrono::milliseconds gap{20};
    std::chrono::milliseconds delay{0};
    bool equalsForm = false;
    bool junk = false;
    bool split = false;
    long long count = 0;
    int setOut = 0;
};

struct ParsedOptions {
    Options options;
    bool help = false;
    bool version = false;
    std::string error;  // empty when the command line is good
};

// `arguments` without the program name. Options take their value as the next argument or after
// "=" (--gap=30).
ParsedOptions parseOptions(const std::vector<std::string>& arguments);

}  // namespace velkor::simulator
