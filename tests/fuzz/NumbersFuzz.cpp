// Fuzzing target for number reading: any text either reads or fails with the message that names
// it, and what reads is the value its own decimal text reads back as.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "Numbers.h"
#include "VelkorError.h"

using velkor::fuzz::check;

namespace {

// The whole text is named, NUL bytes and all.
bool names(const velkor::VelkorError& error, const std::string& message) {
    return error.what() == velkor::withNulShown(message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const std::int32_t value = velkor::readInteger(text);
        check(velkor::readInteger(std::to_string(value)) == value, "integer round trip");
    } catch (const velkor::VelkorError& error) {
        check(names(error, "'" + text + "' is not a valid integer value"), "integer message");
    }
    try {
        const long double value = velkor::readReal(text);
        check(!std::isnan(value), "a real reads as a number");
    } catch (const velkor::VelkorError& error) {
        check(names(error, "'" + text + "' is not a valid floating point value"), "real message");
    }
    return 0;
}
