#include "FirebirdMessages.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Numbers.h"
#include "VelkorError.h"

namespace velkor::firebird {

using namespace Firebird;

void InputMessage::fill(IStatement* statement, const std::vector<Parameter>& parameters) {
    Status status;
    if (!laidOut_ || capacities_.size() != parameters.size() || !fitsIn(parameters)) {
        layOut(statement, parameters);
    }
    if (parameters.empty()) {
        return;
    }
    unsigned char* base = buffer_.data();
    for (unsigned i = 0; i < parameters.size(); ++i) {
        const auto& value = parameters[i];
        *reinterpret_cast<short*>(base + metadata_->getNullOffset(&status, i)) = value ? 0 : -1;
        if (value) {
            unsigned char* field = base + metadata_->getOffset(&status, i);
            const auto length = static_cast<std::uint16_t>(value->size());
            std::memcpy(field, &length, sizeof length);
            std::copy_n(value->data(), value->size(), field + sizeof length);
        }
    }
}

bool InputMessage::fitsIn(const std::vector<Parameter>& parameters) const {
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (parameters[i] && parameters[i]->size() > capacities_[i]) {
            return false;
        }
    }
    return true;
}

void InputMessage::layOut(IStatement* statement, const std::vector<Parameter>& parameters) {
    Status status;
    Held<IMessageMetadata> described(statement->getInputMetadata(&status));
    const unsigned count = described->getCount(&status);
    if (count != parameters.size()) {
        throw VelkorError("Statement expects " + std::to_string(count) + " parameters, got " +
                          std::to_string(parameters.size()));
    }
    // Fields only grow, and the message changes only once the new layout is complete.
    std::vector<unsigned> capacities(count, kShortestField);
    for (unsigned i = 0; i < count && capacities_.size() == count; ++i) {
        capacities[i] = capacities_[i];
    }
    Held<IMessageMetadata> metadata;
    if (count > 0) {
        Held<IMetadataBuilder> builder(described->getBuilder(&status));
        for (unsigned i = 0; i < count; ++i) {
            const auto& value = parameters[i];
            if (value && value->size() > kLongestVarchar) {
                throw VelkorError("Value of " + std::to_string(value->size()) +
                                  " bytes is longer than any text column");
            }
            capacities[i] =
                std::max(capacities[i], value ? static_cast<unsigned>(value->size()) : 0u);
            builder->setType(&status, i, SQL_VARYING + 1);
            builder->setLength(&status, i, capacities[i]);
        }
        metadata = Held<IMessageMetadata>(builder->getMetadata(&status));
    }
    buffer_.assign(count > 0 ? metadata->getMessageLength(&status) : 0, 0);
    metadata_ = std::move(metadata);
    capacities_ = std::move(capacities);
    laidOut_ = true;
}

Held<IMessageMetadata> buildOutput(IStatement* statement) {
    Status status;
    Held<IMessageMetadata> described(statement->getOutputMetadata(&status));
    Held<IMetadataBuilder> builder(described->getBuilder(&status));
    const unsigned count = described->getCount(&status);
    for (unsigned i = 0; i < count; ++i) {
        const unsigned type = described->getType(&status, i) & ~1u;
        if (type == SQL_SHORT || type == SQL_LONG || type == SQL_INT64) {
            builder->setType(&status, i, SQL_INT64 + 1);
            builder->setLength(&status, i, sizeof(std::int64_t));
        } else if (type == SQL_FLOAT || type == SQL_DOUBLE || type == SQL_D_FLOAT) {
            builder->setType(&status, i, SQL_DOUBLE + 1);
            builder->setLength(&status, i, sizeof(double));
        } else {
            builder->setType(&status, i, SQL_VARYING + 1);
            builder->setLength(&status, i, std::max(described->getLength(&status, i), 64u));
        }
    }
    return Held<IMessageMetadata>(builder->getMetadata(&status));
}

Row decodeRow(IMessageMetadata* metadata, const unsigned char* buffer) {
    Status status;
    const unsigned count = metadata->getCount(&status);
    Row row;
    row.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        const auto* nullFlag =
            reinterpret_cast<const short*>(buffer + metadata->getNullOffset(&status, i));
        const unsigned char* field = buffer + metadata->getOffset(&status, i);
        if (*nullFlag != 0) {
            row.emplace_back();
            continue;
        }
        switch (metadata->getType(&status, i) & ~1u) {
            case SQL_INT64: {
                std::int64_t value;
                std::memcpy(&value, field, sizeof value);
                const int scale = metadata->getScale(&status, i);
                if (scale == 0) {
                    row.emplace_back(Field::Value(value));
                } else {
                    row.emplace_back(
                        Field::Value(static_cast<double>(value) * std::pow(10.0, scale)));
                }
                break;
            }
            case SQL_DOUBLE: {
                double value;
                std::memcpy(&value, field, sizeof value);
                row.emplace_back(Field::Value(value));
                break;
            }
            default: {
                std::uint16_t length;
                std::memcpy(&length, field, sizeof length);
                row.emplace_back(Field::Value(
                    std::string(reinterpret_cast<const char*>(field + sizeof length), length)));
            }
        }
    }
    return row;
}

}  // namespace velkor::firebird

namespace velkor {

std::string Field::asText() const {
    if (const auto* text = std::get_if<std::string>(&value_)) {
        return *text;
    }
    if (const auto* whole = std::get_if<std::int64_t>(&value_)) {
        return std::to_string(*whole);
    }
    if (const auto* real = std::get_if<double>(&value_)) {
        return realText(*real);
    }
    return {};
}

std::int64_t Field::asInteger() const {
    if (const auto* whole = std::get_if<std::int64_t>(&value_)) {
        return *whole;
    }
    if (const auto* real = std::get_if<double>(&value_)) {
        return static_cast<std::int64_t>(*real);
    }
    if (const auto* text = std::get_if<std::string>(&value_)) {
        return std::strtoll(text->c_str(), nullptr, 10);
    }
    return 0;
}

double Field::asReal() const {
    if (const auto* real = std::get_if<double>(&value_)) {
        return *real;
    }
    if (const auto* whole = std::get_if<std::int64_t>(&value_)) {
        return static_cast<double>(*whole);
    }
    if (const auto* text = std::get_if<std::string>(&value_)) {
        return std::strtod(text->c_str(), nullptr);
    }
    return 0;
}

}  // namespace velkor
