#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>

namespace velkor {

// A text as a message shows it: a NUL byte that came with it (a job file's field, a database
// value) becomes \0, as what() ends at the first NUL and the reason after it would be lost.
inline std::string withNulShown(const std::string& text) {
    if (std::find(text.begin(), text.end(), '\0') == text.end()) {
        return text;
    }
    std::string shown;
    for (const char c : text) {
        if (c == '\0') {
            shown += "\\0";
        } else {
            shown += c;
        }
    }
    return shown;
}

// The console's error: its message is the exact 8-bit (Windows-1251) text the operator sees in
// the standard error box, with NUL bytes shown. Conversion, file and database failures all
// travel as this type.
class VelkorError : public std::runtime_error {
  public:
    explicit VelkorError(const std::string& message) : std::runtime_error(withNulShown(message)) {}
};

}  // namespace velkor
