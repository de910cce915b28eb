#pragma once

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <vector>

#include "Clock.h"

namespace velkor::test {

// A clock the test turns: a pause takes no real time. It moves the clock on by its length,
// writes the length down, handles the events already waiting and runs what the test has the
// world do meanwhile (a controller's reply, a second scan, Esc).
class TestClock final : public Clock {
  public:
    TimePoint now() const override { return now_; }
    void pause(int milliseconds) override {
        pauses.push_back(milliseconds);
        now_ += std::chrono::milliseconds(milliseconds);
        QCoreApplication::processEvents();
        if (duringPause) {
            duringPause(milliseconds);
        }
    }
    void advance(std::chrono::milliseconds by) { now_ += by; }

    std::vector<int> pauses;
    std::function<void(int milliseconds)> duringPause;

  private:
    TimePoint now_{std::chrono::hours(1)};
};

}  // namespace velkor::test
