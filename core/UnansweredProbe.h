#pragma once

#include <chrono>

#include "Clock.h"

namespace velkor {

// The start-up probe's requests ("GET_ALL") to the controller's own device that it has not
// answered yet. A controller that answers late (busy, slow firmware) sends its report after
// start-up has opened its port again and read the saved counter: that report carries the count
// from before this run, which must not be added to the saved total. An answer is waited for
// up to a second after the last request; a report after that is the controller's own news.
class UnansweredProbe {
  public:
    static constexpr std::chrono::milliseconds kLongestAnswer{1000};

    void asked(Clock::TimePoint now);
    // A state report from the controller came in at `now`: true when it answers the probe.
    bool answeredBy(Clock::TimePoint now);

  private:
    int unanswered_ = 0;
    Clock::TimePoint lastAsked_{};
};

}  // namespace velkor
