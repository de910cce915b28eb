#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "RecordBook.h"

namespace velkor {

// A dispatch of positions or a change to the settings, as the record keeps them.
using RecordEntry = std::variant<DispatchRecord, SettingsChange>;
const std::string& keyOf(const RecordEntry& entry);

// The records on the workstation's disk until the job database has them: a file in the
// start-up directory that a dispatch's beginning, each command it sent and its end are appended
// to as they happen (one write each, so that a killed console loses none of them), a settings
// change whole, and a record once the database has it. Read at the next start, it gives back
// every record the database did not get, a dispatch that never ended as cut. Emptied whenever
// nothing in it waits. Texts are 8-bit Windows-1251; one line an entry, its fields separated by
// tabs.
class RecordSpool {
  public:
    static constexpr const char* kFileName = "production.spool";

    // Opens the file in `folder` (never through a link), making it if needed, and reads it.
    // Throws what went wrong; the records then live in memory only.
    explicit RecordSpool(const std::string& folder);
    ~RecordSpool();
    RecordSpool(const RecordSpool&) = delete;
    RecordSpool& operator=(const RecordSpool&) = delete;

    const std::string& path() const { return path_; }
    // What the file held that the database had not got, in the order the dispatches began.
    std::vector<RecordEntry> takeUnwritten();

    // Each throws when the entry could not be written (a full disk).
    void begun(const DispatchRecord& record);
    void sent(const std::string& key, const std::string& command);
    void ended(const DispatchRecord& record);
    void noted(const SettingsChange& change);
    void written(const std::string& key);

  private:
    void append(const std::vector<std::string>& fields);
    void read();
    DispatchRecord* dispatchOf(const std::string& key);

    std::string path_;
    int file_ = -1;
    std::size_t waiting_ = 0;                       // records begun and not yet in the database
    std::map<std::string, RecordEntry> unwritten_;  // read from the file, by key
    std::vector<std::string> order_;
};

}  // namespace velkor
