// Start-up of the console as a site has it, from creating the main window (connect, load the
// machine variables, open the port, read the counter, clear the controller's counter) to the
// window shown, in a workspace whose job database holds 1,000,000 pieces with three holes each;
// and the barcode lookup in that database. The controller is the simulator on a pseudo-terminal.
// A message box ends the run with an error instead of waiting for a click.
//
//   velkor_startup_bench [--workspace DIR] [benchmark options]
//
// The workspace (default: bench-workspace beside the program) is made once with velkor-makedb
// and kept, since filling a million pieces takes most of a minute.

#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <QtTest/QTest>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "ComMainForm.h"
#include "ConsoleApplication.h"
#include "ErrorBox.h"
#include "FirebirdSession.h"
#include "MessageBoxWatcher.h"
#include "SimulatorProcess.h"

namespace {

constexpr int kPieces = 1'000'000;

std::filesystem::path workspace;

void prepareWorkspace() {
    std::filesystem::create_directories(workspace / "log");
    const auto database = workspace / "KV.GDB";
    const auto marker = workspace / "pieces.txt";
    std::ifstream recorded(marker);
    int pieces = 0;
    if (std::filesystem::exists(database) && (recorded >> pieces) && pieces == kPieces) {
        return;
    }
    std::cerr << "bench: creating " << database << " with " << kPieces << " pieces\n";
    const std::string command = std::string(VELKOR_MAKEDB) + " --force --variables '" +
                                VELKOR_DEMO_VARIABLES + "' --pieces " + std::to_string(kPieces) +
                                " '" + database.string() + "'";
    const int status = std::system(command.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::cerr << "bench: velkor-makedb failed\n";
        std::exit(1);
    }
    std::ofstream(workspace / "Morvel.INI") << "[Main]\r\nCNT=1000\r\n";
    std::ofstream(marker) << kPieces;
}

void StartupToWindowShown(benchmark::State& state) {
    std::filesystem::current_path(workspace);
    velkor::test::Simulator controller((workspace / "simulator.log").string());
    {
        velkor::JobDatabase db;
        db.connect((workspace / "KV.GDB").string());
        db.updateVariable("PORT", controller.path());
    }
    velkor::test::MessageBoxWatcher boxes;
    for (auto _ : state) {
        auto console = std::make_unique<velkor::Console>();
        auto window = std::make_unique<velkor::TForm1>(*console);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) {
            state.SkipWithError("window not shown");
            break;
        }
        if (!boxes.seen().empty()) {
            state.SkipWithError(
                ("start-up showed a box: " + boxes.seen().front().text.toStdString()).c_str());
            break;
        }
        state.PauseTiming();
        window.reset();
        console.reset();  // detaches from the database
        state.ResumeTiming();
    }
}
BENCHMARK(StartupToWindowShown)->Unit(benchmark::kMillisecond)->Iterations(20);

void BarcodeLookup(benchmark::State& state) {
    velkor::JobDatabase db;
    db.connect((workspace / "KV.GDB").string());
    std::int64_t barcode = 100000001;
    for (auto _ : state) {
        auto positions = db.readPiecePositions(std::to_string(barcode));
        benchmark::DoNotOptimize(positions);
        barcode = 100000001 + (barcode * 7919) % kPieces;
    }
}
BENCHMARK(BarcodeLookup)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    workspace =
        std::filesystem::absolute(std::filesystem::path(argv[0]).parent_path() / "bench-workspace");
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--workspace") {
            workspace = std::filesystem::absolute(argv[i + 1]);
            for (int k = i; k + 2 < argc + 1; ++k) {
                argv[k] = argv[k + 2];
            }
            argc -= 2;
            break;
        }
    }
    velkor::prepareFirebirdEnvironment();
    velkor::ConsoleApplication application(argc, argv);
    prepareWorkspace();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
