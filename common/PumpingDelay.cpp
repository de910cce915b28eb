#include "PumpingDelay.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <thread>

namespace velkor {
namespace {

using std::chrono::steady_clock;

// The event loop wakes up to a millisecond late (its poll counts whole milliseconds); what is
// left after it is slept precisely.
constexpr std::chrono::milliseconds kSleptTail{2};

// Handles events until `milliseconds` have passed.
void runEventLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(milliseconds);
    if (loop.exec() < 0) {
        // The application is quitting and refuses new event loops: keep handling events in
        // short sleeps so that the wait still neither spins nor ends early.
        QThread::msleep(static_cast<unsigned long>(std::min(milliseconds, 10)));
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

}  // namespace

void pumpingDelay(int milliseconds) {
    pumpingDelayUntil(steady_clock::now() + std::chrono::milliseconds(milliseconds));
}

void pumpingDelayUntil(steady_clock::time_point deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    for (auto left = deadline - steady_clock::now(); left > left.zero();
         left = deadline - steady_clock::now()) {
        if (left > kSleptTail) {
            runEventLoopFor(static_cast<int>(
                std::chrono::floor<std::chrono::milliseconds>(left - kSleptTail / 2).count()));
        } else {
            std::this_thread::sleep_until(deadline);
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
    }
}

}  // namespace velkor
