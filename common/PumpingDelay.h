#pragma once

#include <chrono>

namespace velkor {

// Waits at least `milliseconds` while the user-interface thread keeps handling its events:
// input, timer ticks and received packets all run inside the wait, so callers must expect
// shared state to have changed when it returns. Events are processed at least once, even for
// 0 ms. The thread sleeps in the event loop between events instead of spinning.
void pumpingDelay(int milliseconds);

// The same wait up to `deadline`, ending within a few microseconds of it: the event loop's
// timers count whole milliseconds, so the last of them is slept through without events.
void pumpingDelayUntil(std::chrono::steady_clock::time_point deadline);

}  // namespace velkor
