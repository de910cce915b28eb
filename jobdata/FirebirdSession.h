#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "DatabaseErrors.h"
#include "VelkorError.h"

namespace velkor {

// One value of a fetched row: SQL null, text (Windows-1251 bytes), a whole number or a real.
class Field {
  public:
    using Value = std::variant<std::monostate, std::string, std::int64_t, double>;

    Field() = default;
    explicit Field(Value value) : value_(std::move(value)) {}

    bool isNull() const { return std::holds_alternative<std::monostate>(value_); }
    std::string asText() const;  // a null reads as empty text
    std::int64_t asInteger() const;
    double asReal() const;

  private:
    Value value_;
};

using Row = std::vector<Field>;

// A statement parameter: text handed to the engine, which converts it to the column's type;
// nothing stands for SQL null. Values never become part of the SQL text.
using Parameter = std::optional<std::string>;

// The connection parameters that the console always uses.
struct ConnectionParameters {
    static constexpr const char* kUser = "SYSDBA";
    static constexpr const char* kPassword = "plumeroak";
    static constexpr const char* kCharacterSet = "WIN1251";
    static constexpr unsigned kDialect = 3;
};

// A Firebird attachment through the client library's object interface, with at most one
// transaction at a time. A local path opens the file with the embedded engine; "host:/path"
// goes to a server. Every failure throws VelkorError with the engine's message.
class FirebirdSession {
  public:
    // A statement prepared once and run many times in the session's active transaction.
    class PreparedQuery {
      public:
        ~PreparedQuery();
        PreparedQuery(PreparedQuery&&) noexcept;
        PreparedQuery(const PreparedQuery&) = delete;
        PreparedQuery& operator=(const PreparedQuery&) = delete;
        PreparedQuery& operator=(PreparedQuery&&) = delete;
        // Runs a select and returns up to maxRows rows, from the first.
        std::vector<Row> run(const std::vector<Parameter>& parameters,
                             std::size_t maxRows = SIZE_MAX);
        // Runs any other statement; returns the row of its RETURNING clause, if it has one.
        std::optional<Row> execute(const std::vector<Parameter>& parameters);

      private:
        friend class FirebirdSession;
        struct State;
        explicit PreparedQuery(std::unique_ptr<State> state);
        std::unique_ptr<State> state_;
    };

    FirebirdSession();
    ~FirebirdSession();
    FirebirdSession(const FirebirdSession&) = delete;
    FirebirdSession& operator=(const FirebirdSession&) = delete;

    // Calls after this get at most `limit` for their answer (connecting included); one that
    // gets none throws DatabaseNotAnswering and leaves the connection cut. Zero: no limit.
    void setAnswerLimit(std::chrono::milliseconds limit);

    void attach(const std::string& databaseString);
    // Creates a new database file (dialect 3, default character set WIN1251) and attaches it.
    void create(const std::string& databaseString);
    void detach();
    bool attached() const;

    // Every transaction is read committed, so each statement sees what other connections
    // have committed; a read-only one can stay open for as long as the program runs.
    void startTransaction(bool readOnly = false);
    void commit();
    void rollback();
    bool inTransaction() const;
    bool readOnlyTransaction() const;

    // Lets go of a connection that is gone (DatabaseConnectionLost) without talking to it;
    // statements prepared on it must be destroyed first.
    void abandon();

    // Runs a statement that returns no rows in the active transaction.
    void execute(std::string_view sql, const std::vector<Parameter>& parameters = {});
    // Runs a select in the active transaction and returns up to maxRows rows, from the first.
    std::vector<Row> query(std::string_view sql, const std::vector<Parameter>& parameters = {},
                           std::size_t maxRows = SIZE_MAX);
    PreparedQuery prepare(std::string_view sql);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Points the embedded engine's lock files at a folder of this account's own, unless
// FIREBIRD_LOCK is set already: $XDG_RUNTIME_DIR/velkor-firebird where the session has a
// runtime folder, else /tmp/velkor-firebird-<uid>, made 0700. The console, its tools and its
// tests thereby share locks on one database file and never trip over a /tmp/firebird that
// another account made. A folder there that is not this account's alone (another account's, a
// link, one open to others) is refused and a fresh private one (the same name and a suffix)
// used instead. Call before the first connection.
void prepareFirebirdEnvironment();

// Stops the engine's threads once every connection of the process is closed, so that the
// process ends with the engine at rest rather than with its threads still running. Failures
// are logged: at this point there is nothing left to do about them.
void shutDownFirebirdEngine();

// The Firebird client library's version, such as "3.0".
std::string firebirdClientVersion();

// The process is ending: every statement of every session that waits for the database's
// answer, now or from now on, gets a second at most rather than its limit.
void stopWaitingForDatabase();

}  // namespace velkor
