#pragma once

#include <cstdint>

namespace velkor {

// Sets any bit rate on a terminal through the kernel's termios2 interface (glibc's cfsetspeed
// takes only the standard rates). Returns 0 or the error number.
int setArbitraryBaudRate(int fd, std::uint32_t rate);
// The input and output rates the device reports.
int readBaudRates(int fd, std::uint32_t& input, std::uint32_t& output);

}  // namespace velkor
