#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Clock.h"
#include "ControllerLine.h"
#include "EventLog.h"
#include "ReplyHandler.h"
#include "VelkorError.h"

namespace velkor {

// How a sequence of confirmed sends ended: every command acknowledged, or ended by the operator
// (Esc) or by the console closing or stopping.
enum class SequenceEnd { Completed, EndedByOperator, EndedByClosing };

// Sequences of confirmed sends (the mode toggle, the settings push). A confirmed send writes
// its command, logs "->" and the command, waits, and writes it again until the last reply
// equals the command. A controller that never acknowledges would keep a sequence going for
// ever, so the operator can end the sequence that is waiting (Esc) and closing the main window
// ends them all. Sequences nest: one started inside another's wait runs to its end first. A
// line that is lost meanwhile holds the sequence until the port is back.
class ConfirmedSender {
  public:
    // Each send goes to `log`; an acknowledgement is the last reply `replies` took. The waits
    // between repeats run on `clock`.
    ConfirmedSender(ControllerLine& line, const ReplyHandler& replies, EventLog& log, Clock& clock)
        : line_(line), replies_(replies), log_(log), clock_(clock) {}

    Clock& clock() const { return clock_; }

    // Runs `body` as one sequence; when the sequence is ended from outside, its remaining
    // commands are dropped and the event log says which command was left unconfirmed. The
    // commands acknowledged in it are added to `acknowledged` as they are, so that a caller
    // learns them also when the sequence ends by an error.
    SequenceEnd runSequence(const std::function<void()>& body,
                            std::vector<std::string>* acknowledged = nullptr);

    // One confirmed send inside the innermost running sequence.
    void send(const std::string& command, int waitMilliseconds);

    // A command that has gone out more than once without its acknowledgement.
    struct Waiting {
        std::string command;
        int sent = 0;
    };
    // Told of a waiting command at each repeat, and with nothing once the send has ended.
    void setWaitingObserver(std::function<void(std::optional<Waiting>)> observer) {
        waitingObserver_ = std::move(observer);
    }

    // Ends the innermost running sequence (Esc); returns false when none runs.
    bool cancelInnermost();
    // Ends every running sequence (the main window closes).
    void cancelAll();
    bool running() const { return !sequences_.empty(); }

  private:
    struct Sequence {
        int id;
        std::optional<SequenceEnd> endedBy;  // from outside
        std::vector<std::string>* acknowledged = nullptr;
    };
    // Thrown inside a sequence that was ended, and caught by its runSequence.
    struct Cancelled {
        int sequence;
        std::string command;
        SequenceEnd endedBy;
    };
    Sequence* current(int id);

    void tellWaiting(std::optional<Waiting> waiting) const;

    ControllerLine& line_;
    const ReplyHandler& replies_;
    EventLog& log_;
    Clock& clock_;
    std::function<void(std::optional<Waiting>)> waitingObserver_;
    std::vector<Sequence> sequences_;
    int nextId_ = 1;
};

}  // namespace velkor
