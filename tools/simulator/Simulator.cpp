#include "Simulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "CommandSplitter.h"
#include "ControllerModel.h"
#include "LineLink.h"
#include "LineText.h"
#include "MonoTime.h"
#include "MonotonicClock.h"
#include "ReplyScheduler.h"
#include "SettingsFile.h"
#include "SimulatorLine.h"
#include "SimulatorLog.h"
#include "SystemError.h"

namespace velkor::simulator {

namespace {

using std::chrono::milliseconds;

// How long the line is left alone after a hang-up or an I/O error before it is tried again: a
// pseudo-terminal whose slave nobody has open reports both at once and for as long as that lasts,
// so retrying straight away would spin.
constexpr milliseconds kPtyRetry{100};
constexpr milliseconds kDeviceRetry{500};
// The longest the loop sleeps with nothing to do; it wakes earlier for every byte and deadline.
constexpr milliseconds kLongestSleep{1000};
// Replies pile up here while nobody reads the line; past this they are dropped like the bytes
// of a serial line with nothing at its other end.
constexpr std::size_t kMaxUnsentBytes = std::size_t{64} * 1024;

volatile sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal(int signal) {
    stopSignal = signal;
}

class Simulator {
  public:
    Simulator(const Options& options, Log& log, Line& line)
        : options_(options),
          log_(log),
          line_(line),
          splitter_(options.gap),
          model_(ControllerConfig{options.count, options.setOut, options.equalsForm,
                                  options.withheld}),
          scheduler_(ReplyStyle{options.delay, options.junk, options.split}) {}

    void restoreSettings() {
        if (!options_.stateFile) {
            return;
        }
        const std::string& path = *options_.stateFile;
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0 && errno == ENOENT) {
            log_.info("no settings file " + escapeBytes(path) + " yet; SaveFlash makes it");
            return;
        }
        const std::optional<std::string> text = readWholeFile(path);
        if (!text) {
            throw std::runtime_error(systemError("cannot read the settings file " + path));
        }
        std::vector<std::string> problems;
        const auto stored = parseSettingsFile(*text, problems);
        for (const std::string& word : model_.restoreSettings(stored)) {
            problems.push_back("not a stored setting: " + escapeBytes(word));
        }
        for (const std::string& problem : problems) {
            log_.info(escapeBytes(path) + ": " + problem);
        }
        log_.info("restored " + std::to_string(model_.settings().size()) + " settings from " +
                  escapeBytes(path));
    }

    void serve() {
        lineDownUntil_.reset();
        while (stopSignal == 0) {
            MonoTime now = monotonicNow();
            if (std::optional<Command> command = splitter_.expire(now)) {
                handle(*command, now);
            }
            sendDue(now);
            if (lineDownUntil_ && now >= *lineDownUntil_) {
                retryLine(now);
            }

            pollfd watched{-1, 0, 0};
            const bool lineUsable = !lineDownUntil_ && line_.isOpen();
            if (lineUsable) {
                watched.fd = line_.fd();
                watched.events = static_cast<short>(POLLIN | (unsent_.empty() ? 0 : POLLOUT));
            }
            MonoTime wake = now + kLongestSleep;
            for (const std::optional<MonoTime>& deadline :
                 {splitter_.deadline(), scheduler_.nextDue(), lineDownUntil_}) {
                if (deadline) {
                    wake = std::min(wake, *deadline);
                }
            }
            const MonoTime wait = std::max(wake - now, MonoTime::zero());
            const timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                                   static_cast<long>(wait.count() % 1000000000)};
            // The stop signals are blocked except while waiting here, so none is missed
            // between checking stopSignal and going to sleep.
            const int ready = ::ppoll(&watched, lineUsable ? 1 : 0, &timeout, &waitMask_);
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw std::runtime_error(systemError("cannot wait for the line"));
            }
            now = monotonicNow();
            if (!lineUsable || watched.revents == 0) {
                continue;
            }
            if (watched.revents & POLLIN) {
                readLine(now);
            } else if (watched.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                lineTrouble(now, "the line hung up");
            }
            if ((watched.revents & POLLOUT) && !lineDownUntil_) {
                writeUnsent(now);
            }
        }
    }

    void setWaitMask(const sigset_t& mask) { waitMask_ = mask; }

  private:
    void handle(const Command& command, MonoTime now) {
        log_.write(command.firstByte, "recv", escapeBytes(command.text));
        const Reply reply = model_.handle(command.text);
        for (const std::string& note : reply.notes) {
            log_.write(now, "info", note);
        }
        if (reply.saveSettings) {
            saveSettings();
        }
        scheduler_.schedule(reply.packets, now);
    }

    void saveSettings() {
        if (!options_.stateFile) {
            log_.info("SaveFlash without --state: the settings are kept only until exit");
            return;
        }
        const std::string error =
            writeSettingsFile(*options_.stateFile, formatSettingsFile(model_.settings()));
        if (error.empty()) {
            log_.info("stored " + std::to_string(model_.settings().size()) + " settings in " +
                      escapeBytes(*options_.stateFile));
        } else {
            log_.info(error);
        }
    }

    void sendDue(MonoTime now) {
        const std::vector<Chunk> due = scheduler_.takeDue(now);
        for (const Chunk& chunk : due) {
            if (!chunk.logText.empty()) {
                // The time it goes out, which may be later than `now` after slow work such as
                // storing the settings.
                log_.write(monotonicNow(), "send",
                           (chunk.isJunk ? "junk " : "") + escapeBytes(chunk.logText));
            }
            unsent_ += chunk.bytes;
            // Each piece of a split packet is its own write.
            if (!lineDownUntil_ && line_.isOpen()) {
                writeUnsent(now);
            }
        }
        if (unsent_.size() > kMaxUnsentBytes) {
            log_.write(now, "info",
                       "nobody reads the line: dropped " + std::to_string(unsent_.size()) +
                           " unsent bytes");
            unsent_.clear();
        }
    }

    void writeUnsent(MonoTime now) {
        while (!unsent_.empty()) {
            const ssize_t n = ::write(line_.fd(), unsent_.data(), unsent_.size());
            if (n > 0) {
                unsent_.erase(0, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                lineTrouble(now, systemError("cannot write to the line"));
            }
            return;  // full: poll says when it takes more
        }
    }

    void readLine(MonoTime now) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(line_.fd(), buffer, sizeof buffer);
            if (n > 0) {
                if (troubleLogged_) {
                    log_.write(now, "info", "the line works again");
                    troubleLogged_ = false;
                }
                for (const Command& command :
                     splitter_.feed(std::string_view(buffer, static_cast<std::size_t>(n)), now)) {
                    handle(command, now);
                }
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return;
            }
            lineTrouble(now, n == 0 ? std::string("the line hung up")
                                    : systemError("cannot read the line"));
            return;
        }
    }

    // A hang-up or an I/O error: leave the line alone for a while, then try again. A device is
    // closed and opened anew, since it may have been unplugged.
    void lineTrouble(MonoTime now, const std::string& what) {
        if (!troubleLogged_) {
            log_.write(now, "info",
                       what + "; trying again every " +
                           std::to_string((line_.isDevice() ? kDeviceRetry : kPtyRetry).count()) +
                           " ms");
            troubleLogged_ = true;
        }
        if (line_.isDevice()) {
            line_.closeDevice();
        }
        lineDownUntil_ = now + (line_.isDevice() ? kDeviceRetry : kPtyRetry);
    }

    void retryLine(MonoTime now) {
        lineDownUntil_.reset();
        if (line_.isDevice() && !line_.isOpen()) {
            bool reopened = false;
            try {
                reopened = line_.reopenDevice();
            } catch (const std::exception& error) {
                // Once, not every half second while the trouble lasts.
                if (error.what() != lastRetryError_) {
                    lastRetryError_ = error.what();
                    log_.write(now, "info", lastRetryError_);
                }
            }
            if (!reopened) {
                lineDownUntil_ = now + kDeviceRetry;
                return;
            }
            troubleLogged_ = false;
            lastRetryError_.clear();
            log_.write(now, "info", "reopened " + escapeBytes(line_.path()));
        }
    }

    const Options& options_;
    Log& log_;
    Line& line_;
    CommandSplitter splitter_;
    ControllerModel model_;
    ReplyScheduler scheduler_;
    std::string unsent_;
    std::optional<MonoTime> lineDownUntil_;
    bool troubleLogged_ = false;
    std::string lastRetryError_;
    sigset_t waitMask_{};
};

const char* signalName(int signal) {
    switch (signal) {
        case SIGTERM:
            return "SIGTERM";
        case SIGINT:
            return "SIGINT";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

}  // namespace

int runSimulator(const Options& options) {
    // Stop signals are held back and taken only inside the loop's wait (see serve()).
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    sigset_t waitMask;
    ::sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGHUP);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    // Whoever reads the first output line may go away; that must not end the simulator.
    ::signal(SIGPIPE, SIG_IGN);

    std::optional<Log> log;
    try {
        log.emplace(options.logFile);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velkor-simulator: %s\n", error.what());
        return 1;
    }
    try {
        Line line(options);
        Simulator simulator(options, *log, line);
        simulator.setWaitMask(waitMask);
        simulator.restoreSettings();
        Link link(options.link, line.path(), *log);

        log->info("serving the console on " + escapeBytes(line.path()) + ", idle gap " +
                  std::to_string(options.gap.count()) + " ms, piece count " +
                  std::to_string(options.count));
        std::printf("%s\n", line.path().c_str());
        std::fflush(stdout);

        simulator.serve();
        log->info(std::string("stopped by ") + signalName(stopSignal));
        return 0;
    } catch (const std::exception& error) {
        if (options.logFile) {
            log->info(std::string("stopped: ") + error.what());
        }
        std::fprintf(stderr, "velkor-simulator: %s\n", error.what());
        return 1;
    }
}

}  // namespace velkor::simulator
