// When and in which pieces the controller's packets go out on the line.
//
// A reply may wait (--delay), be preceded by junk bytes (--junk) or be written in two or three
// pieces a few milliseconds apart (--split), as a slow or noisy controller does. The pieces are
// queued with the time each is due instead of being written with pauses in between, so that the
// simulator keeps reading — and timing — the console's next commands while a reply is under way.
// Replies go out in the order they were scheduled, never overlapping.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "MonoTime.h"

namespace velkor::simulator {

struct ReplyStyle {
    std::chrono::milliseconds delay{0};  // from the command to its reply
    bool junk = false;                   // junk bytes before each packet
    bool split = false;                  // each packet in two or three writes
    std::chrono::milliseconds splitPause{4};
};

// One write() on the line.
struct Chunk {
    std::string bytes;
    MonoTime due{};
    // For the log, set on the chunk that completes something: the whole packet on its last
    // piece, or the junk bytes themselves; empty on a packet's other pieces.
    std::string logText;
    bool isJunk = false;
};

class ReplyScheduler {
  public:
    explicit ReplyScheduler(ReplyStyle style);

    // Queues the packets that answer a command completed at `now`.
    void schedule(const std::vector<std::string>& packets, MonoTime now);

    // When the next chunk is due; nullopt when nothing is queued.
    std::optional<MonoTime> nextDue() const;

    // Removes and returns the chunks due at `now`, in order.
    std::vector<Chunk> takeDue(MonoTime now);

    bool empty() const { return queue_.empty(); }

  private:
    std::string junkBytes();

    ReplyStyle style_;
    std::deque<Chunk> queue_;
    MonoTime lastDue_{};
    std::uint64_t packets_ = 0;
    std::uint32_t junkState_ = 0x2545f491;
};

// The pieces a split packet is written in: three for every other packet of six or more bytes,
// two otherwise (a packet of one byte stays whole). `packetNumber` counts the packets sent.
std::vector<std::string> splitPacket(const std::string& packet, std::uint64_t packetNumber);

}  // namespace velkor::simulator
