#include "TestClock.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <optional>

namespace velkor::test {

class TestClock::TestTimer final : public Clock::Timer {
  public:
    TestTimer(TestClock& clock, std::string name, std::chrono::milliseconds interval,
              std::function<void()> tick)
        : clock_(clock), name_(std::move(name)), interval_(interval), tick_(std::move(tick)) {
        clock_.timers_.push_back(this);
    }
    ~TestTimer() override { std::erase(clock_.timers_, this); }

    void start() override {
        active_ = true;
        due_ = clock_.now() + interval_;
    }
    void stop() override { active_ = false; }
    bool active() const override { return active_; }
    std::chrono::milliseconds interval() const override { return interval_; }

    const std::string& name() const { return name_; }
    TimePoint due() const { return due_; }
    void tick() {
        due_ += interval_;
        tick_();
    }

  private:
    TestClock& clock_;
    std::string name_;
    std::chrono::milliseconds interval_;
    std::function<void()> tick_;
    bool active_ = false;
    TimePoint due_{};
};

TestClock::TestClock() = default;

TestClock::~TestClock() = default;

void TestClock::pause(int milliseconds) {
    pauses.push_back(milliseconds);
    advanceTo(now_ + std::chrono::milliseconds(milliseconds));
    QCoreApplication::processEvents();
    // A copy: what runs may set another hook in its place.
    if (const auto hook = duringPause) {
        hook(milliseconds);
    }
}

void TestClock::pauseUntil(TimePoint deadline) {
    pause(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(
                               std::max(deadline - now_, TimePoint::duration{}))
                               .count()));
}

std::unique_ptr<Clock::Timer> TestClock::timer(const char* name, std::chrono::milliseconds interval,
                                               std::function<void()> tick) {
    return std::make_unique<TestTimer>(*this, name, interval, std::move(tick));
}

void TestClock::run(std::chrono::milliseconds by) {
    advanceTo(now_ + by);
    QCoreApplication::processEvents();
}

void TestClock::at(TimePoint when, std::function<void()> action) {
    due_.emplace(std::max(when, now_), std::move(action));
}

const Clock::Timer* TestClock::timerNamed(const std::string& name) const {
    const auto found = std::find_if(timers_.rbegin(), timers_.rend(),
                                    [&](const TestTimer* t) { return t->name() == name; });
    return found == timers_.rend() ? nullptr : *found;
}

// What falls due by `target` happens in order of time; an action that pauses itself moves the
// clock on further, as a handler that takes long does in real time.
void TestClock::advanceTo(TimePoint target) {
    for (;;) {
        settle();
        std::optional<TimePoint> next;
        if (!due_.empty() && due_.begin()->first <= target) {
            next = due_.begin()->first;
        }
        TestTimer* ticking = nullptr;
        for (TestTimer* timer : timers_) {
            if (timer->active() && timer->due() <= target && (!next || timer->due() < *next)) {
                next = timer->due();
                ticking = timer;
            }
        }
        if (!next) {
            break;
        }
        now_ = std::max(now_, *next);
        if (ticking != nullptr) {
            ticking->tick();
        } else {
            const auto action = std::move(due_.begin()->second);
            due_.erase(due_.begin());
            action();
        }
    }
    now_ = std::max(now_, target);
    settle();
}

void TestClock::settle() {
    QCoreApplication::processEvents();
    for (const auto& settle : settlers_) {
        settle();
    }
}

}  // namespace velkor::test
