#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "JobDatabase.h"
#include "ReportLines.h"

namespace velkor {

// Which rows of the settings history a window or a report shows. Times are the database
// server's, as the engine reads them ("2026-12-09 14:00"); texts are Windows-1251.
struct HistoryFilter {
    std::optional<std::string> from = std::nullopt;  // made at or after
    std::optional<std::string> to = std::nullopt;    // made before
    std::optional<std::string> subject =
        std::nullopt;  // a setting's VARIABLES key, or a job file's name
    std::optional<std::string> workstation = std::nullopt;
};

// One row of the history as reports show it, and the columns' headings (UTF-8).
using HistoryLine = ReportLine<14>;
const std::array<const char*, HistoryLine::kColumns>& historyHeadings();

// The rows the filter takes, newest first; at most `most`.
std::vector<HistoryLine> readHistoryLines(JobDatabase& database, const HistoryFilter& filter,
                                          std::size_t most = SIZE_MAX);

// The value each of `upperKeys` had in VARIABLES at `moment`, as the history knows it: what
// the last change stored before then, else what the first change after it found, else what is
// stored now. In the order of `upperKeys`; a key VARIABLES lacks is left out.
std::vector<std::pair<std::string, std::string>> settingsAt(
    JobDatabase& database, const std::string& moment, const std::vector<std::string>& upperKeys);

}  // namespace velkor
