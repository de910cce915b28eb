// Failures of system calls as text for the log and the error output.
#pragma once

#include <string>

namespace velkor::simulator {

// `what` followed by the system's text for the current errno.
std::string systemError(const std::string& what);

}  // namespace velkor::simulator
