#include "SimulatorLine.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "SystemError.h"

namespace velkor::simulator {

namespace {

void setRaw(int fd, const std::string& path) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        throw std::runtime_error(systemError("cannot read the line settings of " + path));
    }
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    ::cfsetispeed(&settings, B115200);
    ::cfsetospeed(&settings, B115200);
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        throw std::runtime_error(systemError("cannot set the line settings of " + path));
    }
}

}  // namespace

Line::Line(const Options& options) : device_(options.device.has_value()) {
    if (device_) {
        path_ = *options.device;
        openDevice();
        if (fd_ < 0) {
            throw std::runtime_error(systemError("cannot open the serial device " + path_));
        }
    } else {
        openPseudoTerminal();
    }
}

Line::~Line() {
    closeAll();
}

void Line::closeDevice() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool Line::reopenDevice() {
    openDevice();
    return fd_ >= 0;
}

void Line::openPseudoTerminal() {
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
        throw std::runtime_error(systemError("cannot open a pseudo-terminal"));
    }
    char name[256] = {};
    if (::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0 || ::ptsname_r(fd_, name, sizeof name) != 0) {
        const std::string error = systemError("cannot prepare the pseudo-terminal");
        closeAll();
        throw std::runtime_error(error);
    }
    path_ = name;
    slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd_ < 0) {
        const std::string error = systemError("cannot open " + path_);
        closeAll();
        throw std::runtime_error(error);
    }
    try {
        // A new terminal starts in cooked mode with echo: it would send the console's own
        // commands back and hold replies until a line end. Raw before anyone sees the path.
        setRaw(slaveFd_, path_);
    } catch (...) {
        closeAll();
        throw;
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

void Line::openDevice() {
    fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        return;
    }
    try {
        setRaw(fd_, path_);
    } catch (...) {
        closeDevice();
        throw;
    }
    ::tcflush(fd_, TCIOFLUSH);
}

void Line::closeAll() {
    if (slaveFd_ >= 0) {
        ::close(slaveFd_);
        slaveFd_ = -1;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace velkor::simulator
