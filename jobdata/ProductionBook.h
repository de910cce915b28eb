#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkor {

// How a dispatch of positions ended.
enum class DispatchOutcome {
    Sent,     // every position went out
    Stopped,  // it ended at a field: one that is no number, a failed line, the console closing
    Failed,   // nothing went out: a scan that is no barcode, no such piece, no database
    Dropped,  // it waited in the queue and never began: a failed line, the console closing
    Cut,      // the console ended during it (killed, a power cut): found so at the next start
};
// The outcome as the record's OUTCOME column and the report hold it ("SENT", ...), and back.
const char* outcomeCode(DispatchOutcome outcome);
std::optional<DispatchOutcome> outcomeOfCode(std::string_view code);

// One dispatch of positions to the controller, as the production record keeps it: a scan, or
// "Import size" (no scan, no piece). Texts are 8-bit Windows-1251.
struct DispatchRecord {
    std::string key;  // the workstation's own key of the dispatch, unique everywhere
    std::chrono::system_clock::time_point begun;
    std::string workstation;
    std::string account;
    std::optional<std::string> scan;      // as scanned; nothing for "Import size"
    std::optional<std::int64_t> barcode;  // the scan's number, when it is one
    std::optional<std::int64_t> piece;    // OPTDETAILID of the piece the scan found
    int profileMode = 0;                  // 0 white, 1 laminated
    std::vector<std::string> commands;    // the position commands sent, in order
    DispatchOutcome outcome = DispatchOutcome::Sent;
    int stoppedAt = 0;                    // the field (1 to 8) a stopped dispatch ended at
    std::string message;                  // the error shown, or why it never began
    std::optional<std::int64_t> counter;  // the production counter after it

    // The commands as the record's column holds them: separated by blanks.
    std::string commandText() const;
};

// The latest dispatch of a barcode that sent every position, as the record has it.
struct EarlierDispatch {
    std::string when;  // the database server's time, "09.12 14:32"
    std::string workstation;
};

// A batch of pieces: its name, how many of its pieces the record has as sent (by any
// workstation), and how many it has.
struct BatchProgress {
    std::string batch;
    std::int64_t done = 0;
    std::int64_t total = 0;
};

// Where production records are kept: the PRODUCTION table of the job database. Used from one
// thread; every call may throw what the database said.
class ProductionBook {
  public:
    ProductionBook() = default;
    virtual ~ProductionBook() = default;
    ProductionBook(const ProductionBook&) = delete;
    ProductionBook& operator=(const ProductionBook&) = delete;

    // Connects, making the table in a database that has none; once is enough, a lost
    // connection comes back at the next call.
    virtual void open(const std::string& databaseString) = 0;
    // Adds the record, begun `age` ago, in one statement; a record whose key is there already
    // is left as it is, so that adding one again after a crash is harmless.
    virtual void enter(const DispatchRecord& record, std::chrono::milliseconds age) = 0;
    virtual std::optional<EarlierDispatch> latestSentOf(std::int64_t barcode) = 0;
    // The batch of a piece; nothing for a piece that has none.
    virtual std::optional<BatchProgress> progressOfPiece(std::int64_t piece) = 0;
};

// The production record on the Firebird job database, on a connection of its own.
std::unique_ptr<ProductionBook> makeFirebirdProductionBook();

}  // namespace velkor
