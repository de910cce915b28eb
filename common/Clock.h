#pragma once

#include <chrono>
#include <ctime>
#include <functional>
#include <memory>

namespace velkor {

// The time the console's sequences keep: the pauses between the commands they send (during
// which the user-interface thread goes on handling its events: replies, input, timer ticks),
// the time now and the timers that tick on it. The console runs on the system's clock; a test
// may run it on a clock of its own, so that a sequence's pauses and a timer's ticks take no real
// time and come exactly when they are due.
class Clock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // Ticks on the user-interface thread every `interval` while it runs.
    class Timer {
      public:
        Timer() = default;
        virtual ~Timer() = default;
        Timer(const Timer&) = delete;
        Timer& operator=(const Timer&) = delete;

        virtual void start() = 0;
        virtual void stop() = 0;
        virtual bool active() const = 0;
        virtual std::chrono::milliseconds interval() const = 0;
    };

    Clock() = default;
    virtual ~Clock() = default;
    Clock(const Clock&) = delete;
    Clock& operator=(const Clock&) = delete;

    virtual TimePoint now() const = 0;
    // Pauses at least `milliseconds`; events are handled meanwhile, so the caller must expect
    // shared state to have changed when it returns.
    virtual void pause(int milliseconds) = 0;
    // Pauses until `deadline`, to the microsecond, as `pause` does; events are handled at least
    // once also when it has passed already.
    virtual void pauseUntil(TimePoint deadline) = 0;
    // A timer that calls `tick` each time `interval` has passed since it started or last
    // ticked; made stopped. `name` tells it apart where timers are looked at (Timer1).
    virtual std::unique_ptr<Timer> timer(const char* name, std::chrono::milliseconds interval,
                                         std::function<void()> tick) = 0;
};

// The steady clock, the event-pumping delay and the event loop's timers.
Clock& systemClock();

// The local calendar time now, for the stamps and file names a service person reads.
std::tm localNow();

}  // namespace velkor
