#pragma once

#include <functional>
#include <string>

#include "Clock.h"
#include "EventLog.h"
#include "ProductionCounter.h"

namespace velkor {

// Handles every packet the controller sends: logs it, keeps the last reply that confirmed
// sends wait for, and takes the piece count and the output state out of state reports.
//
// It never lets an error escape: an exception here would end the port's event thread and
// silence the line for the rest of the run.
class ReplyHandler {
  public:
    // Told of each state report, with the time it came on `clock`; true when its count is the
    // one from before this run (a late answer to start-up's probe), which the total leaves out.
    using StateReportSeen = std::function<bool(Clock::TimePoint)>;

    ReplyHandler(EventLog& log, ProductionCounter& counter, const Clock& clock,
                 StateReportSeen reportSeen = {})
        : log_(log), counter_(counter), clock_(clock), reportSeen_(std::move(reportSeen)) {}

    void handle(const std::string& packet) noexcept;

    // The newest packet that is not a state report, "=" and ";" removed.
    const std::string& lastReply() const { return lastReply_; }
    // "Показать": the next state report is logged, however long it takes to come.
    void showNextStateReport() { showRequest_ = 1; }
    // The controller's output state from its reports.
    int outputState() const { return outputState_; }

  private:
    void handleStateReport(const std::string& packet);

    EventLog& log_;
    ProductionCounter& counter_;
    const Clock& clock_;
    StateReportSeen reportSeen_;
    std::string lastReply_;
    int showRequest_ = 0;  // 1: log the next state report
    int outputState_ = 0;
};

}  // namespace velkor
