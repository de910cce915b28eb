#include "CommandSplitter.h"

#include <stdexcept>
#include <utility>

namespace velkor::simulator {

CommandSplitter::CommandSplitter(MonoTime gap, std::size_t maxLength)
    : gap_(gap), maxLength_(maxLength) {
    if (gap <= MonoTime::zero()) {
        throw std::invalid_argument("the idle gap must be longer than zero");
    }
    if (maxLength == 0) {
        throw std::invalid_argument("the longest command must have at least one byte");
    }
}

std::vector<Command> CommandSplitter::feed(std::string_view bytes, MonoTime when) {
    std::vector<Command> complete;
    if (bytes.empty()) {
        return complete;
    }
    if (pending_ && when - pending_->lastByte >= gap_) {
        complete.push_back(takePending());
    }
    while (!bytes.empty()) {
        if (!pending_) {
            pending_ = Command{{}, when, when};
        }
        const std::size_t room = maxLength_ - pending_->text.size();
        const std::size_t taken = bytes.size() < room ? bytes.size() : room;
        pending_->text.append(bytes.substr(0, taken));
        pending_->lastByte = when;
        bytes.remove_prefix(taken);
        if (pending_->text.size() == maxLength_) {
            complete.push_back(takePending());
        }
    }
    return complete;
}

std::optional<Command> CommandSplitter::expire(MonoTime now) {
    if (pending_ && now - pending_->lastByte >= gap_) {
        return takePending();
    }
    return std::nullopt;
}

std::optional<MonoTime> CommandSplitter::deadline() const {
    if (!pending_) {
        return std::nullopt;
    }
    return pending_->lastByte + gap_;
}

Command CommandSplitter::takePending() {
    Command command = std::move(*pending_);
    pending_.reset();
    return command;
}

}  // namespace velkor::simulator
