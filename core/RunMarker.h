#pragma once

#include <optional>
#include <string>

namespace velkor {

// A small file in the start-up directory that stands for a console running there. A clean
// shutdown removes it, so finding it at start-up means the last run ended uncleanly: killed,
// crashed, or the power went, possibly in the middle of an import.
class RunMarker {
  public:
    explicit RunMarker(std::string path) : path_(std::move(path)) {}

    // Marks this run as begun at `startedAt`; returns what the marker of an earlier run that
    // never ended cleanly said (when it began), or nothing after a clean end.
    std::optional<std::string> begin(const std::string& startedAt);
    // This run ends cleanly.
    void end();

  private:
    std::string path_;
};

}  // namespace velkor
