#pragma once

#include <cstdio>
#include <cstdlib>

namespace velkor::fuzz {

// A violated property aborts, which libFuzzer reports with the input that caused it.
inline void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

}  // namespace velkor::fuzz
