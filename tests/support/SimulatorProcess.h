#pragma once

#include <signal.h>
#include <time.h>

#include <QProcess>
#include <QStringList>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "PumpingDelay.h"

namespace velkor::test {

inline long long monotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1'000'000;
}

// The controller simulator program, logging what it receives with monotonic time stamps.
class Simulator {
  public:
    explicit Simulator(const std::string& logFile, QStringList options = {}) : logFile_(logFile) {
        options << QStringLiteral("--log") << QString::fromStdString(logFile);
        process_.start(QStringLiteral(VELKOR_SIMULATOR), options);
        if (!process_.waitForStarted(5000) || !process_.waitForReadyRead(5000)) {
            throw std::runtime_error("the simulator did not start: " +
                                     process_.readAllStandardError().toStdString());
        }
        path_ = process_.readLine().trimmed().toStdString();
    }
    ~Simulator() {
        if (process_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
            process_.waitForFinished(5000);
        }
    }
    // The controller dies at once (kill -9): its end of the line goes with it, its link stays.
    void kill() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    const std::string& path() const { return path_; }

    struct Received {
        long long at;
        std::string command;
    };
    std::vector<Received> received() const {
        std::vector<Received> commands;
        std::ifstream log(logFile_);
        std::string line;
        while (std::getline(log, line)) {
            std::istringstream fields(line);
            Received entry;
            std::string kind;
            if (fields >> entry.at >> kind >> entry.command && kind == "recv") {
                commands.push_back(entry);
            }
        }
        return commands;
    }
    // The commands received once there are at least `count` of them, or after `timeoutMs`;
    // the console's event loop runs meanwhile.
    std::vector<std::string> commandsOnceThereAre(std::size_t count, int timeoutMs = 3000) const {
        const long long end = monotonicMilliseconds() + timeoutMs;
        auto received = commands();
        while (received.size() < count && monotonicMilliseconds() < end) {
            velkor::pumpingDelay(5);
            received = commands();
        }
        return received;
    }
    std::vector<std::string> commands() const {
        std::vector<std::string> out;
        for (const auto& r : received()) {
            out.push_back(r.command);
        }
        return out;
    }

  private:
    std::string logFile_;
    QProcess process_;
    std::string path_;
};

}  // namespace velkor::test
