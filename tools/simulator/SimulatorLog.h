// The simulator's log: one line per event, with the time in milliseconds on the monotonic clock,
// the kind of event and its text; on standard error, or appended to the --log file.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "MonoTime.h"

namespace velkor::simulator {

class Log {
  public:
    explicit Log(const std::optional<std::string>& path);
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    void write(MonoTime when, std::string_view kind, std::string_view text);
    void info(std::string_view text);

  private:
    std::FILE* file_ = nullptr;
    bool owned_ = false;
};

}  // namespace velkor::simulator
