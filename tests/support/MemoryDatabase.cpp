#include "MemoryDatabase.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "VelkorError.h"

namespace velkor::test {
namespace {

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

}  // namespace

std::optional<std::string> MemoryDatabase::Contents::value(const std::string& key) const {
    for (const VariableRow& row : variables) {
        if (row.key == key) {
            return row.value;
        }
    }
    return std::nullopt;
}

void MemoryDatabase::Contents::set(const std::string& key, const std::string& newValue) {
    for (VariableRow& row : variables) {
        if (row.key == key) {
            row.value = newValue;
            return;
        }
    }
    variables.push_back({key, newValue});
}

void MemoryDatabase::connect(std::string databaseString) {
    if (!contents_->connectFails.empty()) {
        throw VelkorError(contents_->connectFails);
    }
    contents_->connectedTo = std::move(databaseString);
    connected_ = true;
}

void MemoryDatabase::requireConnection() const {
    if (!connected_) {
        throw VelkorError("Cannot perform operation -- DB is not open");
    }
}

std::vector<VariableRow> MemoryDatabase::readVariables() {
    requireConnection();
    variablesRead_ = true;
    return contents_->variables;
}

// Distinct and ascending, as the engine sorts them: a hole without a position first.
FoundPiece MemoryDatabase::readPiece(std::string_view barcode) {
    requireConnection();
    if (contents_->lookingUp) {
        contents_->lookingUp();
    }
    const auto piece = contents_->pieces.find(std::string(barcode));
    if (piece == contents_->pieces.end()) {
        return {};
    }
    std::vector<std::optional<double>> positions = piece->second;
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    return {std::stoll(piece->first), positions};
}

std::optional<std::string> MemoryDatabase::updateVariable(std::string_view upperKey,
                                                          std::string_view value) {
    requireConnection();
    if (!contents_->writeFails.empty()) {
        throw VelkorError(contents_->writeFails);
    }
    std::optional<std::string> before;
    for (VariableRow& row : contents_->variables) {
        if (upper(row.key) == upperKey) {
            before = before.value_or(row.value);
            row.value = std::string(value);
        }
    }
    return before;
}

std::size_t MemoryDatabase::variableValueLimit() const {
    return variablesRead_ ? contents_->valueLimit : std::numeric_limits<std::size_t>::max();
}

std::vector<DispatchRecord> MemoryDatabase::Production::records() const {
    const std::lock_guard lock(mutex);
    return entered;
}

std::vector<SettingsChange> MemoryDatabase::Production::changes() const {
    const std::lock_guard lock(mutex);
    return history;
}

namespace {

class MemoryRecordBook final : public RecordBook {
  public:
    explicit MemoryRecordBook(std::shared_ptr<MemoryDatabase::Production> production)
        : production_(std::move(production)) {}

    void open(const std::string& /*databaseString*/) override { failIfTold(); }

    void enter(const DispatchRecord& record, std::chrono::milliseconds /*age*/) override {
        failIfTold();
        const std::lock_guard lock(production_->mutex);
        if (std::none_of(production_->entered.begin(), production_->entered.end(),
                         [&](const DispatchRecord& in) { return in.key == record.key; })) {
            production_->entered.push_back(record);
        }
    }

    void enterChange(const SettingsChange& change, std::chrono::milliseconds /*age*/) override {
        failIfTold();
        const std::lock_guard lock(production_->mutex);
        production_->history.push_back(change);
    }

    std::optional<EarlierDispatch> latestSentOf(std::int64_t barcode) override {
        failIfTold();
        const std::lock_guard lock(production_->mutex);
        for (auto in = production_->entered.rbegin(); in != production_->entered.rend(); ++in) {
            if (in->barcode == barcode && in->outcome == DispatchOutcome::Sent) {
                return EarlierDispatch{"sent", in->workstation};
            }
        }
        return std::nullopt;
    }

    std::optional<BatchProgress> progressOfPiece(std::int64_t piece) override {
        failIfTold();
        const std::lock_guard lock(production_->mutex);
        for (const auto& [batch, pieces] : production_->batches) {
            if (std::find(pieces.begin(), pieces.end(), piece) == pieces.end()) {
                continue;
            }
            std::vector<std::int64_t> done;
            for (const DispatchRecord& in : production_->entered) {
                if (in.piece && in.outcome == DispatchOutcome::Sent &&
                    std::find(pieces.begin(), pieces.end(), *in.piece) != pieces.end() &&
                    std::find(done.begin(), done.end(), *in.piece) == done.end()) {
                    done.push_back(*in.piece);
                }
            }
            return BatchProgress{batch, static_cast<std::int64_t>(done.size()),
                                 static_cast<std::int64_t>(pieces.size())};
        }
        return std::nullopt;
    }

  private:
    void failIfTold() const {
        const std::lock_guard lock(production_->mutex);
        if (!production_->fails.empty()) {
            throw VelkorError(production_->fails);
        }
    }

    std::shared_ptr<MemoryDatabase::Production> production_;
};

}  // namespace

std::function<std::unique_ptr<RecordBook>()> MemoryDatabase::recordBooks(
    const std::shared_ptr<Contents>& contents) {
    return [production = contents->production] {
        return std::unique_ptr<RecordBook>(std::make_unique<MemoryRecordBook>(production));
    };
}

}  // namespace velkor::test
