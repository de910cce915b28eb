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

// What a state report means around start-up's probe: the probe's requests that the controller
// has not answered yet, whether the line open now is the controller's (a report from another
// device shows on the counter but means nothing else), and the one automatic settings push that a
// report from the controller arms.
class ProbeReports {
  public:
    // The automatic push, with the numbers its state has always had.
    enum class AutoPush { NotArmed = 0, Armed = 1, Started = 10 };

    // The probe has a port open now: the controller's, or another device's.
    void probing(bool controllersLine) { controllersLine_ = controllersLine; }
    void probeEnded() { controllersLine_ = true; }
    // The probe asked the controller's own device at `now`.
    void asked(Clock::TimePoint now) { unanswered_.asked(now); }
    // A state report came in at `now`: from the controller it arms the push (once, for the
    // run); true when it answers the probe, so that its count is the one from before this run.
    bool reportSeen(Clock::TimePoint now);
    AutoPush autoPush() const { return autoPush_; }
    // The push starts when it was armed; true when it does.
    bool startArmedPush();

  private:
    bool controllersLine_ = true;
    UnansweredProbe unanswered_;
    AutoPush autoPush_ = AutoPush::NotArmed;
};

}  // namespace velkor
