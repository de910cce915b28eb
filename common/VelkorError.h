#pragma once

#include <stdexcept>
#include <string>

namespace velkor {

// The console's error: its message is the exact 8-bit (Windows-1251) text the operator sees in
// the standard error box. Conversion, file and database failures all travel as this type.
class VelkorError : public std::runtime_error {
  public:
    explicit VelkorError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace velkor
