#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "ComPort.h"

namespace velkor {

// The event thread of an open port: waits for the device's events and hands each batch to the
// port's steps. With smThreadSync (the console's choice) a batch is queued for the
// user-interface thread, which runs it whenever it processes events (inside pumping delays
// too), while the event thread waits for it to finish; an exception in a delivery is carried
// back and ends the event thread quietly: the port stays writable but receives nothing more
// until it is closed and opened again. When the device goes away the thread ends at once and
// says so, so that the port can release the device and wait for it to come back.
class TComThread {
  public:
    // `onLost` runs on the event thread, last, when the thread ends because the device went
    // away.
    TComThread(TCustomComPort& port, std::function<void()> onLost);
    // Signals the thread to stop and waits for it; on the user-interface thread the wait runs
    // the deliveries the thread has queued, so it never hangs.
    ~TComThread();

    void Start();
    bool Ended() const;

  private:
    struct Delivery {
        TComEvents events;
        bool done = false;
        std::exception_ptr error;
    };
    class Runner;

    void Run();
    void DeliverEvents(TComEvents events);
    void RunQueuedDeliveries();

    TCustomComPort& port_;
    std::function<void()> onLost_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Delivery*> queue_;
    bool ended_ = false;
    std::unique_ptr<Runner> runner_;  // lives in the user-interface thread
};

}  // namespace velkor
