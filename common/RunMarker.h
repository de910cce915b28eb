#pragma once

#include <optional>
#include <string>

#include "VelkorError.h"

namespace velkor {

// The file velkor.running in a start-up directory: it stands for a console running there. The
// console holds a lock on it for as long as it runs, so that a second console in the same
// folder, or a tool that would replace the folder's database, knows that one is running; a
// clean end removes it, so finding it unlocked at start-up means the last run ended uncleanly
// (killed, crashed, or the power went, possibly in the middle of an import).
class RunMarker {
  public:
    // Another console (or a tool) holds the folder; `startedAt` is what its marker says.
    class Held : public VelkorError {
      public:
        explicit Held(std::string startedAt)
            : VelkorError("the folder is held since " + startedAt),
              startedAt_(std::move(startedAt)) {}
        const std::string& startedAt() const { return startedAt_; }

      private:
        std::string startedAt_;
    };

    explicit RunMarker(std::string path) : path_(std::move(path)) {}
    // Lets go of the folder but leaves the marker: an end that is no clean end.
    ~RunMarker();
    RunMarker(const RunMarker&) = delete;
    RunMarker& operator=(const RunMarker&) = delete;

    // Claims the folder for this run, begun at `startedAt`; returns what the marker of an
    // earlier run that never ended cleanly said (when it began), or nothing after a clean end.
    // Throws Held when a console holds the folder, leaving the marker as it is, and VelkorError
    // when the marker cannot be made or is a symbolic link or no regular file.
    std::optional<std::string> claim(const std::string& startedAt);
    bool claimed() const { return fd_ >= 0; }
    // This run ends cleanly: the marker goes.
    void release();

  private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace velkor
