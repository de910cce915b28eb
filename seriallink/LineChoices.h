#pragma once

#include <string>

#include "ComPort.h"

namespace velkor {

// The settings an operator chooses for a line: the port and its five line settings, as a plain
// value that a setup dialog shows and hands back.
struct LineChoices {
    std::string port;
    TBaudRate baudRate = br9600;
    TDataBits dataBits = dbEight;
    TStopBits stopBits = sbOneStopBit;
    TParityBits parity = prNone;
    TFlowControl flowControl = fcNone;

    bool operator==(const LineChoices&) const = default;
};

LineChoices lineChoicesOf(const TCustomComPort& port);
// Sets each choice that differs from the port's value, in the order port, baud rate, data bits,
// stop bits, parity, flow control; each change reaches an open line as the port's setter does.
void setLineChoices(TCustomComPort& port, const LineChoices& choices);
// The same as one settings update: an open line gets all its settings once, at the end.
void applyLineChoices(TCustomComPort& port, const LineChoices& choices);

}  // namespace velkor
