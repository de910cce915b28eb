// Time on the simulator's monotonic clock (CLOCK_MONOTONIC), counted from the clock's origin.
// The logic that depends on time takes it as a value, so that it can be driven with made-up
// time stamps instead of real waiting.
#pragma once

#include <chrono>

namespace velkor::simulator {

using MonoTime = std::chrono::nanoseconds;

}  // namespace velkor::simulator
