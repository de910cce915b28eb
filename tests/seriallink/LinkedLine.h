#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "PseudoTerminal.h"

namespace velkor::test {

// The controller's line on a path that stays when the device behind it changes, as
// /dev/ttyUSB0 does when an adapter is pulled out and plugged in again: a link to a
// pseudo-terminal, pointed at a new one at every plugIn.
class LinkedLine {
  public:
    explicit LinkedLine(std::string path) : path_(std::move(path)) { plugIn(); }
    ~LinkedLine() { std::filesystem::remove(path_); }
    LinkedLine(const LinkedLine&) = delete;
    LinkedLine& operator=(const LinkedLine&) = delete;

    const std::string& path() const { return path_; }
    PseudoTerminal& device() { return *device_; }
    // The device goes, and its name with it, as the kernel removes the node of a pulled
    // adapter (a stale name could lead to another program's pseudo-terminal later).
    void unplug() {
        std::filesystem::remove(path_);
        device_.reset();
    }
    void plugIn() {
        device_ = std::make_unique<PseudoTerminal>();
        std::filesystem::remove(path_ + ".new");
        std::filesystem::create_symlink(device_->path(), path_ + ".new");
        std::filesystem::rename(path_ + ".new", path_);
    }

  private:
    std::string path_;
    std::unique_ptr<PseudoTerminal> device_;
};

}  // namespace velkor::test
