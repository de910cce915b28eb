// The event log under a flood: lines appended through the console's own log, as packets add
// them, with the real main window showing them (offscreen) and the journal writing them to
// disk. Reports lines per second and the process's resident memory along the way.
//
//   velkor_eventlog_bench [lines]      (default 1000000)

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ComMainForm.h"
#include "ConsoleApplication.h"
#include "ErrorBox.h"
#include "FirebirdSession.h"
#include "PseudoTerminal.h"

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

    const auto workspace =
        std::filesystem::absolute(std::filesystem::path(argv[0]).parent_path() / "log-workspace");
    std::filesystem::remove_all(workspace);
    std::filesystem::create_directories(workspace);
    velkor::test::PseudoTerminal controller;
    std::ofstream(workspace / "variables.txt") << "Port=" << controller.path() << "\n";
    const std::string command = std::string(VELKOR_MAKEDB) + " --variables '" +
                                (workspace / "variables.txt").string() + "' '" +
                                (workspace / "KV.GDB").string() + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "velkor-makedb failed\n");
        return 1;
    }
    std::ofstream(workspace / "Morvel.INI") << "[Main]\r\nCNT=0\r\n";
    std::filesystem::current_path(workspace);

    velkor::TForm1 window;
    window.show();
    std::printf("resident at start: %.0f MB\n", residentMegabytes());
    const auto start = Clock::now();
    auto last = start;
    for (long i = 1; i <= lines; ++i) {
        window.console().state().eventLog.append("GET_STEP;STEP=" + std::to_string(i % 7) +
                                                 ";piece " + std::to_string(i));
        if (i % 100'000 == 0) {
            const auto now = Clock::now();
            std::printf("%8ld lines: %.0f lines/s over the last 100,000, resident %.0f MB\n", i,
                        1e5 / std::chrono::duration<double>(now - last).count(),
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
