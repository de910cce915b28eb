#pragma once

#include <QElapsedTimer>

#include "PumpingDelay.h"

namespace velkor::test {

// Lets the event loop run until `done()` holds or `timeoutMs` have passed; returns done().
template <typename Predicate>
bool waitUntil(Predicate done, int timeoutMs = 3000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= timeoutMs) {
            return done();
        }
        pumpingDelay(2);
    }
    return true;
}

}  // namespace velkor::test
