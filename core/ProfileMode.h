#pragma once

#include <functional>

#include "ConfirmedSend.h"
#include "ConsoleState.h"

namespace velkor {

// White and laminated profiles differ by the cylinder stroke: for laminated ones the controller
// gets the feed, head distance and end-sensor lengths shifted by it. The mode shows the target
// while the four confirmed sends run, and afterwards what the controller confirmed: a toggle
// ended by Esc, by closing or by a send error leaves the last confirmed mode showing, and the
// next toggle sends all four commands again.
class ProfileMode {
  public:
    // `shown` is told the mode (0 white, 1 laminated) whenever the one shown changes; the mode
    // shown is also the state's laminationMode.
    ProfileMode(ConfirmedSender& sender, ConsoleState& state, std::function<void(int)> shown)
        : sender_(sender), state_(state), shown_(std::move(shown)) {}

    // Toggles between white and laminated profiles; a call while a toggle runs starts nothing.
    // Throws, sending nothing, when a shifted length is beyond what the controller can hold.
    void toggle();

  private:
    void show(int mode);

    ConfirmedSender& sender_;
    ConsoleState& state_;
    std::function<void(int)> shown_;
    bool toggling_ = false;
    int confirmed_ = 0;  // the mode the controller last confirmed
};

}  // namespace velkor
