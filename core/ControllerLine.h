#pragma once

#include <chrono>
#include <string>

#include "Clock.h"
#include "ComPort.h"

namespace velkor {

// Sets a port up as the line to the machine's controller: 115200 baud, 8 data bits, no parity,
// one stop bit, DTR on, RTS off, no flow control, null bytes dropped, no receive trigger. The
// port name stays "COM3" until start-up reads the machine variable Port.
void configureControllerLine(TCustomComPort& port);

// Writes commands to the controller. A command has no terminator: the controller takes it to be
// complete once the line has been quiet for about 20 ms, so bytes written within that time of
// the last command's would join it ("GET_ALLR3_POS3010") and both would be lost. Every command
// goes through here, whoever sends it (a dispatch, a button, a timer, a confirmed sequence), and
// waits until the line has been quiet for kQuietGap after the one before.
class ControllerLine {
  public:
    // The controller's gap with room for an adapter's and a busy kernel's delays.
    static constexpr std::chrono::milliseconds kQuietGap{50};

    ControllerLine(TCustomComPort& port, Clock& clock) : port_(port), clock_(clock) {}
    ControllerLine(const ControllerLine&) = delete;
    ControllerLine& operator=(const ControllerLine&) = delete;

    TCustomComPort& port() const { return port_; }
    // Writes `command` once the line is quiet (the wait handles events as every pause does, so
    // another command may go out first); throws what the port raises.
    void send(const std::string& command);

  private:
    // How long `bytes` take on the wire at the line's settings.
    std::chrono::microseconds wireTime(std::size_t bytes) const;

    TCustomComPort& port_;
    Clock& clock_;
    Clock::TimePoint quietAt_{};
};

}  // namespace velkor
