#pragma once

#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "Clock.h"
#include "ConsoleDatabase.h"
#include "ControllerLine.h"
#include "DispatchLedger.h"
#include "EventLog.h"
#include "MachineVariables.h"
#include "PositionDispatch.h"

namespace velkor {

// What the window shows once a scan's turn has come: the scan, the position fields' new texts
// (a piece's positions in general form, empty for a field without one) and whether the lookup
// found no position at all (said in the status line, with no box to close before the next scan).
struct ShownScan {
    std::string scan;
    std::array<std::string, kPositionFields> fields{};
    bool noPositions = false;
};

// The position dispatches: a scan (looked up, shown, its positions sent) or "Import size" (the
// position fields sent as they stand). They run one at a time, in the order they were asked for:
// one that comes while another runs (inside its pauses) waits until the running one has sent its
// last position, so that every piece's positions go out whole. A dispatch that fails (a label
// that is no barcode, a field that is no number) costs only itself: those waiting go on, the
// event log says what failed, and its error is shown once the queue is done. Only a failed line
// drops those still waiting, and the event log says how many. Each dispatch, whatever became
// of it, is on record (DispatchLedger).
//
// The position fields live here; the window shows them and hands down every edit, and a
// dispatch reads them once, before its first command.
class DispatchQueue {
  public:
    struct Parts {
        ConsoleDatabase& database;
        const MachineVariables& variables;
        ControllerLine& line;
        Clock& clock;
        EventLog& log;
        DispatchLedger& ledger;  // every dispatch, begun or dropped, goes on record
    };
    // `closing` says when nothing more may go out; `shown` is told what to show at each scan's
    // turn, `waitingChanged` whenever the number of waiting dispatches changes.
    DispatchQueue(Parts parts, std::function<bool()> closing,
                  std::function<void(const ShownScan&)> shown, std::function<void()> waitingChanged)
        : parts_(parts),
          closing_(std::move(closing)),
          shown_(std::move(shown)),
          waitingChanged_(std::move(waitingChanged)) {}

    void scan(std::string scan);
    void sendFields();
    // The operator changed a position field (0 to 7).
    void editField(int field, std::string text);
    std::size_t waiting() const { return waiting_.size(); }

  private:
    void request(std::optional<std::string> scan);
    void run(const std::optional<std::string>& scan);
    void lookUp(const std::string& scan, DispatchLedger::Begun& dispatch);
    void dropWaiting(const std::string& why);

    Parts parts_;
    std::function<bool()> closing_;
    std::function<void(const ShownScan&)> shown_;
    std::function<void()> waitingChanged_;
    std::array<std::string, kPositionFields> fields_{};
    std::deque<std::optional<std::string>> waiting_;  // a scan, or "Import size"
    bool dispatching_ = false;
};

}  // namespace velkor
