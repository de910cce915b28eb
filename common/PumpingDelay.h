#pragma once

namespace velkor {

// Waits at least `milliseconds` while the user-interface thread keeps handling its events:
// input, timer ticks and received packets all run inside the wait, so callers must expect
// shared state to have changed when it returns. Events are processed at least once, even for
// 0 ms. The thread sleeps in the event loop between events instead of spinning.
void pumpingDelay(int milliseconds);

}  // namespace velkor
