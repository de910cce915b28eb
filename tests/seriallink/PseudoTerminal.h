#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>

namespace velkor::test {

// The far end of a pseudo-terminal, standing where the controller would: the port under test
// opens path(), the test reads and writes here.
class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        path_ = ::ptsname(master_);
        // Raw from the start, so that nothing is echoed or translated before the port opens.
        const int slave = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
        termios settings{};
        ::tcgetattr(slave, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
        ::close(slave);
    }
    ~PseudoTerminal() { hangUp(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& path() const { return path_; }

    // Writes all bytes, waiting while the line is full, but never longer than `ms` in all.
    void write(const std::string& bytes, int ms = 10000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd out{master_, POLLOUT, 0};
            if ((n < 0 && errno != EAGAIN) || left <= 0 ||
                ::poll(&out, 1, static_cast<int>(left)) <= 0) {
                throw std::runtime_error("pseudo-terminal write failed");
            }
        }
    }

    // What arrives within `ms` milliseconds, stopping early once `expected` bytes are in.
    std::string read(std::size_t expected, int ms = 2000) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < expected) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd in{master_, POLLIN, 0};
            if (left <= 0 || ::poll(&in, 1, static_cast<int>(left)) <= 0) {
                break;
            }
            char buffer[256];
            const ssize_t n = (in.revents & POLLIN) ? ::read(master_, buffer, sizeof buffer) : -1;
            if (n <= 0) {
                // Hung up: nobody has the line open (yet, or any more). Look again shortly.
                ::usleep(10'000);
                continue;
            }
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    // The controller's end goes away, as when a USB adapter is pulled out.
    void hangUp() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

  private:
    int master_ = -1;
    std::string path_;
};

}  // namespace velkor::test
