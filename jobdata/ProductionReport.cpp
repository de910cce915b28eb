#include "ProductionReport.h"

#include "Text.h"

namespace velkor {
namespace {

// The filter as a where clause with its parameters. A batch is found by its name among the
// batches (few rows), so that the records are then found by their batch's index.
std::string whereOf(JobDatabase& database, const ProductionFilter& filter,
                    std::vector<Parameter>& parameters) {
    std::string where = " where 1 = 1";
    if (filter.from) {
        where += " and p.dispatched >= ?";
        parameters.emplace_back(*filter.from);
    }
    if (filter.to) {
        where += " and p.dispatched < ?";
        parameters.emplace_back(*filter.to);
    }
    if (filter.batch) {
        std::string ids;
        for (const Row& row : database.read("select g.grordersid from grorders g where g.name = ?",
                                            {filter.batch})) {
            ids += (ids.empty() ? "" : ", ") + std::to_string(row[0].asInteger());
        }
        where += " and p.grordersid in (" + (ids.empty() ? std::string("null") : ids) + ")";
    }
    if (filter.workstation) {
        where += " and p.workstation = ?";
        parameters.emplace_back(*filter.workstation);
    }
    if (filter.barcode) {
        where += " and p.barcode = ?";
        parameters.emplace_back(std::to_string(*filter.barcode));
    }
    return where;
}

}  // namespace

const std::array<const char*, ProductionLine::kColumns>& productionHeadings() {
    static const std::array<const char*, ProductionLine::kColumns> headings{
        "Время",   "Рабочее место", "Учётная запись", "Скан",      "Деталь",  "Партия",     "Режим",
        "Команды", "Итог",          "Поле",           "Сообщение", "Счётчик", "Ключ записи"};
    return headings;
}

std::vector<ProductionLine> readProductionLines(JobDatabase& database,
                                                const ProductionFilter& filter, std::size_t most) {
    std::vector<Parameter> parameters;
    const std::string where = whereOf(database, filter, parameters);
    // The newest `most` are found by the time's index from the end, then put oldest first.
    const std::string first = most == SIZE_MAX ? "" : " first " + std::to_string(most);
    std::vector<Row> rows = database.read(
        "select" + first +
            " substring(cast(p.dispatched as varchar(24)) from 1 for 19), p.workstation, "
            "p.account, p.scan, p.optdetailid, p.batch, p.profilemode, p.commands, p.outcome, "
            "p.stoppedat, p.message, p.counter, p.recordkey from PRODUCTION p" +
            where + " order by p.dispatched desc, p.recordkey desc",
        parameters);
    std::vector<ProductionLine> lines;
    lines.reserve(rows.size());
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        lines.push_back(reportLineOf<ProductionLine::kColumns>(*row));
    }
    return lines;
}

std::vector<std::pair<std::string, std::int64_t>> piecesPerHour(JobDatabase& database,
                                                                const std::string& from,
                                                                const std::string& to) {
    std::vector<std::pair<std::string, std::int64_t>> hours;
    for (const Row& row : database.read(
             "select substring(cast(p.dispatched as varchar(24)) from 1 for 13), count(*) "
             "from PRODUCTION p where p.dispatched >= ? and p.dispatched < ? and "
             "p.outcome = 'SENT' group by 1 order by 1",
             {from, to})) {
        hours.emplace_back(row[0].asText(), row[1].asInteger());
    }
    return hours;
}

std::optional<PieceBatch> batchOfPiece(JobDatabase& database, std::int64_t piece) {
    const auto rows = database.read(
        "select g.grordersid, g.name from optdetail o "
        "join optimized b on b.optimizedid = o.optimizedid "
        "join grorders g on g.grordersid = b.grordersid where o.optdetailid = ?",
        {std::to_string(piece)});
    if (rows.empty()) {
        return std::nullopt;
    }
    return PieceBatch{rows[0][0].asInteger(), rows[0][1].asText()};
}

std::int64_t piecesSentOfBatch(JobDatabase& database, std::int64_t batch) {
    return database
        .read(
            "select count(distinct p.optdetailid) from PRODUCTION p "
            "where p.grordersid = ? and p.outcome = 'SENT'",
            {std::to_string(batch)})[0][0]
        .asInteger();
}

std::int64_t piecesOfBatch(JobDatabase& database, std::int64_t batch) {
    return database
        .read(
            "select count(*) from optimized b join optdetail o on "
            "o.optimizedid = b.optimizedid where b.grordersid = ?",
            {std::to_string(batch)})[0][0]
        .asInteger();
}

std::vector<BatchLine> readBatchLines(JobDatabase& database, const ProductionFilter& filter) {
    std::vector<Parameter> parameters;
    const std::string where = whereOf(database, filter, parameters);
    std::vector<BatchLine> batches;
    for (const Row& batch :
         database.read("select p.grordersid, max(p.batch) from PRODUCTION p" + where +
                           " and p.grordersid is not null group by 1 order by 2",
                       parameters)) {
        const std::int64_t id = batch[0].asInteger();
        batches.push_back(
            {batch[1].asText(), piecesSentOfBatch(database, id), piecesOfBatch(database, id)});
    }
    return batches;
}

}  // namespace velkor
