// The simulator's real clock: the time stamps its logic is driven with while it runs.
#pragma once

#include "MonoTime.h"

namespace velkor::simulator {

// The current time on CLOCK_MONOTONIC.
MonoTime monotonicNow();

}  // namespace velkor::simulator
