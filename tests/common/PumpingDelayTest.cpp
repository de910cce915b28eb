#include "PumpingDelay.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace velkor {
namespace {

TEST(PumpingDelay, WaitsAtLeastTheRequestedTime) {
    for (int ms : {1, 20, 150}) {
        QElapsedTimer clock;
        clock.start();
        pumpingDelay(ms);
        EXPECT_GE(clock.nsecsElapsed(), ms * 1'000'000LL) << ms << " ms";
    }
    // Deadlines between whole milliseconds, where the event loop's timers cannot end the wait.
    for (const auto wait : {std::chrono::microseconds(300), std::chrono::microseconds(2'500),
                            std::chrono::microseconds(20'700)}) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        pumpingDelayUntil(deadline);
        EXPECT_GE(std::chrono::steady_clock::now(), deadline) << wait.count() << " us";
    }
}

TEST(PumpingDelay, ProcessesPendingEventsEvenForZeroMilliseconds) {
    bool ran = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { ran = true; }, Qt::QueuedConnection);
    pumpingDelay(0);
    EXPECT_TRUE(ran);
}

TEST(PumpingDelay, TimersAndNestedDelaysRunInsideTheWait) {
    int ticks = 0;
    bool nestedDone = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    QTimer::singleShot(10, [&] {
        pumpingDelay(50);  // a handler that itself waits, as the confirmed sends do
        nestedDone = true;
    });
    pumpingDelay(200);
    EXPECT_GE(ticks, 3);
    EXPECT_TRUE(nestedDone);
}

}  // namespace
}  // namespace velkor
