#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <memory>

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

// Answers the modal window of type `Dialog` that the test's next step opens, as soon as it
// shows; a dialog that never shows within `timeoutMs` fails the test.
template <typename Dialog = QWidget, typename Answer>
void whenModalShows(Answer answer, int timeoutMs = 5000) {
    auto* poll = new QTimer;
    poll->setInterval(2);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(poll, &QTimer::timeout, [poll, clock, answer, timeoutMs] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(*dialog);
        } else if (clock->elapsed() >= timeoutMs) {
            poll->stop();
            poll->deleteLater();
            ADD_FAILURE() << "no modal window showed";
        }
    });
    poll->start();
}

}  // namespace velkor::test
