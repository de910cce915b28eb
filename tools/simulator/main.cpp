// velkor-simulator: stands in for the screw-driving machine's controller at the other end of the
// operator console's serial line, for the demo, the console's tests and service people without a
// machine. See the usage text in Options.cpp (velkor-simulator --help).
#include <cstdio>
#include <string>
#include <vector>

#include "Options.h"
#include "Simulator.h"
#include "Version.h"

int main(int argc, char** argv) {
    using namespace velkor::simulator;
    const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (parsed.version) {
        std::printf("velkor-simulator %s\n", velkor::kVersion);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "velkor-simulator: %s\n\n", parsed.error.c_str());
        std::fputs(kUsage, stderr);
        return 2;
    }
    return runSimulator(parsed.options);
}
