// The serial ports the system has, for choosing one.
#pragma once

#include <QStringList>

namespace velkor {

// The system's serial ports (names without "/dev/"), sorted without regard to case; replaces
// the list's contents. When the environment variable VELKOR_SERIAL_PORTS is set, its names or
// device paths (separated by ":") are the list instead.
inline constexpr const char* kSerialPortsVariable = "VELKOR_SERIAL_PORTS";
void ListSerialPorts(QStringList& list);

}  // namespace velkor
