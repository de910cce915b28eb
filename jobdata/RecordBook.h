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
// Commands as the record's columns hold them: separated by blanks.
std::string commandsText(const std::vector<std::string>& commands);

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

// What a change to the machine's settings was. A setting applied is stored (and sent, when the
// controller gets it), sent but not stored, or refused before anything was kept; a push or a
// profile toggle is done, ended by the operator (Esc) or by the console closing, or failed.
enum class ChangeKind { Setting, Push, SaveFlash, Mode, Opened, Password, JobFile };
enum class ChangeOutcome { Stored, Unstored, Refused, Done, Ended, Closed, Failed, Sent, Loaded };
// As the history's KIND and OUTCOME columns hold them ("SETTING", "STORED", ...), and back.
const char* kindCode(ChangeKind kind);
std::optional<ChangeKind> kindOfCode(std::string_view code);
const char* outcomeCode(ChangeOutcome outcome);
std::optional<ChangeOutcome> changeOutcomeOfCode(std::string_view code);

// One row of the settings history. Texts are 8-bit Windows-1251.
struct SettingsChange {
    std::string key;  // the workstation's own key of the row, unique everywhere
    std::chrono::system_clock::time_point made;
    std::string workstation;
    std::string account;
    ChangeKind kind = ChangeKind::Setting;
    ChangeOutcome outcome = ChangeOutcome::Done;
    std::string subject;  // the setting's VARIABLES key, or the job file's name
    std::optional<std::string> before;
    std::optional<std::string> after;
    std::vector<std::string> sent;  // the commands the controller got (acknowledged), in order
    std::string message;
    std::optional<std::string> contentHash;  // of a job file
    std::optional<std::int64_t> pieces;      // a job file's pieces
    std::optional<std::int64_t> superseded;  // the pieces of earlier loads it superseded
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

// Where the record of the machine's work is kept: the PRODUCTION and SETTINGSHISTORY tables of
// the job database. Used from one thread; every call may throw what the database said.
class RecordBook {
  public:
    RecordBook() = default;
    virtual ~RecordBook() = default;
    RecordBook(const RecordBook&) = delete;
    RecordBook& operator=(const RecordBook&) = delete;

    // Connects, making the tables in a database that has none; once is enough, a lost
    // connection comes back at the next call.
    virtual void open(const std::string& databaseString) = 0;
    // Adds the record, begun `age` ago, in one statement; a record whose key is there already
    // is left as it is, so that adding one again after a crash is harmless.
    virtual void enter(const DispatchRecord& record, std::chrono::milliseconds age) = 0;
    // Adds the history row, made `age` ago; one whose key is there already is left as it is.
    virtual void enterChange(const SettingsChange& change, std::chrono::milliseconds age) = 0;
    virtual std::optional<EarlierDispatch> latestSentOf(std::int64_t barcode) = 0;
    // The batch of a piece; nothing for a piece that has none.
    virtual std::optional<BatchProgress> progressOfPiece(std::int64_t piece) = 0;
};

// The record on the Firebird job database, on a connection of its own.
std::unique_ptr<RecordBook> makeFirebirdRecordBook();

}  // namespace velkor
