#include "SimulatorLog.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "MonotonicClock.h"
#include "SystemError.h"

namespace velkor::simulator {

Log::Log(const std::optional<std::string>& path) {
    if (!path) {
        file_ = stderr;
        return;
    }
    file_ = std::fopen(path->c_str(), "ae");
    if (file_ == nullptr) {
        throw std::runtime_error(systemError("cannot open the log file " + *path));
    }
    owned_ = true;
}

Log::~Log() {
    if (owned_) {
        std::fclose(file_);
    }
}

void Log::write(MonoTime when, std::string_view kind, std::string_view text) {
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(when).count();
    std::fprintf(file_, "%lld %.*s %.*s\n", ms, static_cast<int>(kind.size()), kind.data(),
                 static_cast<int>(text.size()), text.data());
    std::fflush(file_);
}

void Log::info(std::string_view text) {
    write(monotonicNow(), "info", text);
}

}  // namespace velkor::simulator
