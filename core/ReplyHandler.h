#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "ConsoleState.h"

namespace velkor {

// Handles every packet the controller sends: logs it, keeps the last reply that confirmed
// sends wait for, and takes the piece count and the output state out of state reports.
//
// It never lets an error escape: an exception here would end the port's event thread and
// silence the line for the rest of the run.
class ReplyHandler {
  public:
    // `showCounter` receives the production counter's new text (the controller's count plus
    // the counter base) whenever a state report carries a count.
    ReplyHandler(ConsoleState& state, std::function<void(const std::string& counter)> showCounter)
        : state_(state), showCounter_(std::move(showCounter)) {}

    void handle(const std::string& packet) noexcept;

  private:
    void handleStateReport(const std::string& packet);

    ConsoleState& state_;
    std::function<void(const std::string&)> showCounter_;
};

}  // namespace velkor
