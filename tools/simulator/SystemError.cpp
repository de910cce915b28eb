#include "SystemError.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace velkor::simulator {

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace velkor::simulator
