#pragma once

#include <functional>
#include <string>

#include "VelkorError.h"

namespace velkor::test {

// The message of the console error that `action` throws, or "no error".
inline std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const VelkorError& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace velkor::test
