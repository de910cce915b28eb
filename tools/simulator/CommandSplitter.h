// Cuts the bytes that arrive from the console into commands.
//
// The console writes a command as its bare bytes (SH_S4890): no terminator, no framing. The
// controller takes a command to be complete when the line has been quiet for an idle gap
// (20 ms by default), so two commands are told apart only by the pause between them. The splitter
// is given the bytes together with the time they were read; it never looks at a clock itself.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MonoTime.h"

namespace velkor::simulator {

struct Command {
    std::string text;
    MonoTime firstByte{};  // when its first byte was read
    MonoTime lastByte{};   // when its last byte was read
};

class CommandSplitter {
  public:
    // A run of bytes without a gap is cut into commands of at most `maxLength` bytes, so that a
    // line that never falls quiet (noise, a wrong baud rate) cannot grow the buffer for ever.
    static constexpr std::size_t kDefaultMaxLength = 256;

    explicit CommandSplitter(MonoTime gap, std::size_t maxLength = kDefaultMaxLength);

    // Takes bytes read at `when`. Returns the commands that are complete now: the one that was
    // pending, when the line had been quiet for the gap before these bytes, and any cut at the
    // maximum length. Time stamps must not go backwards.
    std::vector<Command> feed(std::string_view bytes, MonoTime when);

    // The pending command, when the line has been quiet for the gap at `now`.
    std::optional<Command> expire(MonoTime now);

    // When the pending command completes if no further byte arrives; nullopt when none pends.
    std::optional<MonoTime> deadline() const;

    MonoTime gap() const { return gap_; }

  private:
    Command takePending();

    MonoTime gap_;
    std::size_t maxLength_;
    std::optional<Command> pending_;
};

}  // namespace velkor::simulator
