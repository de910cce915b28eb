// A fixed name for the simulator's line, whose pseudo-terminal gets a new name on every start.
#pragma once

#include <optional>
#include <string>

#include "SimulatorLog.h"

namespace velkor::simulator {

// The --link symbolic link, made by replacing whatever link was there and removed at the end if
// it still points to this simulator's line.
class Link {
  public:
    Link(const std::optional<std::string>& path, const std::string& target, Log& log);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

  private:
    std::string path_;
    std::string target_;
};

}  // namespace velkor::simulator
