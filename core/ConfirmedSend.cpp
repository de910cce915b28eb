#include "ConfirmedSend.h"

#include <algorithm>

namespace velkor {

ConfirmedSender::Sequence* ConfirmedSender::current(int id) {
    const auto found = std::find_if(sequences_.begin(), sequences_.end(),
                                    [id](const Sequence& s) { return s.id == id; });
    return found == sequences_.end() ? nullptr : &*found;
}

SequenceEnd ConfirmedSender::runSequence(const std::function<void()>& body,
                                         std::vector<std::string>* acknowledged) {
    const int id = nextId_++;
    sequences_.push_back({id, std::nullopt, acknowledged});
    struct Pop {
        ConfirmedSender& sender;
        int id;
        ~Pop() {
            std::erase_if(sender.sequences_, [this](const Sequence& s) { return s.id == id; });
        }
    } pop{*this, id};
    try {
        body();
    } catch (const Cancelled& cancelled) {
        if (cancelled.sequence != id) {
            throw;
        }
        log_.append("CANCEL " + cancelled.command);
        return cancelled.endedBy;
    }
    return SequenceEnd::Completed;
}

void ConfirmedSender::send(const std::string& command, int waitMilliseconds) {
    if (sequences_.empty()) {
        runSequence([&] { send(command, waitMilliseconds); });
        return;
    }
    const int id = sequences_.back().id;
    int sent = 0;
    struct Ended {  // confirmed, ended from outside or failed: nothing waits any more
        const ConfirmedSender& sender;
        const int& sent;
        ~Ended() {
            if (sent > 1) {
                sender.tellWaiting(std::nullopt);
            }
        }
    } ended{*this, sent};
    for (;;) {
        // Looked up afresh after every wait: nested sequences come and go meanwhile.
        const Sequence* sequence = current(id);
        if (sequence == nullptr || sequence->endedBy) {
            throw Cancelled{id, command,
                            sequence != nullptr ? *sequence->endedBy : SequenceEnd::EndedByClosing};
        }
        // While the line is lost nothing is written: the sequence waits for the port to come
        // back by itself and then goes on repeating where it was.
        if (line_.port().LineStatus() == TLineStatus::Lost) {
            clock_.pause(waitMilliseconds);
            continue;
        }
        try {
            line_.send(command);
        } catch (const ELineLost&) {
            continue;
        }
        log_.append("->" + command);
        if (++sent > 1) {
            tellWaiting(Waiting{command, sent});
        }
        clock_.pause(waitMilliseconds);
        if (replies_.lastReply() == command) {
            if (Sequence* acknowledging = current(id);
                acknowledging != nullptr && acknowledging->acknowledged != nullptr) {
                acknowledging->acknowledged->push_back(command);
            }
            return;
        }
    }
}

void ConfirmedSender::tellWaiting(std::optional<Waiting> waiting) const {
    if (waitingObserver_) {
        waitingObserver_(std::move(waiting));
    }
}

bool ConfirmedSender::cancelInnermost() {
    for (auto sequence = sequences_.rbegin(); sequence != sequences_.rend(); ++sequence) {
        if (!sequence->endedBy) {
            sequence->endedBy = SequenceEnd::EndedByOperator;
            return true;
        }
    }
    return false;
}

void ConfirmedSender::cancelAll() {
    for (auto& sequence : sequences_) {
        if (!sequence.endedBy) {
            sequence.endedBy = SequenceEnd::EndedByClosing;
        }
    }
}

}  // namespace velkor
