// A plant's network between a workstation and the Firebird server, on the loopback address: a
// TCP relay that holds every chunk it forwards `delay` in each direction (a LAN's latency) and
// counts round trips, that is every time the client sends after the server has answered.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velkor::bench {

class DelayRelay {
  public:
    // Forwards connections made to port() to `targetPort` on 127.0.0.1.
    DelayRelay(int targetPort, std::chrono::microseconds delay);
    ~DelayRelay();
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    int port() const { return port_; }
    long long roundTrips() const { return roundTrips_.load(); }

  private:
    struct Connection;
    void accept();

    int targetPort_;
    std::chrono::microseconds delay_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<long long> roundTrips_{0};
    std::mutex mutex_;  // guards connections_
    std::vector<std::unique_ptr<Connection>> connections_;
    std::thread acceptor_;
};

}  // namespace velkor::bench
