#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "JobDatabase.h"
#include "ReportLines.h"

namespace velkor {

// Which production records a report or the production window shows. Times are the database
// server's, as the engine reads them ("2026-12-09 14:00"); texts are Windows-1251.
struct ProductionFilter {
    std::optional<std::string> from;  // dispatched at or after
    std::optional<std::string> to;    // dispatched before
    std::optional<std::string> batch;
    std::optional<std::string> workstation;
    std::optional<std::int64_t> barcode;
};

// One record as reports show it.
using ProductionLine = ReportLine<13>;
// The columns' headings, in the order of ProductionLine (UTF-8).
const std::array<const char*, ProductionLine::kColumns>& productionHeadings();

// The records the filter takes, oldest first; at most `most`, the newest of them.
std::vector<ProductionLine> readProductionLines(JobDatabase& database,
                                                const ProductionFilter& filter,
                                                std::size_t most = SIZE_MAX);

// The pieces sent whole in each hour from `from` to `to` (the hour's start, "2026-12-09 14",
// and how many), counted by the engine.
std::vector<std::pair<std::string, std::int64_t>> piecesPerHour(JobDatabase& database,
                                                                const std::string& from,
                                                                const std::string& to);

// The batches the filter's records belong to: each with its pieces sent (by any workstation,
// at any time) and its pieces in all.
struct BatchLine {
    std::string batch;
    std::int64_t done = 0;
    std::int64_t total = 0;
};
std::vector<BatchLine> readBatchLines(JobDatabase& database, const ProductionFilter& filter);

// A piece's batch: its key and name; nothing for a piece that has none.
struct PieceBatch {
    std::int64_t id = 0;
    std::string name;
};
std::optional<PieceBatch> batchOfPiece(JobDatabase& database, std::int64_t piece);
// The batch's pieces sent whole, each once, by any workstation; and its pieces in all.
std::int64_t piecesSentOfBatch(JobDatabase& database, std::int64_t batch);
std::int64_t piecesOfBatch(JobDatabase& database, std::int64_t batch);

}  // namespace velkor
