#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "Clock.h"

namespace velkor {

// The part of a port that lives in its owner's event loop and brings a lost line back: the
// event thread reports a hang-up here (from its own thread), and while the line is lost a
// timer tries to open the device again, a few times a second, which costs next to nothing.
class LineRecovery : public QObject {
  public:
    static constexpr int kRetryMilliseconds = 250;

    // `onLost(generation)` runs in the owner's thread for each reported loss; `retry` at every
    // tick of `clock` while retrying.
    LineRecovery(std::function<void(unsigned generation)> onLost, std::function<void()> retry,
                 Clock& clock);

    // Any thread: the line of the given opening has gone away.
    void reportLost(unsigned generation);
    void startRetrying();
    void stopRetrying();
    bool retrying() const { return timer_->active(); }

  protected:
    bool event(QEvent* event) override;

  private:
    std::function<void(unsigned)> onLost_;
    std::unique_ptr<Clock::Timer> timer_;
};

}  // namespace velkor
