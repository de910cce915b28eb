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

// Runs `action` once, as soon as `holds()` does while the test's next step runs the event loop
// (a sequence waiting for its acknowledgement, a modal window); `holds()` not holding within
// `timeoutMs` fails the test.
template <typename Predicate, typename Action>
void whenTrue(Predicate holds, Action action, int timeoutMs = 5000) {
    auto* poll = new QTimer;
    poll->setInterval(2);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(poll, &QTimer::timeout, [poll, clock, holds, action, timeoutMs] {
        const bool now = holds();
        if (now || clock->elapsed() >= timeoutMs) {
            poll->stop();
            poll->deleteLater();
            if (now) {
                action();
            } else {
                ADD_FAILURE() << "what the test waited for never happened";
            }
        }
    });
    poll->start();
}

// Answers the modal window of type `Dialog` that the test's next step opens, as soon as it
// shows.
template <typename Dialog = QWidget, typename Answer>
void whenModalShows(Answer answer, int timeoutMs = 5000) {
    whenTrue([] { return qobject_cast<Dialog*>(QApplication::activeModalWidget()) != nullptr; },
             [answer] { answer(*qobject_cast<Dialog*>(QApplication::activeModalWidget())); },
             timeoutMs);
}

}  // namespace velkor::test
