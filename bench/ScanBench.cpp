// The barcode scan on a job database of 1,000,000 pieces with 8 holes each:
//  - the console's lookup (a fresh statement per scan, as every scan runs it) against a bare
//    lookup prepared once through the same client library, over random barcodes;
//  - the time from Enter in the barcode field to the first position command leaving the port,
//    beyond the dispatch's 150 ms pause.
//
//   velkor_scan_bench [--workspace DIR] [--server] [lookups] [scans]   (defaults 1000 and 10)
//
// --server looks up through a Firebird server of the benchmark's own on the loopback address.
//
// The workspace (default: scan-workspace beside the program) is made once with
// velkor-makedb --pieces 1000000 --holes 8 and kept.

#include <poll.h>
#include <sys/wait.h>

#include <QLineEdit>
#include <QtTest/QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <thread>

#include "ComMainForm.h"
#include "ConsoleApplication.h"
#include "ErrorBox.h"
#include "FirebirdServer.h"
#include "FirebirdSession.h"
#include "PseudoTerminal.h"
#include "ScanWorkspace.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Summary {
    double median;
    double p99;
};

Summary summarize(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values[values.size() * 99 / 100]};
}

template <typename Lookup>
std::vector<double> timeLookups(const std::vector<std::string>& barcodes, Lookup&& lookup) {
    std::vector<double> micros;
    for (const auto& barcode : barcodes) {
        const auto start = Clock::now();
        if (lookup(barcode) != 8) {
            std::fprintf(stderr, "barcode %s: wrong number of positions\n", barcode.c_str());
            std::exit(1);
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return micros;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::filesystem::path workspace =
        std::filesystem::absolute(std::filesystem::path(argv[0]).parent_path() / "scan-workspace");
    std::vector<std::string> numbers;
    bool throughServer = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--workspace" && i + 1 < argc) {
            workspace = std::filesystem::absolute(argv[++i]);
        } else if (std::string(argv[i]) == "--server") {
            throughServer = true;
        } else {
            numbers.push_back(argv[i]);
        }
    }
    const int lookups = numbers.size() > 0 ? std::stoi(numbers[0]) : 1000;
    const int scans = numbers.size() > 1 ? std::stoi(numbers[1]) : 10;

    velkor::prepareFirebirdEnvironment();
    velkor::ConsoleApplication application(argc, argv);
    if (!velkor::bench::prepareScanWorkspace(workspace)) {
        std::fprintf(stderr, "velkor-makedb failed\n");
        return 1;
    }
    std::optional<velkor::test::FirebirdServer> server;
    if (throughServer) {
        server.emplace();
    }
    const std::string database =
        server ? server->databaseString(workspace / "KV.GDB") : (workspace / "KV.GDB").string();
    const auto barcodes = velkor::bench::randomScanBarcodes(static_cast<std::size_t>(lookups));

    velkor::JobDatabase console;
    console.connect(database);
    velkor::FirebirdSession bare;
    bare.attach(database);
    bare.startTransaction();
    auto prepared = bare.prepare(
        "select p.posx from PERFORATION p, optdetail o where p.optdetailid = o.optdetailid + 0 and "
        "o.optdetailid_in = ? group by 1 order by 1");
    // Both look up every barcode, taking turns at going first: the first one to read a piece
    // pays for its pages, the second finds them cached.
    std::vector<double> consoleMicros;
    std::vector<double> bareMicros;
    for (std::size_t i = 0; i < barcodes.size(); ++i) {
        auto consoleTime = [&] {
            consoleMicros.push_back(timeLookups({barcodes[i]}, [&](const std::string& b) {
                return console.readPiecePositions(b).size();
            })[0]);
        };
        auto bareTime = [&] {
            bareMicros.push_back(timeLookups(
                {barcodes[i]}, [&](const std::string& b) { return prepared.run({b}).size(); })[0]);
        };
        if (i % 2 == 0) {
            consoleTime();
            bareTime();
        } else {
            bareTime();
            consoleTime();
        }
    }
    const Summary consoleLookup = summarize(consoleMicros);
    const Summary bareLookup = summarize(bareMicros);
    std::printf("lookups: %d random barcodes\n", lookups);
    std::printf("console lookup:          median %.0f us, 99th percentile %.0f us\n",
                consoleLookup.median, consoleLookup.p99);
    std::printf("bare prepared lookup:    median %.0f us, 99th percentile %.0f us\n",
                bareLookup.median, bareLookup.p99);
    std::printf("ratio:                   median %.2f\n", consoleLookup.median / bareLookup.median);

    // Enter to the first position command: the console on a pseudo-terminal, the controller's
    // side timed by a thread of its own.
    velkor::test::PseudoTerminal controller;
    console.updateVariable("PORT", controller.path());
    std::filesystem::current_path(workspace);
    std::vector<double> enterToCommand;
    {
        velkor::Console running(velkor::ConsoleOptions{database});
        velkor::TForm1 window(running);
        window.show();
        controller.read(7);  // CLR_CNT
        auto* edit = window.findChild<QLineEdit*>(QStringLiteral("Edit_BarCode"));
        for (int i = 0; i < scans; ++i) {
            std::atomic<bool> arrived{false};
            Clock::time_point firstByte;
            std::thread reader([&] {
                controller.read(1, 5000);
                firstByte = Clock::now();
                arrived = true;
            });
            QTest::keyClicks(edit, QString::fromStdString(barcodes[static_cast<std::size_t>(i)]));
            const auto enter = Clock::now();
            QTest::keyClick(edit, Qt::Key_Return);  // returns after the whole dispatch
            reader.join();
            controller.read(1000, 300);  // the rest of the dispatch
            enterToCommand.push_back(
                std::chrono::duration<double, std::milli>(firstByte - enter).count() - 150.0);
        }
        window.close();
    }
    const Summary enter = summarize(enterToCommand);
    std::printf(
        "Enter to first command beyond the 150 ms pause, %d scans: median %.2f ms, worst %.2f ms\n",
        scans, enter.median, *std::max_element(enterToCommand.begin(), enterToCommand.end()));
    console.updateVariable("PORT", "ttyUSB0");
    return 0;
}
