#include "DelayRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <string>

namespace velkor::bench {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void noDelay(int socket) {
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// One direction of a connection: what arrives is held until its time has come, then written on;
// chunks overtake nothing, so the bytes keep their order and the wire its throughput.
class Pipe {
  public:
    Pipe(int from, int to, std::chrono::microseconds delay, std::function<void()> arrived)
        : from_(from),
          to_(to),
          delay_(delay),
          arrived_(std::move(arrived)),
          reader_([this] { read(); }),
          writer_([this] { write(); }) {}
    ~Pipe() {
        reader_.join();
        writer_.join();
    }

  private:
    struct Chunk {
        Clock::time_point due;
        std::string bytes;  // empty: the sender has closed
    };

    void read() {
        char buffer[65536];
        for (;;) {
            const ssize_t got = ::recv(from_, buffer, sizeof buffer, 0);
            if (got > 0) {
                arrived_();
            }
            {
                const std::lock_guard lock(mutex_);
                chunks_.push_back(
                    {Clock::now() + delay_,
                     got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string()});
            }
            ready_.notify_one();
            if (got <= 0) {
                return;
            }
        }
    }

    void write() {
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return !chunks_.empty(); });
                chunk = std::move(chunks_.front());
                chunks_.pop_front();
            }
            if (chunk.bytes.empty()) {
                ::shutdown(to_, SHUT_WR);
                return;
            }
            std::this_thread::sleep_until(chunk.due);
            for (std::size_t sent = 0; sent < chunk.bytes.size();) {
                const ssize_t n =
                    ::send(to_, chunk.bytes.data() + sent, chunk.bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) {
                    ::shutdown(from_, SHUT_RD);  // the other side is gone: so is this direction
                    break;
                }
                sent += static_cast<std::size_t>(n);
            }
        }
    }

    int from_;
    int to_;
    std::chrono::microseconds delay_;
    std::function<void()> arrived_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Chunk> chunks_;
    std::thread reader_;
    std::thread writer_;
};

}  // namespace

struct DelayRelay::Connection {
    Connection(int clientSocket, int serverSocket, std::chrono::microseconds delay,
               std::atomic<long long>& roundTrips)
        : client(clientSocket),
          server(serverSocket),
          toServer(client, server, delay,
                   [this, &roundTrips] {
                       // The client speaks again after the server has answered: one more trip.
                       if (serverSpokeLast.exchange(false)) {
                           ++roundTrips;
                       }
                   }),
          toClient(server, client, delay, [this] { serverSpokeLast = true; }) {}
    ~Connection() {
        ::shutdown(client, SHUT_RDWR);
        ::shutdown(server, SHUT_RDWR);
    }

    int client;
    int server;
    std::atomic<bool> serverSpokeLast{true};  // the first request is a trip too
    Pipe toServer;
    Pipe toClient;
};

DelayRelay::DelayRelay(int targetPort, std::chrono::microseconds delay)
    : targetPort_(targetPort), delay_(delay) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        ::listen(listener_, 16) != 0) {
        fail("relay: listen");
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { accept(); });
}

DelayRelay::~DelayRelay() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    ::close(listener_);
    const std::lock_guard lock(mutex_);
    for (auto& connection : connections_) {
        const int client = connection->client;
        const int server = connection->server;
        connection.reset();
        ::close(client);
        ::close(server);
    }
}

void DelayRelay::accept() {
    for (;;) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (stopping_) {
                return;
            }
            continue;
        }
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in target = loopback(targetPort_);
        if (::connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
            fail("relay: connect to the server");
        }
        noDelay(client);
        noDelay(server);
        const std::lock_guard lock(mutex_);
        connections_.push_back(std::make_unique<Connection>(client, server, delay_, roundTrips_));
    }
}

}  // namespace velkor::bench
