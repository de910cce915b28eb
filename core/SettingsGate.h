#pragma once

#include <chrono>
#include <string_view>

#include "Clock.h"

namespace velkor {

// The settings window's password gate. A wrong password keeps the gate shut for a time that
// doubles with each failure in a row (1 s, 2 s, 4 s … a minute at most), so that guessing takes
// days rather than seconds; the right one opens it and starts the count again. Times are on the
// console's clock.
class SettingsGate {
  public:
    static constexpr std::chrono::seconds kLongestWait{60};

    explicit SettingsGate(Clock& clock) : clock_(clock) {}

    // Throws, saying how long, while the last failure keeps the gate shut.
    void requireOpenForTrying() const;
    // True for the password; a wrong one shuts the gate for the next wait.
    bool tryPassword(std::string_view typed, std::string_view password);
    int failuresInARow() const { return failures_; }

  private:
    Clock& clock_;
    int failures_ = 0;
    Clock::TimePoint shutUntil_{};
};

}  // namespace velkor
