#include "Clock.h"

#include "PumpingDelay.h"

namespace velkor {
namespace {

class SystemClock final : public Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    void pause(int milliseconds) override { pumpingDelay(milliseconds); }
};

}  // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

}  // namespace velkor
