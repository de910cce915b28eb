// The simulator's end of the serial line to the console: a pseudo-terminal it makes, or a serial
// device it is given, in raw mode at 115200 baud, 8 data bits, no parity.
#pragma once

#include <string>

#include "Options.h"

namespace velkor::simulator {

// The simulator's end of the line. For a pseudo-terminal that is the master; the simulator also
// holds the slave open itself, so that the terminal lives on while the console closes and reopens
// its port (a master whose slave nobody holds reports a hang-up and fails every read with EIO).
class Line {
  public:
    explicit Line(const Options& options);
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    const std::string& path() const { return path_; }
    bool isDevice() const { return device_; }
    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

    // After trouble on a device: let go of it until reopen() succeeds (it may be unplugged).
    void closeDevice();
    bool reopenDevice();

  private:
    void openPseudoTerminal();
    void openDevice();
    void closeAll();

    bool device_;
    std::string path_;
    int fd_ = -1;
    int slaveFd_ = -1;
};

}  // namespace velkor::simulator
