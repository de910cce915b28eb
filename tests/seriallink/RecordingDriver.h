#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SerialDriver.h"

namespace velkor::test {

// A driver that opens nothing and records what reaches it, for the paths a pseudo-terminal
// cannot show (line settings, timeouts, queue sizes, what a closed port sends, writes that
// fail) and for windows whose tests are not about the line. With `waitForBytes` set, the
// event thread waits for what a test hands to `receive`, as a device waits for its line.
class RecordingDriver : public SerialDriver {
  public:
    struct Log {
        std::vector<std::string> calls;
        std::vector<LineState> lineStates;
        std::vector<TimeoutSettings> timeouts;
        std::string written;
        int failLineState = 0;  // error number setLineState answers with
        // What the event thread's waits report, one batch per wait; then the thread stops.
        std::vector<std::uint32_t> eventBatches;
        // While set, the event thread's wait holds its batches back, so that a test can let the
        // thread start only once the opening thread is done with its own steps.
        std::atomic<bool> holdEvents{false};
        std::uint32_t lineErrorFlags = 0;
        std::string incoming;  // bytes waiting to be read
        int reads = 0;
        std::uint32_t modemLines = 0;
        int failWrites = 0;  // error number write answers with, nothing written
        bool waitForBytes = false;

        // Bytes the controller sends: the event thread reports them.
        void receive(const std::string& bytes) {
            {
                const std::lock_guard lock(mutex);
                incoming += bytes;
                unreported = true;
            }
            changed.notify_all();
        }
        std::string writtenSoFar() {
            const std::lock_guard lock(mutex);
            return written;
        }

        std::mutex mutex;  // guards incoming, written and the waits below
        std::condition_variable changed;
        bool unreported = false;
        bool stopRequested = false;
    };

    explicit RecordingDriver(Log& log) : log_(log) {}
    // Makes drivers that record into `log`, as a port or the console's options take them.
    static auto factory(Log& log) {
        return [&log] {
            return std::unique_ptr<SerialDriver>(std::make_unique<RecordingDriver>(log));
        };
    }

    int openDevice(const std::string& port) override {
        log_.calls.push_back("open " + port);
        open_ = true;
        return 0;
    }
    int closeDevice() override {
        log_.calls.push_back("close");
        open_ = false;
        return 0;
    }
    bool isOpen() const override { return open_; }
    int setQueueSizes(std::uint32_t input, std::uint32_t output) override {
        log_.calls.push_back("queues " + std::to_string(input) + " " + std::to_string(output));
        return 0;
    }
    int setLineState(const LineState& state) override {
        log_.calls.push_back("line state");
        log_.lineStates.push_back(state);
        return log_.failLineState;
    }
    int setTimeouts(const TimeoutSettings& timeouts) override {
        log_.calls.push_back("timeouts");
        log_.timeouts.push_back(timeouts);
        return 0;
    }
    void setEventMask(std::uint32_t) override {}
    WaitResult waitEvents(std::uint32_t& events) override {
        while (log_.holdEvents) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::unique_lock lock(log_.mutex);
        if (!log_.eventBatches.empty()) {
            events = log_.eventBatches.front();
            log_.eventBatches.erase(log_.eventBatches.begin());
            return WaitResult::Events;
        }
        if (!log_.waitForBytes) {
            return WaitResult::Stopped;
        }
        log_.changed.wait(lock, [this] { return log_.unreported || log_.stopRequested; });
        if (log_.stopRequested) {
            return WaitResult::Stopped;
        }
        log_.unreported = false;
        events = CommMask::RxChar;
        return WaitResult::Events;
    }
    void requestStop() override {
        {
            const std::lock_guard lock(log_.mutex);
            log_.stopRequested = true;
        }
        log_.changed.notify_all();
    }
    void clearStop() override {
        const std::lock_guard lock(log_.mutex);
        log_.stopRequested = false;
    }
    int write(const char* bytes, std::size_t count, std::size_t& written) override {
        const std::lock_guard lock(log_.mutex);
        if (log_.failWrites != 0) {
            written = 0;
            return log_.failWrites;
        }
        log_.written.append(bytes, count);
        written = count;
        return 0;
    }
    int read(char* buffer, std::size_t count, std::size_t& got) override {
        const std::lock_guard lock(log_.mutex);
        ++log_.reads;
        got = std::min(count, log_.incoming.size());
        log_.incoming.copy(buffer, got);
        log_.incoming.erase(0, got);
        log_.unreported = log_.unreported || !log_.incoming.empty();
        return 0;
    }
    int status(std::uint32_t& flags, std::uint32_t& waiting) override {
        const std::lock_guard lock(log_.mutex);
        flags = std::exchange(log_.lineErrorFlags, 0);
        waiting = static_cast<std::uint32_t>(log_.incoming.size());
        return 0;
    }
    int modemLines(std::uint32_t& lines) override {
        lines = log_.modemLines;
        return 0;
    }
    int purge(bool) override { return 0; }
    bool hungUp() override { return false; }
    bool sameDevice(const std::string& a, const std::string& b) const override { return a == b; }

  private:
    Log& log_;
    bool open_ = false;
};

}  // namespace velkor::test
