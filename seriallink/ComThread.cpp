#include "ComThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include "Logging.h"

namespace velkor {
namespace {

const QEvent::Type kDeliveryEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
// The hidden window's own message of smWindowSync: the first user message plus 1.
const QEvent::Type kWindowSyncEvent = static_cast<QEvent::Type>(QEvent::User + 1025);

struct WindowSyncEvent : QEvent {
    explicit WindowSyncEvent(TComEvent e) : QEvent(kWindowSyncEvent), event(e) {}
    TComEvent event;
};

constexpr TComEvent kStepOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                    evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};

// Each event and its bit in the driver's comm event mask.
constexpr std::pair<TComEvent, std::uint32_t> kEventBits[] = {
    {evRxChar, CommMask::RxChar},    {evTxEmpty, CommMask::TxEmpty}, {evRxFlag, CommMask::RxFlag},
    {evRing, CommMask::Ring},        {evBreak, CommMask::Break},     {evCTS, CommMask::Cts},
    {evDSR, CommMask::Dsr},          {evError, CommMask::Err},       {evRLSD, CommMask::Rlsd},
    {evRx80Full, CommMask::Rx80Full}};

TComEvents maskToEvents(std::uint32_t mask) {
    TComEvents events;
    for (const auto& [event, bit] : kEventBits) {
        if (mask & bit) {
            events.insert(event);
        }
    }
    return events;
}

std::uint32_t eventsToMask(TComEvents events) {
    std::uint32_t mask = 0;
    for (const auto& [event, bit] : kEventBits) {
        if (events.contains(event)) {
            mask |= bit;
        }
    }
    return mask;
}

}  // namespace

// Receives the wake-up events in the user-interface thread.
class TComThread::Runner : public QObject {
  public:
    explicit Runner(TComThread& owner) : owner_(owner) {}

    bool event(QEvent* e) override {
        if (e->type() == kDeliveryEvent) {
            owner_.RunQueuedDeliveries();
            return true;
        }
        if (e->type() == kWindowSyncEvent) {
            // An exception here reaches the application's error box through its notify.
            if (owner_.port_.Connected()) {
                TComEvents one;
                one.insert(static_cast<WindowSyncEvent*>(e)->event);
                owner_.port_.RunEventHandlers(one);
            }
            return true;
        }
        return QObject::event(e);
    }

  private:
    TComThread& owner_;
};

TComThread::TComThread(TCustomComPort& port, std::function<void()> onLost)
    : port_(port), onLost_(std::move(onLost)) {
    if (port_.SyncMethod() != smNone) {
        runner_ = std::make_unique<Runner>(*this);
    }
}

void TComThread::Start() {
    port_.driver_->clearStop();
    port_.driver_->setEventMask(eventsToMask(port_.Events()));
    thread_ = std::thread([this] { Run(); });
}

bool TComThread::Ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

TComThread::~TComThread() {
    port_.driver_->requestStop();
    const bool onOwnerThread = runner_ != nullptr && QThread::currentThread() == runner_->thread();
    if (onOwnerThread) {
        std::unique_lock lock(mutex_);
        while (!ended_) {
            lock.unlock();
            RunQueuedDeliveries();
            lock.lock();
            changed_.wait_for(lock, std::chrono::milliseconds(10),
                              [this] { return ended_ || !queue_.empty(); });
        }
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    runner_.reset();  // after the join: also drops wake-up events still posted to it
}

void TComThread::Run() {
    SerialDriver::WaitResult result = SerialDriver::WaitResult::Events;
    while (result == SerialDriver::WaitResult::Events) {
        std::uint32_t mask = 0;
        result = port_.driver_->waitEvents(mask);
        if (result == SerialDriver::WaitResult::Failed) {
            qCWarning(lcSerialLink, "%s: waiting for line events failed; the event thread ends",
                      port_.Port().c_str());
        }
        if (result != SerialDriver::WaitResult::Events) {
            break;  // stopped, the wait failed, or the device went away
        }
        try {
            DeliverEvents(maskToEvents(mask));
        } catch (...) {
            // A step failed: the thread ends, the port stays open.
            qCWarning(lcSerialLink, "%s: an event handler failed (%s); the event thread ends",
                      port_.Port().c_str(), describeException(std::current_exception()).c_str());
            break;
        }
    }
    if (result == SerialDriver::WaitResult::Lost) {
        qCInfo(lcSerialLink, "%s: the device went away; the event thread ends",
               port_.Port().c_str());
    }
    port_.driver_->setEventMask(0);
    port_.driver_->purge(false);
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }
    if (result == SerialDriver::WaitResult::Lost && onLost_) {
        onLost_();
    }
}

void TComThread::DeliverEvents(TComEvents events) {
    switch (port_.SyncMethod()) {
        case smNone:
            port_.RunEventHandlers(events);
            return;
        case smWindowSync:
            for (TComEvent event : kStepOrder) {
                if (events.contains(event)) {
                    QCoreApplication::postEvent(runner_.get(), new WindowSyncEvent(event));
                }
            }
            return;
        case smThreadSync: {
            Delivery delivery{events, false, nullptr};
            std::unique_lock lock(mutex_);
            queue_.push_back(&delivery);
            changed_.notify_all();
            QCoreApplication::postEvent(runner_.get(), new QEvent(kDeliveryEvent));
            changed_.wait(lock, [&] { return delivery.done; });
            if (delivery.error) {
                std::rethrow_exception(delivery.error);
            }
            return;
        }
    }
}

void TComThread::RunQueuedDeliveries() {
    for (;;) {
        Delivery* delivery = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) {
                return;
            }
            delivery = queue_.front();
            queue_.pop_front();
        }
        std::exception_ptr error;
        try {
            port_.RunEventHandlers(delivery->events);
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(mutex_);
        delivery->error = error;
        delivery->done = true;
        changed_.notify_all();
    }
}

}  // namespace velkor
