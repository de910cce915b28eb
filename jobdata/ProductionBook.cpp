#include "ProductionBook.h"

#include <array>
#include <map>

#include "JobDatabase.h"
#include "ProductionReport.h"

namespace velkor {
namespace {

constexpr std::array<std::pair<DispatchOutcome, const char*>, 5> kOutcomeCodes{{
    {DispatchOutcome::Sent, "SENT"},
    {DispatchOutcome::Stopped, "STOPPED"},
    {DispatchOutcome::Failed, "FAILED"},
    {DispatchOutcome::Dropped, "DROPPED"},
    {DispatchOutcome::Cut, "CUT"},
}};

Parameter numberOrNull(const std::optional<std::int64_t>& number) {
    return number ? Parameter(std::to_string(*number)) : std::nullopt;
}

class FirebirdProductionBook final : public ProductionBook {
  public:
    void open(const std::string& databaseString) override {
        database_.connect(databaseString);
        database_.ensureTable("PRODUCTION");
    }

    // The batch is the piece's at the time of the dispatch: a piece's rows never change (a
    // corrected re-export brings a new piece), so it is looked up as the row goes in.
    void enter(const DispatchRecord& record, std::chrono::milliseconds age) override {
        const std::optional<PieceBatch> batch =
            record.piece ? batchOfPiece(database_, *record.piece) : std::nullopt;
        const bool stopped = record.outcome == DispatchOutcome::Stopped;
        database_.write(
            "update or insert into PRODUCTION (RECORDKEY, DISPATCHED, WORKSTATION, ACCOUNT, SCAN, "
            "BARCODE, OPTDETAILID, GRORDERSID, BATCH, PROFILEMODE, COMMANDS, OUTCOME, STOPPEDAT, "
            "MESSAGE, COUNTER) values (?, dateadd(cast(? as bigint) millisecond to "
            "current_timestamp), ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) matching (RECORDKEY)",
            {record.key, std::to_string(-age.count()), record.workstation, record.account,
             record.scan, numberOrNull(record.barcode), numberOrNull(record.piece),
             numberOrNull(batch ? std::optional(batch->id) : std::nullopt),
             batch ? Parameter(batch->name) : std::nullopt, std::to_string(record.profileMode),
             record.commandText(), std::string(outcomeCode(record.outcome)),
             stopped ? Parameter(std::to_string(record.stoppedAt)) : std::nullopt,
             record.message.empty() ? std::nullopt : Parameter(record.message),
             numberOrNull(record.counter)});
    }

    std::optional<EarlierDispatch> latestSentOf(std::int64_t barcode) override {
        const auto rows = database_.read(
            "select first 1 lpad(extract(day from p.dispatched), 2, '0') || '.' || "
            "lpad(extract(month from p.dispatched), 2, '0') || ' ' || "
            "lpad(extract(hour from p.dispatched), 2, '0') || ':' || "
            "lpad(extract(minute from p.dispatched), 2, '0'), p.workstation "
            "from PRODUCTION p where p.barcode = ? and p.outcome = 'SENT' "
            "order by p.dispatched desc",
            {std::to_string(barcode)});
        if (rows.empty()) {
            return std::nullopt;
        }
        return EarlierDispatch{rows[0][0].asText(), rows[0][1].asText()};
    }

    std::optional<BatchProgress> progressOfPiece(std::int64_t piece) override {
        const std::optional<PieceBatch> batch = batchOfPiece(database_, piece);
        if (!batch) {
            return std::nullopt;
        }
        // A batch's pieces never change once its load has committed: counted once.
        auto total = totals_.find(batch->id);
        if (total == totals_.end()) {
            total = totals_.emplace(batch->id, piecesOfBatch(database_, batch->id)).first;
        }
        return BatchProgress{batch->name, piecesSentOfBatch(database_, batch->id), total->second};
    }

  private:
    JobDatabase database_{JobDatabase::kConsoleAnswerLimit};
    std::map<std::int64_t, std::int64_t> totals_;
};

}  // namespace

const char* outcomeCode(DispatchOutcome outcome) {
    for (const auto& [known, code] : kOutcomeCodes) {
        if (known == outcome) {
            return code;
        }
    }
    return "";
}

std::optional<DispatchOutcome> outcomeOfCode(std::string_view code) {
    for (const auto& [outcome, known] : kOutcomeCodes) {
        if (code == known) {
            return outcome;
        }
    }
    return std::nullopt;
}

std::string DispatchRecord::commandText() const {
    std::string text;
    for (const std::string& command : commands) {
        text += (text.empty() ? "" : " ") + command;
    }
    return text;
}

std::unique_ptr<ProductionBook> makeFirebirdProductionBook() {
    return std::make_unique<FirebirdProductionBook>();
}

}  // namespace velkor
