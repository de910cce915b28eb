#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SerialDriver.h"

namespace velkor::test {

// A driver that opens nothing and records what reaches it, for the paths a pseudo-terminal
// cannot show (line settings, timeouts, queue sizes, what a closed port sends).
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
    };

    explicit RecordingDriver(Log& log) : log_(log) {}

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
        if (log_.eventBatches.empty()) {
            return WaitResult::Stopped;
        }
        events = log_.eventBatches.front();
        log_.eventBatches.erase(log_.eventBatches.begin());
        return WaitResult::Events;
    }
    void requestStop() override {}
    void clearStop() override {}
    int write(const char* bytes, std::size_t count, std::size_t& written) override {
        log_.written.append(bytes, count);
        written = count;
        return 0;
    }
    int read(char* buffer, std::size_t count, std::size_t& got) override {
        ++log_.reads;
        got = std::min(count, log_.incoming.size());
        log_.incoming.copy(buffer, got);
        log_.incoming.erase(0, got);
        return 0;
    }
    int status(std::uint32_t& flags, std::uint32_t& waiting) override {
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

  private:
    Log& log_;
    bool open_ = false;
};

}  // namespace velkor::test
