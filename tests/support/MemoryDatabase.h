#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <mutex>

#include "ConsoleDatabase.h"
#include "RecordBook.h"

namespace velkor::test {

// The console's job database held in memory, for tests whose point is not the engine: the
// machine variables, pieces with their holes, and trouble on demand. Its contents outlive the
// console that used them, so that the next start-up reads what the last run wrote.
class MemoryDatabase final : public ConsoleDatabase {
  public:
    // The record of the machine's work, shared with the thread that writes it.
    struct Production {
        std::vector<DispatchRecord> records() const;
        std::size_t count() const { return records().size(); }
        std::vector<SettingsChange> changes() const;

        mutable std::mutex mutex;  // everything below
        std::vector<DispatchRecord> entered;
        std::vector<SettingsChange> history;
        // The barcodes of each batch's pieces (a memory piece's number is its barcode's).
        std::map<std::string, std::vector<std::int64_t>> batches;
        std::string fails;  // what entering a record fails with; empty: nothing fails
    };

    struct Contents {
        std::vector<VariableRow> variables;  // in the order a read returns them
        // The holes of each barcode's piece, as loaded (a hole without a position is empty).
        std::map<std::string, std::vector<std::optional<double>>> pieces;
        std::size_t valueLimit = 255;
        // What connecting or writing fails with; empty: nothing fails.
        std::string connectFails;
        std::string writeFails;
        std::string connectedTo;
        // Runs in every piece lookup (one that takes its time on the test clock).
        std::function<void()> lookingUp;
        std::shared_ptr<Production> production = std::make_shared<Production>();

        // The value of a key's row, as stored.
        std::optional<std::string> value(const std::string& key) const;
        void set(const std::string& key, const std::string& value);
    };

    explicit MemoryDatabase(std::shared_ptr<Contents> contents) : contents_(std::move(contents)) {}
    // Makes databases over `contents`, as the console's options take them.
    static auto factory(const std::shared_ptr<Contents>& contents) {
        return [contents] {
            return std::unique_ptr<ConsoleDatabase>(std::make_unique<MemoryDatabase>(contents));
        };
    }
    // Makes production books over `contents`, likewise.
    static std::function<std::unique_ptr<RecordBook>()> recordBooks(
        const std::shared_ptr<Contents>& contents);

    void connect(std::string databaseString) override;
    std::vector<VariableRow> readVariables() override;
    FoundPiece readPiece(std::string_view barcode) override;
    std::optional<std::string> updateVariable(std::string_view upperKey,
                                              std::string_view value) override;
    std::size_t variableValueLimit() const override;

  private:
    void requireConnection() const;

    std::shared_ptr<Contents> contents_;
    bool connected_ = false;
    bool variablesRead_ = false;
};

}  // namespace velkor::test
