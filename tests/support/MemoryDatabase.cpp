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
std::vector<std::optional<double>> MemoryDatabase::readPiecePositions(std::string_view barcode) {
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
    return positions;
}

void MemoryDatabase::updateVariable(std::string_view upperKey, std::string_view value) {
    requireConnection();
    if (!contents_->writeFails.empty()) {
        throw VelkorError(contents_->writeFails);
    }
    for (VariableRow& row : contents_->variables) {
        if (upper(row.key) == upperKey) {
            row.value = std::string(value);
        }
    }
}

std::size_t MemoryDatabase::variableValueLimit() const {
    return variablesRead_ ? contents_->valueLimit : std::numeric_limits<std::size_t>::max();
}

}  // namespace velkor::test
