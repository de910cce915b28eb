// The running simulator: the line to the console (a pseudo-terminal or a serial device), the
// loop that reads commands and writes replies on it, the log, the settings file and the link.
#pragma once

#include "Options.h"

namespace velkor::simulator {

// Sets everything up, prints the line's path as the first line of standard output and serves
// the console until a stop signal comes. Returns the program's exit status.
int runSimulator(const Options& options);

}  // namespace velkor::simulator
