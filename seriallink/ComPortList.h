// The serial ports the system has, for choosing one.
#pragma once

#include <QStringList>
#include <string>

namespace velkor {

// The system's serial ports (names without "/dev/"), sorted without regard to case; replaces
// the list's contents. When the environment variable VELKOR_SERIAL_PORTS is set, its names or
// device paths (separated by ":") are the list instead.
inline constexpr const char* kSerialPortsVariable = "VELKOR_SERIAL_PORTS";
void ListSerialPorts(QStringList& list);

// What a service person may choose a port from: the system's ports as above, then the stable
// links of /dev/serial/by-id (as paths), which keep naming the same adapter whichever socket it
// is plugged into.
void ListSerialPortChoices(QStringList& list);

// The device a port name stands for: a name such as ttyUSB0 is /dev/ttyUSB0, a name that starts
// with "/" is a path already (a pseudo-terminal, a link to one).
std::string serialDevicePath(const std::string& port);

// True when both names lead to the same device: the same path, or links (such as those under
// /dev/serial/by-id) to one character device.
bool sameSerialDevice(const std::string& a, const std::string& b);

}  // namespace velkor
