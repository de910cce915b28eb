// A plant's load on one shared job database, through a Firebird server of the benchmark's own
// on the loopback address: workstations scanning at once, one lookup a second each, while one
// more workstation imports a large job file. Reports the lookups' times and errors, the
// import's time, and checks afterwards that every imported hole links to its own piece.
//
//   velkor_plant_bench [--workspace DIR] [workstations] [pieces to import]   (defaults 20 100000)
//
// The workspace (default: plant-workspace beside the program) gets a fresh KV.GDB with 100,000
// pieces to scan at every run.

#include <sys/wait.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "FirebirdServer.h"
#include "FirebirdSession.h"
#include "JobImport.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kScannable = 100'000;                // barcodes 100000001 on, from velkor-makedb
constexpr long long kFirstImported = 500'000'001;  // the imported file's barcodes

void run(const std::string& command) {
    const int status = std::system(command.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// One batch; piece i has the barcode kFirstImported + i and one hole at i + 1 millimetres.
void writeJobFile(const fs::path& path, int pieces) {
    std::ofstream out(path, std::ios::binary);
    out << "PPLANT\r\n";
    for (int i = 0; i < pieces; ++i) {
        char number[4];
        std::snprintf(number, sizeof number, "%03d", i % 1000);
        out << "C" << number << kFirstImported + i << "012000450004500  1  1\r\n"
            << "WSCREW/" << 10 * (i + 1) << "\r\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    fs::path workspace = fs::absolute(fs::path(argv[0]).parent_path() / "plant-workspace");
    std::vector<int> numbers;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--workspace" && i + 1 < argc) {
            workspace = fs::absolute(argv[++i]);
        } else {
            numbers.push_back(std::stoi(argv[i]));
        }
    }
    const int workstations = numbers.size() > 0 ? numbers[0] : 20;
    const int pieces = numbers.size() > 1 ? numbers[1] : 100'000;

    velkor::prepareFirebirdEnvironment();
    QCoreApplication application(argc, argv);
    fs::remove_all(workspace);
    fs::create_directories(workspace / "Job");
    const fs::path file = workspace / "KV.GDB";
    run(std::string(VELKOR_MAKEDB) + " --pieces " + std::to_string(kScannable) + " '" +
        file.string() + "' > /dev/null");
    const fs::path job = workspace / "Job" / "plant.kv";
    writeJobFile(job, pieces);

    velkor::test::FirebirdServer server;
    const std::string database = server.databaseString(file.string());

    std::atomic<bool> importing{true};
    std::mutex resultsLock;
    std::vector<double> lookupMillis;
    std::vector<std::string> errors;
    std::vector<std::thread> scanners;
    for (int w = 0; w < workstations; ++w) {
        scanners.emplace_back([&, w] {
            std::mt19937 random(static_cast<unsigned>(w));
            std::uniform_int_distribution<int> piece(0, kScannable - 1);
            velkor::JobDatabase console;
            try {
                console.connect(database);
            } catch (const std::exception& error) {
                std::lock_guard lock(resultsLock);
                errors.push_back(error.what());
                return;
            }
            // Spread over the second, as scans of different workstations are.
            auto next = Clock::now() + std::chrono::milliseconds(1000 * w / workstations);
            while (importing) {
                std::this_thread::sleep_until(next);
                next += std::chrono::seconds(1);
                const std::string barcode = std::to_string(100000001 + piece(random));
                const auto start = Clock::now();
                try {
                    const auto positions = console.readPiecePositions(barcode);
                    const double ms =
                        std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                    std::lock_guard lock(resultsLock);
                    lookupMillis.push_back(ms);
                    if (positions.size() != 3) {
                        errors.push_back("barcode " + barcode + ": wrong positions");
                    }
                } catch (const std::exception& error) {
                    std::lock_guard lock(resultsLock);
                    errors.push_back(error.what());
                }
            }
        });
    }

    std::this_thread::sleep_for(std::chrono::seconds(2));  // every workstation scanning
    const auto importStart = Clock::now();
    try {
        velkor::JobDatabase importer;
        importer.connect(database);
        velkor::importJobFile(importer, job.string(), 9, std::time(nullptr));
    } catch (const std::exception& error) {
        errors.push_back(std::string("import: ") + error.what());
    }
    const double importSeconds = std::chrono::duration<double>(Clock::now() - importStart).count();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    importing = false;
    for (auto& scanner : scanners) {
        scanner.join();
    }

    velkor::FirebirdSession check;
    check.attach(database);
    check.startTransaction(true);
    const auto linked = check.query(
        "select count(*) from perforation p join optdetail o on o.optdetailid = p.optdetailid "
        "join optimized b on b.optimizedid = o.optimizedid join grorders g on g.grordersid = "
        "b.grordersid where g.name = 'PLANT' and p.posx = o.optdetailid_in - ?",
        {std::to_string(kFirstImported - 1)});
    check.commit();

    std::sort(lookupMillis.begin(), lookupMillis.end());
    auto at = [&](double share) {
        return lookupMillis.empty()
                   ? 0.0
                   : lookupMillis[std::min(lookupMillis.size() - 1,
                                           static_cast<std::size_t>(share * lookupMillis.size()))];
    };
    std::printf("%d workstations scanning once a second while one imports %d pieces\n",
                workstations, pieces);
    std::printf("import: %.1f s\n", importSeconds);
    std::printf("lookups: %zu, median %.2f ms, 99th percentile %.2f ms, worst %.2f ms\n",
                lookupMillis.size(), at(0.5), at(0.99),
                lookupMillis.empty() ? 0.0 : lookupMillis.back());
    std::printf("errors: %zu\n", errors.size());
    for (std::size_t i = 0; i < errors.size() && i < 5; ++i) {
        std::printf("  %s\n", errors[i].c_str());
    }
    const long long rightLinks = linked.at(0).at(0).asInteger();
    std::printf("holes linked to their own piece: %lld of %d\n", rightLinks, pieces);
    return errors.empty() && rightLinks == pieces ? 0 : 1;
}
