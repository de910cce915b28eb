#pragma once

#include "ComPort.h"

namespace velkor {

// Sets a port up as the line to the machine's controller: 115200 baud, 8 data bits, no parity,
// one stop bit, DTR on, RTS off, no flow control, null bytes dropped, no receive trigger. The
// port name stays "COM3" until start-up reads the machine variable Port.
void configureControllerLine(TCustomComPort& port);

}  // namespace velkor
