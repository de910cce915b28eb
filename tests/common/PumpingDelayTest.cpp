#include "PumpingDelay.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace velkor {
namespace {

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(PumpingDelay, WaitsAtLeastTheRequestedTime) {
    for (int ms : {1, 20, 150}) {
        QElapsedTimer clock;
        clock.start();
        pumpingDelay(ms);
        EXPECT_GE(clock.nsecsElapsed(), ms * 1'000'000LL) << ms << " ms";
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

TEST(PumpingDelay, SleepsInsteadOfSpinning) {
    const double before = processorSeconds();
    pumpingDelay(500);
    EXPECT_LT(processorSeconds() - before, 0.1);
}

}  // namespace
}  // namespace velkor
