#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Clock.h"

namespace velkor::test {

// A clock the test turns: a pause takes no real time. It moves the clock on by its length,
// firing what falls due meanwhile in order of time (its timers' ticks, a controller's replies),
// lets the line deliver what it brought, handles the events already waiting, writes the length
// down and runs what the test has the world do meanwhile (a second scan, Esc).
class TestClock final : public Clock {
  public:
    TestClock();
    ~TestClock() override;

    TimePoint now() const override { return now_; }
    void pause(int milliseconds) override;
    // Rounded up to whole milliseconds, which `pauses` lists.
    void pauseUntil(TimePoint deadline) override;
    std::unique_ptr<Timer> timer(const char* name, std::chrono::milliseconds interval,
                                 std::function<void()> tick) override;

    // The world goes on for `by` while the console waits for nothing: timers tick, the line
    // delivers, events are handled.
    void run(std::chrono::milliseconds by);
    // Runs `action` once the clock reaches `when`.
    void at(TimePoint when, std::function<void()> action);
    // Called whenever the clock is about to move on and at the end of every pause: what must
    // have reached the console by then (the bytes on the line) is delivered there.
    void addSettler(std::function<void()> settle) { settlers_.push_back(std::move(settle)); }
    // The timer of this name made last; null when there is none.
    const Timer* timerNamed(const std::string& name) const;

    std::vector<int> pauses;
    std::function<void(int milliseconds)> duringPause;

  private:
    class TestTimer;

    void advanceTo(TimePoint target);
    void settle();

    TimePoint now_{std::chrono::hours(1)};
    std::multimap<TimePoint, std::function<void()>> due_;
    std::vector<TestTimer*> timers_;
    std::vector<std::function<void()>> settlers_;
};

}  // namespace velkor::test
