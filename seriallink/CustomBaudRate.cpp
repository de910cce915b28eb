// Kept apart from the rest of the driver: <asm/termbits.h> and glibc's <termios.h> define the
// same names differently and cannot meet in one file.
#include "CustomBaudRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace velkor {

int setArbitraryBaudRate(int fd, std::uint32_t rate) {
    termios2 settings{};
    if (::ioctl(fd, TCGETS2, &settings) != 0) {
        return errno;
    }
    settings.c_cflag &= ~CBAUD;
    settings.c_cflag |= BOTHER;
    settings.c_cflag &= ~(CBAUD << IBSHIFT);
    settings.c_cflag |= BOTHER << IBSHIFT;
    settings.c_ispeed = rate;
    settings.c_ospeed = rate;
    return ::ioctl(fd, TCSETS2, &settings) == 0 ? 0 : errno;
}

int readBaudRates(int fd, std::uint32_t& input, std::uint32_t& output) {
    termios2 settings{};
    if (::ioctl(fd, TCGETS2, &settings) != 0) {
        return errno;
    }
    input = settings.c_ispeed;
    output = settings.c_ospeed;
    return 0;
}

}  // namespace velkor
