#include "PumpingDelay.h"

#include <algorithm>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace velkor {

void pumpingDelay(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    const qint64 wanted = static_cast<qint64>(milliseconds) * 1'000'000;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    while (clock.nsecsElapsed() < wanted) {
        const qint64 remainingMs = (wanted - clock.nsecsElapsed() + 999'999) / 1'000'000;
        QEventLoop loop;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(static_cast<int>(remainingMs));
        if (loop.exec() < 0) {
            // The application is quitting and refuses new event loops: keep handling events in
            // short sleeps so that the wait still neither spins nor ends early.
            QThread::msleep(static_cast<unsigned long>(std::min<qint64>(remainingMs, 10)));
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
    }
}

}  // namespace velkor
