#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velkor {

// Splits an isql script into its statements: each ends at the current terminator (";" at
// first, changed by "SET TERM <new> <old>"), which is left out. "--" comments up to the end of
// the line, blank statements and the SET TERM, SET SQL DIALECT and COMMIT commands (the script
// runner commits every statement on its own) are dropped. Terminators inside quoted strings do
// not count.
std::vector<std::string> splitSqlScript(std::string_view script);

}  // namespace velkor
