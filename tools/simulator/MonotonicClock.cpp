#include "MonotonicClock.h"

#include <time.h>

#include <chrono>

namespace velkor::simulator {

MonoTime monotonicNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace velkor::simulator
