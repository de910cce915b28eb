#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "FirebirdSession.h"
#include "JobDatabase.h"
#include "Text.h"

namespace velkor {

// One line of a report (the production record, the settings history) as windows and CSV files
// show it: every column as Windows-1251 text, an empty one for SQL null.
template <std::size_t N>
struct ReportLine {
    static constexpr std::size_t kColumns = N;
    std::array<std::string, N> columns;
};

// A row the engine returned, its first N columns trimmed.
template <std::size_t N>
ReportLine<N> reportLineOf(const Row& row) {
    ReportLine<N> line;
    for (std::size_t column = 0; column < N; ++column) {
        line.columns[column] = trimmed(row[column].asText());
    }
    return line;
}

// CSV in UTF-8 (with its byte order mark when `forSpreadsheet`, so that an office spreadsheet
// reads the Cyrillic letters as such): a heading line (UTF-8), ";" between fields, CR LF line
// ends, a field quoted when it holds ";", a quote or a line end.
void writeCsvHeadings(std::ostream& out, std::span<const char* const> headings,
                      bool forSpreadsheet);
void writeCsvLine(std::ostream& out, std::span<const std::string> fields);

template <std::size_t N>
void writeCsv(std::ostream& out, const std::array<const char*, N>& headings,
              const std::vector<ReportLine<N>>& lines, bool forSpreadsheet) {
    writeCsvHeadings(out, headings, forSpreadsheet);
    for (const ReportLine<N>& line : lines) {
        writeCsvLine(out, line.columns);
    }
}

// Writes a CSV file at `path` (UTF-8) with `write`; throws when it could not be written whole.
void writeCsvFile(const std::string& path, const std::function<void(std::ostream&)>& write);

// A report window's own connection to the job database: made at its first use with the tables
// it reads, and made again at the next use after a connect that failed.
class ReportConnection {
  public:
    ReportConnection(std::string databaseString, std::vector<std::string> tables)
        : databaseString_(std::move(databaseString)), tables_(std::move(tables)) {}
    JobDatabase& database();

  private:
    std::string databaseString_;
    std::vector<std::string> tables_;
    std::unique_ptr<JobDatabase> database_;
};

}  // namespace velkor
