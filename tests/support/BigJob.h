#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "JobDatabase.h"
#include "Workspace.h"

namespace velkor::test {

// A job file of this many pieces (barcodes 300000001, ...), each with one hole at a position of
// its own among its neighbours', long enough to load for several seconds.
inline std::string bigJob(int pieces) {
    std::string text = "PBIG\r\n";
    for (int piece = 0; piece < pieces; ++piece) {
        text += "C001" + std::to_string(300000001 + piece) + "09999" + "0450" + "0900" + "  3" +
                " 12" + "LEFT" + std::string(28, ' ') + "\r\nWSCREW/" +
                std::to_string(10 * (piece % 900 + 1)) + "\r\n";
    }
    return text;
}

// A site's workspace whose job database reads barcodes of nine characters and whose Job folder
// holds bigJob(pieces) as big.kv, not yet loaded.
inline void putBigJobIn(Workspace& workspace, int pieces) {
    workspace.createDatabase({{"L_BarCode", "9"}});
    std::filesystem::create_directory(workspace.file("Job"));
    workspace.writeFile("Job/big.kv", bigJob(pieces));
}

// How many of bigJob's pieces a scan would not find with their hole, through the console's own
// lookup.
inline int bigJobPiecesNotFound(const std::string& database, int pieces) {
    JobDatabase jobs;
    jobs.connect(database);
    int wrong = 0;
    for (int piece = 0; piece < pieces; ++piece) {
        if (jobs.readPiecePositions(std::to_string(300000001 + piece)) !=
            std::vector<std::optional<double>>{piece % 900 + 1}) {
            ++wrong;
        }
    }
    return wrong;
}

}  // namespace velkor::test
