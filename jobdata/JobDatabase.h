#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ConsoleDatabase.h"
#include "FirebirdSession.h"

namespace velkor {

// The values of one OPTDETAIL row, as texts the engine converts to the column types.
struct PieceRow {
    std::string length;
    std::string firstAngle;
    std::string secondAngle;
    std::string number;
    std::string trolley;
    std::string cell;
    std::string barcode;
    std::optional<std::string> comment;  // nothing is SQL null
};

// The tables of a job whose rows are parents of others.
enum class JobTable { Batches, Bars, Pieces };

// The console's job database: one connection for the life of the program, one transaction
// shared by every statement, and the only statements the console ever runs.
//
// A read starts the transaction when none is active and leaves it active; a write starts it
// when needed, executes and commits at once, so every write is durable when it returns.
// Transactions are read committed: a read sees at once what other workstations on a shared
// server have committed. A read's transaction is read-only, so that it holds back nothing on
// the server while it stays open; a write ends it first and writes in one of its own.
// A read, and the update of a machine variable, that find the connection gone connect again
// and run once more before anything is reported; after a failed connect the next one tries
// again. An import's rows, one transaction, are not run again: a lost connection ends the
// import, and a writer fails with "Cannot perform operation -- DB is not open" until a read
// or an update has connected.
class JobDatabase final : public ConsoleDatabase {
  public:
    // How long the console's own statements (a lookup, a machine variable) and a load's (a
    // block of rows, the commit) may wait for the database's answer.
    static constexpr std::chrono::seconds kConsoleAnswerLimit{5};
    static constexpr std::chrono::seconds kLoadAnswerLimit{30};

    // Every statement gets at most `answerLimit` for its answer (zero: no limit); one that
    // gets none costs the connection, as when it is lost.
    explicit JobDatabase(std::chrono::milliseconds answerLimit = {}) {
        session_.setAnswerLimit(answerLimit);
    }

    const std::string& databaseString() const { return databaseString_; }
    bool connected() const { return session_.attached(); }
    bool inTransaction() const { return session_.inTransaction(); }

    // Connects to the database (a local file path for the embedded engine, or "host:/path" for
    // a server) and makes the transaction active, so that the start-up read runs in it.
    void connect(std::string databaseString) override;

    // Every machine variable row, in the order the engine returns them.
    std::vector<VariableRow> readVariables() override;
    FoundPiece readPiece(std::string_view barcode) override;
    // Sets VAR_STR of the rows whose upper-cased key equals `upperKey`; no row, no change.
    std::optional<std::string> updateVariable(std::string_view upperKey,
                                              std::string_view value) override;
    // The longest value text VARIABLES holds (characters of VAR_STR), as readVariables found
    // it; unlimited before.
    std::size_t variableValueLimit() const override { return variableValueLimit_; }

    // Makes a table of the schema (JOBFILES, PRODUCTION, SETTINGSHISTORY) with its indexes and
    // triggers in an older database that lacks them.
    void ensureTable(std::string_view table);

    // A read in the read transaction, and a write committed at once (see above): each connects
    // again and runs once more when it finds the connection gone.
    std::vector<Row> read(std::string_view sql, const std::vector<Parameter>& parameters,
                          std::size_t maxRows = SIZE_MAX);
    void write(std::string_view sql, const std::vector<Parameter>& parameters);

    // For writers of a job file's rows (JobRowWriter). Their statements all run in one write
    // transaction and each runs once: one that finds the connection gone lets it go and reports
    // it, and nothing is run again, as the rows before it went with the transaction.

    // How an insert returns a parent's key, and how to find the newest parent there is.
    struct KeyColumn {
        std::string returned;
        std::string latest;
    };
    // The key column of the table, found once per connection.
    const KeyColumn& keyColumn(JobTable table);
    // Ends a read's transaction and starts the write one; fails with "Cannot perform operation
    // -- DB is not open" when there is no connection.
    void beginWriting();
    // A select, prepared once per connection, run in the write transaction; up to maxRows rows.
    std::vector<Row> selectOnce(std::string_view sql, const std::vector<Parameter>& parameters,
                                std::size_t maxRows = SIZE_MAX);
    // Any other statement, likewise; the row of its RETURNING clause, if it has one.
    std::optional<Row> executeOnce(std::string_view sql, const std::vector<Parameter>& parameters);
    void commitWriting();
    // Undoes the write transaction outside the guard: a writer being destroyed has no one to
    // report a lost connection to, and the next statement finds it gone.
    void rollBackWriting();

  private:
    FirebirdSession::PreparedQuery& prepared(std::string_view sql);
    void startWriteTransaction();
    void readVariableValueLimit();
    template <typename Action>
    auto guarded(Action&& action) -> decltype(action());
    template <typename Action>
    auto retried(Action&& action) -> decltype(action());
    VelkorError lostConnection(const std::exception& error) const;
    void abandonConnection();

    std::string databaseString_;
    FirebirdSession session_;
    std::map<JobTable, KeyColumn> keyColumns_;       // found once per connection
    std::set<std::string, std::less<>> tablesSeen_;  // made or found, once per connection
    std::size_t variableValueLimit_ = SIZE_MAX;
    // Statements are prepared once per connection: a scan then costs one execution, not a
    // prepare and an execution.
    std::map<std::string, FirebirdSession::PreparedQuery, std::less<>> prepared_;
};

}  // namespace velkor
