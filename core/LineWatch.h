#pragma once

#include <functional>

#include "ComDataPacket.h"
#include "ComPort.h"
#include "EventLog.h"

namespace velkor {

// Follows the controller's line as the port reports it: the event log gets one line when the
// line is lost (or a port start-up could not open is waited for) and one when it is back; half a
// packet from before a loss can never be completed, so it goes. The port opens a lost line again
// by itself.
class LineWatch {
  public:
    // `opened` is told each time the line is open after a change; `changed` after every change.
    LineWatch(TCustomComPort& port, TComDataPacket& packets, EventLog& log,
              std::function<void()> opened, std::function<void()> changed);
    ~LineWatch();
    LineWatch(const LineWatch&) = delete;
    LineWatch& operator=(const LineWatch&) = delete;

    // The line's state as last noted.
    TLineStatus status() const { return status_; }
    // The line's state as the windows show it: "открыт", "закрыт" or, while the device is
    // waited for, "связь потеряна, переподключение" (8-bit).
    std::string statusText() const;

  private:
    enum class Waiting { No, ForFirstOpen, ForReturn };

    void takeNote();

    TCustomComPort& port_;
    TComDataPacket& packets_;
    EventLog& log_;
    std::function<void()> opened_;
    std::function<void()> changed_;
    TLineStatus status_;
    Waiting waiting_ = Waiting::No;
    int listener_ = 0;
};

}  // namespace velkor
