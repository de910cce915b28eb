#include "Clock.h"

#include <QTimer>

#include "PumpingDelay.h"

namespace velkor {
namespace {

class EventLoopTimer final : public Clock::Timer {
  public:
    EventLoopTimer(const char* name, std::chrono::milliseconds interval,
                   std::function<void()> tick) {
        timer_.setObjectName(QString::fromLatin1(name));
        timer_.setInterval(interval);
        QObject::connect(&timer_, &QTimer::timeout, [tick = std::move(tick)] { tick(); });
    }
    void start() override { timer_.start(); }
    void stop() override { timer_.stop(); }
    bool active() const override { return timer_.isActive(); }
    std::chrono::milliseconds interval() const override { return timer_.intervalAsDuration(); }

  private:
    QTimer timer_;
};

class SystemClock final : public Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    void pause(int milliseconds) override { pumpingDelay(milliseconds); }
    void pauseUntil(TimePoint deadline) override { pumpingDelayUntil(deadline); }
    std::unique_ptr<Timer> timer(const char* name, std::chrono::milliseconds interval,
                                 std::function<void()> tick) override {
        return std::make_unique<EventLoopTimer>(name, interval, std::move(tick));
    }
};

}  // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace velkor
