// The event log under a flood: packets from the controller (behind the serial driver seam, in
// this process) a thousand at a time, each a line in the console's own log, with the real main
// window showing them (offscreen) and the journal writing them to disk. Reports lines per
// second and the process's resident memory along the way.
//
//   velkor_eventlog_bench [lines]      (default 1000000)

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "ConsoleApplication.h"
#include "ConsoleRig.h"
#include "FirebirdSession.h"

namespace {

using Clock = std::chrono::steady_clock;

double residentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const long lines = argc > 1 ? std::atol(argv[1]) : 1'000'000;
    velkor::prepareFirebirdEnvironment();
    velkor::ConsoleApplication application(argc, argv);

    velkor::test::ConsoleRig rig;
    velkor::TForm1& window = rig.window();
    window.show();
    std::printf("resident at start: %.0f MB\n", residentMegabytes());
    constexpr long kBatch = 1000;
    const auto start = Clock::now();
    auto last = start;
    for (long i = 1; i <= lines; i += kBatch) {
        std::string packets;
        for (long j = i; j < i + kBatch && j <= lines; ++j) {
            packets +=
                "<GET_STEP;STEP=" + std::to_string(j % 7) + ";piece " + std::to_string(j) + ">";
        }
        rig.controller.send(packets);
        if ((i + kBatch - 1) % 100'000 == 0) {
            const auto now = Clock::now();
            std::printf("%8ld lines: %.0f lines/s over the last 100,000, resident %.0f MB\n",
                        i + kBatch - 1, 1e5 / std::chrono::duration<double>(now - last).count(),
                        residentMegabytes());
            last = now;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%ld lines in %.1f s: %.0f lines/s\n", lines, seconds,
                static_cast<double>(lines) / seconds);
    window.close();
    return 0;
}
