// The messages that carry a statement's values to the engine and its rows back: parameters as
// nullable text, columns as whole numbers, reals or text. Internal to the job database.
#pragma once

#include <cstddef>
#include <vector>

#include "FirebirdInterfaces.h"
#include "FirebirdSession.h"

namespace velkor::firebird {

// Input message: every parameter travels as nullable VARCHAR and the engine converts it to
// the type the statement expects, so quotes or any other byte in a value are plain data. A
// prepared statement keeps its message between executions and lays it out again only when a
// value outgrows its field.
class InputMessage {
  public:
    // Fills the message with the values; a statement without parameters needs none.
    void fill(Firebird::IStatement* statement, const std::vector<Parameter>& parameters);
    Firebird::IMessageMetadata* metadata() const { return metadata_.get(); }
    unsigned char* data() { return buffer_.empty() ? nullptr : buffer_.data(); }

  private:
    static constexpr unsigned kShortestField = 32;
    static constexpr std::size_t kLongestVarchar = 32765;

    bool fitsIn(const std::vector<Parameter>& parameters) const;

    void layOut(Firebird::IStatement* statement, const std::vector<Parameter>& parameters);

    bool laidOut_ = false;
    Held<Firebird::IMessageMetadata> metadata_;
    std::vector<unsigned> capacities_;  // per parameter, the longest value its field takes
    std::vector<unsigned char> buffer_;
};

// Output message: whole numbers as scaled 64-bit integers, reals as doubles, everything else as
// text, so that a column can be read as whatever its caller needs.
Held<Firebird::IMessageMetadata> buildOutput(Firebird::IStatement* statement);

// One fetched row of an output message that buildOutput laid out.
Row decodeRow(Firebird::IMessageMetadata* metadata, const unsigned char* buffer);

}  // namespace velkor::firebird
