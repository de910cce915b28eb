#include "ReplyScheduler.h"

#include <algorithm>

namespace velkor::simulator {

namespace {

// Bytes a noisy line or a chatty controller leaves between packets: line ends, NUL, stray
// punctuation, Windows-1251 letters. Never "<", which would open a packet.
constexpr char kJunkAlphabet[] = "\r\n\0~#?>. ok\x7f\xff\xc0\xe0";
constexpr std::size_t kJunkAlphabetSize = sizeof(kJunkAlphabet) - 1;

}  // namespace

std::vector<std::string> splitPacket(const std::string& packet, std::uint64_t packetNumber) {
    const std::size_t size = packet.size();
    if (size < 2) {
        return {packet};
    }
    if (size >= 6 && packetNumber % 2 == 1) {
        const std::size_t first = size / 3;
        const std::size_t second = 2 * size / 3;
        return {packet.substr(0, first), packet.substr(first, second - first),
                packet.substr(second)};
    }
    return {packet.substr(0, size / 2), packet.substr(size / 2)};
}

ReplyScheduler::ReplyScheduler(ReplyStyle style) : style_(style) {}

std::string ReplyScheduler::junkBytes() {
    // xorshift32: fixed seed, so that a run can be repeated byte for byte.
    const auto next = [this] {
        junkState_ ^= junkState_ << 13;
        junkState_ ^= junkState_ >> 17;
        junkState_ ^= junkState_ << 5;
        return junkState_;
    };
    const std::size_t length = 1 + next() % 6;
    std::string junk;
    for (std::size_t i = 0; i < length; ++i) {
        junk += kJunkAlphabet[next() % kJunkAlphabetSize];
    }
    return junk;
}

void ReplyScheduler::schedule(const std::vector<std::string>& packets, MonoTime now) {
    if (packets.empty()) {
        return;
    }
    MonoTime due = now + style_.delay;
    if (!queue_.empty()) {
        // Never before the end of the reply still under way.
        due = std::max(due, lastDue_ + (style_.split ? MonoTime(style_.splitPause) : MonoTime{}));
    }
    for (const std::string& packet : packets) {
        if (style_.junk) {
            std::string junk = junkBytes();
            queue_.push_back(Chunk{junk, due, junk, true});
        }
        const std::vector<std::string> pieces =
            style_.split ? splitPacket(packet, packets_) : std::vector<std::string>{packet};
        ++packets_;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (i > 0) {
                due += style_.splitPause;
            }
            queue_.push_back(Chunk{pieces[i], due, i + 1 == pieces.size() ? packet : "", false});
        }
        lastDue_ = due;
        if (style_.split) {
            due += style_.splitPause;
        }
    }
}

std::optional<MonoTime> ReplyScheduler::nextDue() const {
    if (queue_.empty()) {
        return std::nullopt;
    }
    return queue_.front().due;
}

std::vector<Chunk> ReplyScheduler::takeDue(MonoTime now) {
    std::vector<Chunk> due;
    while (!queue_.empty() && queue_.front().due <= now) {
        due.push_back(std::move(queue_.front()));
        queue_.pop_front();
    }
    return due;
}

}  // namespace velkor::simulator
