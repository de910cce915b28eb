#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>

namespace velkor {

// The console's error: its message is the exact 8-bit (Windows-1251) text the operator sees in
// the standard error box. Conversion, file and database failures all travel as this type.
// A NUL byte that came with the text (a job file's field, a database value) is shown as \0:
// what() ends at the first NUL, and the reason after it would be lost.
class VelkorError : public std::runtime_error {
  public:
    explicit VelkorError(const std::string& message) : std::runtime_error(withNulShown(message)) {}

  private:
    static std::string withNulShown(const std::string& message) {
        if (std::find(message.begin(), message.end(), '\0') == message.end()) {
            return message;
        }
        std::string shown;
        for (const char c : message) {
            if (c == '\0') {
                shown += "\\0";
            } else {
                shown += c;
            }
        }
        return shown;
    }
};

}  // namespace velkor
