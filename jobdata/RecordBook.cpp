#include "RecordBook.h"

#include <array>
#include <map>

#include "JobDatabase.h"
#include "ProductionReport.h"

namespace velkor {
namespace {

template <typename Value, std::size_t N>
using CodeTable = std::array<std::pair<Value, const char*>, N>;

constexpr CodeTable<DispatchOutcome, 5> kOutcomeCodes{{
    {DispatchOutcome::Sent, "SENT"},
    {DispatchOutcome::Stopped, "STOPPED"},
    {DispatchOutcome::Failed, "FAILED"},
    {DispatchOutcome::Dropped, "DROPPED"},
    {DispatchOutcome::Cut, "CUT"},
}};
constexpr CodeTable<ChangeKind, 7> kKindCodes{{
    {ChangeKind::Setting, "SETTING"},
    {ChangeKind::Push, "PUSH"},
    {ChangeKind::SaveFlash, "SAVEFLASH"},
    {ChangeKind::Mode, "MODE"},
    {ChangeKind::Opened, "OPENED"},
    {ChangeKind::Password, "PASSWORD"},
    {ChangeKind::JobFile, "JOBFILE"},
}};
constexpr CodeTable<ChangeOutcome, 9> kChangeOutcomeCodes{{
    {ChangeOutcome::Stored, "STORED"},
    {ChangeOutcome::Unstored, "UNSTORED"},
    {ChangeOutcome::Refused, "REFUSED"},
    {ChangeOutcome::Done, "DONE"},
    {ChangeOutcome::Ended, "ESC"},
    {ChangeOutcome::Closed, "CLOSED"},
    {ChangeOutcome::Failed, "FAILED"},
    {ChangeOutcome::Sent, "SENT"},
    {ChangeOutcome::Loaded, "LOADED"},
}};

template <typename Value, std::size_t N>
const char* codeOf(const CodeTable<Value, N>& table, Value value) {
    for (const auto& [known, code] : table) {
        if (known == value) {
            return code;
        }
    }
    return "";
}

template <typename Value, std::size_t N>
std::optional<Value> valueOf(const CodeTable<Value, N>& table, std::string_view code) {
    for (const auto& [value, known] : table) {
        if (code == known) {
            return value;
        }
    }
    return std::nullopt;
}

Parameter numberOrNull(const std::optional<std::int64_t>& number) {
    return number ? Parameter(std::to_string(*number)) : std::nullopt;
}

// A text cut to what its column holds: a long scan or message must not keep its row out of the
// record, nor every row after it.
Parameter fitted(const std::optional<std::string>& text, std::size_t columnLength) {
    return text ? Parameter(text->substr(0, columnLength)) : std::nullopt;
}
Parameter fittedOrNull(const std::string& text, std::size_t columnLength) {
    return text.empty() ? std::nullopt : fitted(text, columnLength);
}

class FirebirdRecordBook final : public RecordBook {
  public:
    void open(const std::string& databaseString) override {
        database_.connect(databaseString);
        database_.ensureTable("PRODUCTION");
        database_.ensureTable("SETTINGSHISTORY");
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
            {record.key, std::to_string(-age.count()), fitted(record.workstation, 64),
             fitted(record.account, 32), fitted(record.scan, 40), numberOrNull(record.barcode),
             numberOrNull(record.piece),
             numberOrNull(batch ? std::optional(batch->id) : std::nullopt),
             batch ? Parameter(batch->name) : std::nullopt, std::to_string(record.profileMode),
             fitted(record.commandText(), 160), std::string(outcomeCode(record.outcome)),
             stopped ? Parameter(std::to_string(record.stoppedAt)) : std::nullopt,
             fittedOrNull(record.message, 255), numberOrNull(record.counter)});
    }

    // The history refuses updates (its trigger): a row already there is passed over instead.
    void enterChange(const SettingsChange& change, std::chrono::milliseconds age) override {
        database_.write(
            "merge into SETTINGSHISTORY h using (select cast(? as char(32)) k from "
            "rdb$database) n on h.RECORDKEY = n.k when not matched then insert (RECORDKEY, "
            "CHANGED, WORKSTATION, ACCOUNT, KIND, SUBJECT, BEFORE, AFTER, SENT, OUTCOME, "
            "MESSAGE, CONTENTHASH, PIECES, SUPERSEDED) values (n.k, dateadd(cast(? as bigint) "
            "millisecond to current_timestamp), ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            {change.key, std::to_string(-age.count()), fitted(change.workstation, 64),
             fitted(change.account, 32), std::string(kindCode(change.kind)),
             fittedOrNull(change.subject, 255), fitted(change.before, 255),
             fitted(change.after, 255), fittedOrNull(commandsText(change.sent), 400),
             std::string(outcomeCode(change.outcome)), fittedOrNull(change.message, 255),
             change.contentHash, numberOrNull(change.pieces), numberOrNull(change.superseded)});
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
    return codeOf(kOutcomeCodes, outcome);
}
std::optional<DispatchOutcome> outcomeOfCode(std::string_view code) {
    return valueOf(kOutcomeCodes, code);
}
const char* kindCode(ChangeKind kind) {
    return codeOf(kKindCodes, kind);
}
std::optional<ChangeKind> kindOfCode(std::string_view code) {
    return valueOf(kKindCodes, code);
}
const char* outcomeCode(ChangeOutcome outcome) {
    return codeOf(kChangeOutcomeCodes, outcome);
}
std::optional<ChangeOutcome> changeOutcomeOfCode(std::string_view code) {
    return valueOf(kChangeOutcomeCodes, code);
}

std::string commandsText(const std::vector<std::string>& commands) {
    std::string text;
    for (const std::string& command : commands) {
        text += (text.empty() ? "" : " ") + command;
    }
    return text;
}

std::string DispatchRecord::commandText() const {
    return commandsText(commands);
}

std::unique_ptr<RecordBook> makeFirebirdRecordBook() {
    return std::make_unique<FirebirdRecordBook>();
}

}  // namespace velkor
