#pragma once

// The scan benchmarks' workspace: a job database of 1,000,000 pieces with 8 holes each, made
// once with velkor-makedb (a few minutes) and kept, with a Morvel.INI; a "ready" file marks it
// made. Needs VELKOR_MAKEDB and VELKOR_DEMO_VARIABLES defined by the build.

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace velkor::bench {

inline constexpr int kScanWorkspacePieces = 1'000'000;

// Returns false when velkor-makedb failed.
inline bool prepareScanWorkspace(const std::filesystem::path& workspace) {
    std::filesystem::create_directories(workspace);
    if (std::filesystem::exists(workspace / "ready")) {
        return true;
    }
    const auto database = workspace / "KV.GDB";
    std::filesystem::remove(database);
    std::printf("creating %s with %d pieces of 8 holes (a few minutes)\n", database.c_str(),
                kScanWorkspacePieces);
    const std::string command =
        std::string(VELKOR_MAKEDB) + " --variables '" + VELKOR_DEMO_VARIABLES + "' --pieces " +
        std::to_string(kScanWorkspacePieces) + " --holes 8 '" + database.string() + "'";
    const int status = std::system(command.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return false;
    }
    std::ofstream(workspace / "Morvel.INI") << "[Main]\r\nCNT=0\r\n";
    std::ofstream(workspace / "ready") << kScanWorkspacePieces;
    return true;
}

// `count` barcodes of the workspace's pieces, the same ones at every run.
inline std::vector<std::string> randomScanBarcodes(std::size_t count) {
    std::mt19937 random(1251);
    std::uniform_int_distribution<int> piece(0, kScanWorkspacePieces - 1);
    std::vector<std::string> barcodes;
    for (std::size_t i = 0; i < count; ++i) {
        barcodes.push_back(std::to_string(100000001 + piece(random)));
    }
    return barcodes;
}

}  // namespace velkor::bench
