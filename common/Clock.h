#pragma once

#include <chrono>

namespace velkor {

// The time the console's sequences keep: the pauses between the commands they send (during
// which the user-interface thread goes on handling its events: replies, input, timer ticks)
// and the time now. The console runs on the system's clock; a test may run it on a clock of
// its own, so that a sequence's pauses take no real time and come out exactly as long.
class Clock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    Clock() = default;
    virtual ~Clock() = default;
    Clock(const Clock&) = delete;
    Clock& operator=(const Clock&) = delete;

    virtual TimePoint now() const = 0;
    // Pauses at least `milliseconds`; events are handled meanwhile, so the caller must expect
    // shared state to have changed when it returns.
    virtual void pause(int milliseconds) = 0;
};

// The steady clock and the event-pumping delay.
Clock& systemClock();

}  // namespace velkor
