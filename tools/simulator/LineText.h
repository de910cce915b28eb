// Bytes from the serial line shown as one line of plain text, and back.
//
// The line carries 8-bit text (Windows-1251). Logs and the settings file show printable ASCII
// as it is and every other byte, and the backslash itself, as \xHH, so that one command is
// always one line and a log can be read on any terminal.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velkor::simulator {

std::string escapeBytes(std::string_view bytes);

// The bytes that escapeBytes() wrote; nullopt when `text` has a malformed escape.
std::optional<std::string> unescapeBytes(std::string_view text);

}  // namespace velkor::simulator
