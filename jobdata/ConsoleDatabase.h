#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkor {

// A row of VARIABLES as stored: the key and the value text, untouched.
struct VariableRow {
    std::string key;
    std::string value;
};

// What a barcode's lookup found: the piece (nothing when there is none) and its distinct hole
// positions, ascending; a hole stored without a position gives an empty one (first).
struct FoundPiece {
    std::optional<std::int64_t> id;
    std::vector<std::optional<double>> positions;
};

// The statements the running console runs on its job database: start-up's connection and
// read of the machine variables, a scan's lookup, and the settings window's update. The job
// database is the one that runs them on the Firebird engine; a test may put one of its own in
// its place.
class ConsoleDatabase {
  public:
    ConsoleDatabase() = default;
    virtual ~ConsoleDatabase() = default;
    ConsoleDatabase(const ConsoleDatabase&) = delete;
    ConsoleDatabase& operator=(const ConsoleDatabase&) = delete;

    // Connects to the database (a local file path for the embedded engine, or "host:/path" for
    // a server).
    virtual void connect(std::string databaseString) = 0;
    // Every machine variable row, in the order the database returns them.
    virtual std::vector<VariableRow> readVariables() = 0;
    // The piece with this barcode. When several imports brought the barcode (a corrected
    // re-export), the piece imported last is the one.
    virtual FoundPiece readPiece(std::string_view barcode) = 0;
    std::vector<std::optional<double>> readPiecePositions(std::string_view barcode) {
        return readPiece(barcode).positions;
    }
    // Sets VAR_STR of the rows whose upper-cased key equals `upperKey`; no row, no change.
    // Durable when it returns. Returns the value it replaced (empty for SQL null; nothing when
    // there is no row, so that nothing was stored).
    virtual std::optional<std::string> updateVariable(std::string_view upperKey,
                                                      std::string_view value) = 0;
    // The longest value text VARIABLES holds, as readVariables found it; unlimited before.
    virtual std::size_t variableValueLimit() const = 0;
};

}  // namespace velkor
