#pragma once

#include <string>

#include "Clock.h"
#include "ConsoleState.h"
#include "ProductionCounter.h"

namespace velkor {

// Handles every packet the controller sends: logs it, keeps the last reply that confirmed
// sends wait for, and takes the piece count and the output state out of state reports.
//
// It never lets an error escape: an exception here would end the port's event thread and
// silence the line for the rest of the run.
class ReplyHandler {
  public:
    // A state report's count goes to `counter`; `clock` tells whether it answers the probe.
    ReplyHandler(ConsoleState& state, ProductionCounter& counter,
                 const Clock& clock = systemClock())
        : state_(state), counter_(counter), clock_(clock) {}

    void handle(const std::string& packet) noexcept;

  private:
    void handleStateReport(const std::string& packet);

    ConsoleState& state_;
    ProductionCounter& counter_;
    const Clock& clock_;
};

}  // namespace velkor
