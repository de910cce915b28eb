#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ConfirmedSend.h"
#include "EventLog.h"
#include "MachineVariables.h"

namespace velkor {

// White and laminated profiles differ by the cylinder stroke: for laminated ones the controller
// gets the feed, head distance and end-sensor lengths shifted by it. The mode shows the target
// while the four confirmed sends run, and afterwards what the controller confirmed: a toggle
// ended by Esc, by closing or by a send error leaves the last confirmed mode showing, and the
// next toggle sends all four commands again.
class ProfileMode {
  public:
    // The toggle's lengths come from `variables`, its outcome goes to `log`; `shown` is told the
    // mode (0 white, 1 laminated) whenever the one shown changes.
    ProfileMode(ConfirmedSender& sender, const MachineVariables& variables, EventLog& log,
                std::function<void(int)> shown)
        : sender_(sender), variables_(variables), log_(log), shown_(std::move(shown)) {}

    // Toggles between white and laminated profiles and says how the toggle ended, the commands
    // the controller acknowledged going to `acknowledged`; a call while a toggle runs starts
    // nothing (and says nothing). Throws, sending nothing, when a shifted length is beyond what
    // the controller can hold, and at a failed write.
    std::optional<SequenceEnd> toggle(std::vector<std::string>& acknowledged);
    // The mode shown: the target while a toggle runs, else what the controller confirmed.
    int shown() const { return shownMode_; }

  private:
    void show(int mode);

    ConfirmedSender& sender_;
    const MachineVariables& variables_;
    EventLog& log_;
    std::function<void(int)> shown_;
    bool toggling_ = false;
    int shownMode_ = 0;
    int confirmed_ = 0;  // the mode the controller last confirmed
};

}  // namespace velkor
