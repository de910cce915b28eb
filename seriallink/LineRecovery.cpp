#include "LineRecovery.h"

#include <QCoreApplication>
#include <QEvent>

namespace velkor {
namespace {

const QEvent::Type kLostEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

struct LostEvent : QEvent {
    explicit LostEvent(unsigned g) : QEvent(kLostEvent), generation(g) {}
    unsigned generation;
};

}  // namespace

LineRecovery::LineRecovery(std::function<void(unsigned)> onLost, std::function<void()> retry,
                           Clock& clock)
    : onLost_(std::move(onLost)),
      timer_(clock.timer("LineRecovery", std::chrono::milliseconds(kRetryMilliseconds),
                         std::move(retry))) {}

void LineRecovery::reportLost(unsigned generation) {
    QCoreApplication::postEvent(this, new LostEvent(generation));
}

void LineRecovery::startRetrying() {
    timer_->start();
}

void LineRecovery::stopRetrying() {
    timer_->stop();
}

bool LineRecovery::event(QEvent* event) {
    if (event->type() == kLostEvent) {
        onLost_(static_cast<LostEvent*>(event)->generation);
        return true;
    }
    return QObject::event(event);
}

}  // namespace velkor
