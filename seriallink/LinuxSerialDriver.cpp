// The serial driver for Linux: a terminal device through termios, on a non-blocking descriptor.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <linux/serial.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "ComPort.h"
#include "CustomBaudRate.h"

namespace velkor {
namespace {

speed_t standardSpeed(std::uint32_t rate) {
    switch (rate) {
        case 110:
            return B110;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        default:
            return 0;
    }
}

// Pseudo-terminals and some adapters have no modem lines or line counters: the call answers
// ENOTTY (or EINVAL), which means "not there", not "failed".
bool unsupported(int error) {
    return error == ENOTTY || error == EINVAL;
}

class LinuxSerialDriver final : public SerialDriver {
  public:
    LinuxSerialDriver()
        : stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~LinuxSerialDriver() override {
        closeDevice();
        ::close(stopFd_);
        ::close(wakeFd_);
    }

    int openDevice(const std::string& port) override {
        const std::string path = serialDevicePath(port);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return errno;
        }
        // Exclusive use, as the controller's line allows one program only. TIOCEXCL keeps
        // other users out; the lock keeps out a second program of the same user (root too).
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            return error == EWOULDBLOCK ? EBUSY : error;
        }
        ::ioctl(fd, TIOCEXCL);
        termios settings{};
        if (::tcgetattr(fd, &settings) != 0) {
            const int error = errno;
            ::close(fd);
            return error;
        }
        ::cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        settings.c_cc[VMIN] = 1;
        settings.c_cc[VTIME] = 0;
        if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
            const int error = errno;
            ::close(fd);
            return error;
        }
        // A freshly opened line starts with empty queues, as a serial driver's queues are
        // made at open: nothing received before the open is delivered after it.
        ::tcflush(fd, TCIOFLUSH);
        fd_ = fd;
        modemLinesSupported_ = true;
        lineCountersSupported_ = ::ioctl(fd_, TIOCGICOUNT, &lastCounters_) == 0;
        pendingTxEmpty_ = false;
        readSinceReport_ = false;
        hungUp_ = false;
        reportedWaiting_ = 0;
        return 0;
    }

    int closeDevice() override {
        if (fd_ < 0) {
            return 0;
        }
        // A pseudo-terminal keeps the exclusive flag after close while its other end is open (a
        // simulator, a serial-over-network bridge): left set, it would refuse every later open
        // but root's, the console's own next start included.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
        return 0;
    }

    bool isOpen() const override { return fd_ >= 0; }

    // The kernel sizes its own queues; the requested sizes only matter to the XON/XOFF limits,
    // which the line-state record carries.
    int setQueueSizes(std::uint32_t, std::uint32_t) override { return 0; }

    int setLineState(const LineState& state) override {
        termios settings{};
        if (::tcgetattr(fd_, &settings) != 0) {
            return errno;
        }
        settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        if (state.byteSize < 5 || state.byteSize > 8) {
            return EINVAL;
        }
        settings.c_cflag |= sizes[state.byteSize - 5];
        switch (state.parity) {
            case 0:
                break;
            case 1:
                settings.c_cflag |= PARENB | PARODD;
                break;
            case 2:
                settings.c_cflag |= PARENB;
                break;
            case 3:
                settings.c_cflag |= PARENB | PARODD | CMSPAR;
                break;
            case 4:
                settings.c_cflag |= PARENB | CMSPAR;
                break;
            default:
                return EINVAL;
        }
        if (state.stopBits == 2 || (state.stopBits == 1 && state.byteSize == 5)) {
            settings.c_cflag |= CSTOPB;  // two stop bits; with 5 data bits the UART sends 1.5
        } else if (state.stopBits == 1) {
            return EINVAL;
        }
        const std::uint32_t rts = state.flags & LineState::fRtsControlMask;
        if ((state.flags & LineState::fOutxCtsFlow) || rts == LineState::fRtsHandshake) {
            settings.c_cflag |= CRTSCTS;
        }
        settings.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
        if (state.flags & LineState::fOutX)
            settings.c_iflag |= IXON;
        if (state.flags & LineState::fInX)
            settings.c_iflag |= IXOFF;
        if (state.flags & LineState::fParity)
            settings.c_iflag |= INPCK;
        settings.c_cc[VSTART] = static_cast<cc_t>(state.xonChar);
        settings.c_cc[VSTOP] = static_cast<cc_t>(state.xoffChar);

        const speed_t speed = standardSpeed(state.baudRate);
        if (speed != 0) {
            ::cfsetspeed(&settings, speed);
        }
        if (::tcsetattr(fd_, TCSANOW, &settings) != 0) {
            return errno;
        }
        if (speed == 0) {
            if (const int error = setArbitraryBaudRate(fd_, state.baudRate)) {
                return error;
            }
        }
        // tcsetattr reports success when any part of a change was taken: read back what
        // matters.
        termios applied{};
        std::uint32_t inputRate = 0;
        std::uint32_t outputRate = 0;
        if (::tcgetattr(fd_, &applied) != 0 || readBaudRates(fd_, inputRate, outputRate) != 0) {
            return errno;
        }
        const tcflag_t checked = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
        if ((applied.c_cflag & checked) != (settings.c_cflag & checked) ||
            outputRate != state.baudRate) {
            return EINVAL;
        }
        discardNull_ = (state.flags & LineState::fNull) != 0;
        baudRate_ = state.baudRate;
        const std::uint32_t dtr = state.flags & LineState::fDtrControlMask;
        setModemLine(TIOCM_DTR, dtr != 0);
        setModemLine(TIOCM_RTS, rts == LineState::fRtsEnable || rts == LineState::fRtsHandshake);
        return 0;
    }

    int setTimeouts(const TimeoutSettings& timeouts) override {
        writeMultiplier_ = timeouts.writeTotalMultiplier;
        writeConstant_ = timeouts.writeTotalConstant;
        return 0;
    }

    void setEventMask(std::uint32_t mask) override { mask_ = mask; }

    WaitResult waitEvents(std::uint32_t& events) override {
        for (;;) {
            // Wake-ups that came before this look are answered by it; later ones end the poll.
            takeSignal(wakeFd_);
            if (hungUp_) {
                return WaitResult::Lost;
            }
            const std::uint32_t mask = mask_;
            events = 0;
            std::uint32_t waiting = 0;
            if (mask & CommMask::RxChar) {
                waiting = bytesWaiting();
                // Whatever is waiting after a read is news (it came after the count the read
                // used); otherwise only growth is, so that bytes a handler leaves unread are
                // not reported again and again.
                if (readSinceReport_.exchange(false)) {
                    reportedWaiting_ = 0;
                }
                reportedWaiting_ = std::min(reportedWaiting_, waiting);
                if (waiting > reportedWaiting_) {
                    events |= CommMask::RxChar;
                    reportedWaiting_ = waiting;
                }
            }
            bool draining = false;
            if ((mask & CommMask::TxEmpty) && pendingTxEmpty_.load()) {
                int queued = 0;
                if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued == 0) {
                    pendingTxEmpty_ = false;
                    events |= CommMask::TxEmpty;
                } else {
                    draining = true;
                }
            }
            events |= modemLineChanges(mask) | lineErrorEvents(mask);
            if (events != 0) {
                return WaitResult::Events;
            }

            pollfd fds[3] = {{stopFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}, {fd_, 0, 0}};
            // While reported bytes sit unread, POLLIN would fire at once: a read wakes this
            // wait instead, and growth is looked for now and then. A hang-up is reported by
            // poll whatever is asked for.
            const bool watchInput = (mask & CommMask::RxChar) && waiting == 0;
            fds[2].events = watchInput ? POLLIN : 0;
            int timeout = -1;
            if (draining) {
                timeout = 2;
            } else if (waiting > 0 || watchingLines(mask)) {
                timeout = 20;
            }
            const int ready = ::poll(fds, 3, timeout);
            if (ready < 0 && errno != EINTR) {
                return WaitResult::Failed;
            }
            if (fds[0].revents & POLLIN) {
                return WaitResult::Stopped;
            }
            if (fds[2].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                // The device went away (an adapter pulled out, the other end of a
                // pseudo-terminal closed): stop watching it at once.
                return WaitResult::Lost;
            }
        }
    }

    void requestStop() override { signal(stopFd_); }

    void clearStop() override { takeSignal(stopFd_); }

    int write(const char* bytes, std::size_t count, std::size_t& written) override {
        written = 0;
        using Clock = std::chrono::steady_clock;
        const std::uint64_t limitMs = std::uint64_t(writeMultiplier_) * count + writeConstant_;
        const bool limited = writeMultiplier_ != 0 || writeConstant_ != 0;
        const auto deadline =
            Clock::now() + std::chrono::milliseconds(std::min<std::uint64_t>(limitMs, 1u << 30));
        while (written < count) {
            const ssize_t n = ::write(fd_, bytes + written, count - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return errno;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (limited && left <= 0) {
                break;  // the write timeout ran out: report what went out
            }
            pollfd out{fd_, POLLOUT, 0};
            if (::poll(&out, 1, limited ? static_cast<int>(left) : -1) < 0 && errno != EINTR) {
                return errno;
            }
            if (out.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                return EIO;
            }
        }
        drainOutput(limited, deadline);
        pendingTxEmpty_ = true;
        signal(wakeFd_);  // the event thread reports evTxEmpty once the queue is empty
        return 0;
    }

    int read(char* buffer, std::size_t count, std::size_t& got) override {
        got = 0;
        while (got < count) {
            const ssize_t n = ::read(fd_, buffer + got, count - got);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
                continue;
            }
            if (n == 0) {
                hungUp_ = true;  // with VMIN=1 an empty read means the line hung up
                break;
            }
            if (errno == EAGAIN) {
                break;
            }
            if (errno != EINTR) {
                return errno;
            }
        }
        if (discardNull_) {
            got = static_cast<std::size_t>(std::remove(buffer, buffer + got, '\0') - buffer);
        }
        readSinceReport_ = true;
        signal(wakeFd_);  // bytes that came after the count are reported at once
        return 0;
    }

    int status(std::uint32_t& errorFlags, std::uint32_t& bytesWaiting) override {
        int waiting = 0;
        if (::ioctl(fd_, FIONREAD, &waiting) != 0) {
            return errno;
        }
        bytesWaiting = static_cast<std::uint32_t>(waiting);
        errorFlags = takeLineErrorFlags();
        return 0;
    }

    int modemLines(std::uint32_t& lines) override {
        lines = 0;
        int bits = 0;
        if (!readModemBits(bits)) {
            return modemLinesSupported_ ? errno : 0;
        }
        if (bits & TIOCM_CTS)
            lines |= ModemLine::Cts;
        if (bits & TIOCM_DSR)
            lines |= ModemLine::Dsr;
        if (bits & TIOCM_RNG)
            lines |= ModemLine::Ring;
        if (bits & TIOCM_CAR)
            lines |= ModemLine::Rlsd;
        return 0;
    }

    int purge(bool abort) override {
        if (fd_ < 0) {
            return 0;
        }
        // Writes here complete before SendText returns, so there is nothing pending to abort.
        if (!abort && ::tcflush(fd_, TCIOFLUSH) != 0 && !unsupported(errno)) {
            return errno;
        }
        return 0;
    }

    bool sameDevice(const std::string& a, const std::string& b) const override {
        return sameSerialDevice(a, b);
    }

    bool hungUp() override {
        if (fd_ < 0) {
            return false;
        }
        pollfd device{fd_, 0, 0};
        return hungUp_ ||
               (::poll(&device, 1, 0) > 0 && (device.revents & (POLLHUP | POLLERR | POLLNVAL)));
    }

  private:
    static void signal(int eventFd) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto ignored = ::write(eventFd, &one, sizeof one);
    }
    static void takeSignal(int eventFd) {
        std::uint64_t value = 0;
        [[maybe_unused]] const auto ignored = ::read(eventFd, &value, sizeof value);
    }

    std::uint32_t bytesWaiting() const {
        int count = 0;
        return ::ioctl(fd_, FIONREAD, &count) == 0 ? static_cast<std::uint32_t>(count) : 0;
    }

    // A real UART sends what the kernel queued at the line's speed: wait until its output
    // queue is empty, or the write's deadline has passed. Pseudo-terminals report 0 at once.
    template <typename TimePoint>
    void drainOutput(bool limited, TimePoint deadline) {
        for (;;) {
            int queued = 0;
            if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) {
                return;
            }
            const auto now = std::chrono::steady_clock::now();
            if (limited && now >= deadline) {
                return;
            }
            // Ten bits a byte at the line's speed, looked at again every 1 to 10 ms.
            const std::uint64_t rate = baudRate_ != 0 ? baudRate_ : 9600;
            auto pause = std::chrono::microseconds(std::clamp<std::uint64_t>(
                std::uint64_t(queued) * 10'000'000 / rate, 1'000, 10'000));
            if (limited) {
                pause = std::min(
                    pause, std::chrono::duration_cast<std::chrono::microseconds>(deadline - now));
            }
            std::this_thread::sleep_for(pause);
        }
    }

    bool readModemBits(int& bits) {
        if (!modemLinesSupported_) {
            bits = 0;
            return false;
        }
        if (::ioctl(fd_, TIOCMGET, &bits) == 0) {
            return true;
        }
        if (unsupported(errno)) {
            modemLinesSupported_ = false;
        }
        bits = 0;
        return false;
    }

    void setModemLine(int line, bool on) {
        if (modemLinesSupported_ && ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) != 0 &&
            unsupported(errno)) {
            modemLinesSupported_ = false;  // a pseudo-terminal: nothing to drive
        }
    }

    bool watchingLines(std::uint32_t mask) const {
        return modemLinesSupported_ &&
               (mask & (CommMask::Cts | CommMask::Dsr | CommMask::Rlsd | CommMask::Ring));
    }

    std::uint32_t modemLineChanges(std::uint32_t mask) {
        int bits = 0;
        if (!watchingLines(mask) || !readModemBits(bits)) {
            return 0;
        }
        const int changed = bits ^ lastModemBits_;
        lastModemBits_ = bits;
        std::uint32_t events = 0;
        if (changed & TIOCM_CTS)
            events |= CommMask::Cts;
        if (changed & TIOCM_DSR)
            events |= CommMask::Dsr;
        if (changed & TIOCM_CAR)
            events |= CommMask::Rlsd;
        if ((changed & bits) & TIOCM_RNG)
            events |= CommMask::Ring;
        return events & mask;
    }

    std::uint32_t lineErrorEvents(std::uint32_t mask) {
        if (!lineCountersSupported_ || !(mask & (CommMask::Err | CommMask::Break))) {
            return 0;
        }
        serial_icounter_struct now{};
        if (::ioctl(fd_, TIOCGICOUNT, &now) != 0) {
            return 0;
        }
        std::uint32_t events = 0;
        if (now.frame != seenCounters_.frame || now.parity != seenCounters_.parity ||
            now.overrun != seenCounters_.overrun || now.buf_overrun != seenCounters_.buf_overrun) {
            events |= CommMask::Err;
        }
        if (now.brk != seenCounters_.brk) {
            events |= CommMask::Break;
        }
        seenCounters_ = now;
        return events & mask;
    }

    std::uint32_t takeLineErrorFlags() {
        if (!lineCountersSupported_) {
            return 0;
        }
        serial_icounter_struct now{};
        if (::ioctl(fd_, TIOCGICOUNT, &now) != 0) {
            return 0;
        }
        std::uint32_t flags = 0;
        if (now.frame != lastCounters_.frame)
            flags |= LineErrorFlag::Frame;
        if (now.parity != lastCounters_.parity)
            flags |= LineErrorFlag::RxParity;
        if (now.overrun != lastCounters_.overrun)
            flags |= LineErrorFlag::Overrun;
        if (now.buf_overrun != lastCounters_.buf_overrun)
            flags |= LineErrorFlag::RxOver;
        if (now.brk != lastCounters_.brk)
            flags |= LineErrorFlag::Break;
        lastCounters_ = now;
        return flags;
    }

    int fd_ = -1;
    const int stopFd_;
    const int wakeFd_;  // a read or a write wakes the event thread's wait through this
    std::atomic<std::uint32_t> mask_{0};
    std::atomic<bool> pendingTxEmpty_{false};
    std::atomic<bool> readSinceReport_{false};
    std::atomic<bool> hungUp_{false};
    std::uint32_t reportedWaiting_ = 0;  // the event thread's own
    std::uint32_t baudRate_ = 0;
    bool discardNull_ = false;
    bool modemLinesSupported_ = true;
    bool lineCountersSupported_ = false;
    int lastModemBits_ = 0;
    serial_icounter_struct lastCounters_{};
    serial_icounter_struct seenCounters_{};
    std::uint32_t writeMultiplier_ = 0;
    std::uint32_t writeConstant_ = 0;
};

}  // namespace

std::unique_ptr<SerialDriver> createSystemSerialDriver() {
    return std::make_unique<LinuxSerialDriver>();
}

}  // namespace velkor
