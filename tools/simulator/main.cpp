// velkor-simulator: stands in for the screw-driving machine's controller at the other end of the
// operator console's serial line, for the demo, the console's tests and service people without a
// machine. See the usage text in Options.cpp (velkor-simulator --help).
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Options.h"
#include "Simulator.h"
#include "Version.h"

int main(int argc, char** argv) {
    using namespace velkor::simulator;
    const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto status =
            velkor::answerCommandLine({parsed.help, parsed.version, parsed.error},
                                      "velkor-simulator", kUsage, velkor::kVersion)) {
        return *status;
    }
    return runSimulator(parsed.options);
}
