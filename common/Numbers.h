#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velkor {

// Reads a 32-bit signed integer the way every integer in the console is read: leading blanks,
// an optional sign, then decimal digits, or hexadecimal digits after "$", "x" or "0x" (up to
// eight of them; $FFFFFFFF reads as -1). Anything else, trailing blanks included, throws
// "'<text>' is not a valid integer value".
std::int32_t readInteger(std::string_view text);
// The same reading for 64-bit signed integers (up to 16 hexadecimal digits): the production
// counter, which outgrows 32 bits on a busy machine.
std::int64_t readInteger64(std::string_view text);

// True when `value` is a number the machine's controller holds: finite and within its 32-bit
// signed integer.
bool fitsControllerInteger(long double value);

// Reads a decimal number whose decimal separator is the comma, in 80-bit extended precision:
// blanks around it, an optional sign, digits with at most one comma, an optional exponent
// (E or e, optional sign, digits). Anything else throws
// "'<text>' is not a valid floating point value".
long double readReal(std::string_view text);

// A number's text with its decimal separator made `separator` (',' or '.'): the windows show
// and take a comma, VARIABLES and the job files hold a full stop.
std::string withDecimalSeparator(std::string text, char separator);

// A real written with either separator, as VARIABLES and the job files may hold it; the error
// names the text as read with a comma.
long double readRealEitherSeparator(std::string_view text);

// A real in general decimal form with at most 15 significant digits, no trailing zeros and a
// full stop as the decimal separator whatever the process locale (123.4; 300; 1e+20).
std::string realText(long double value);

}  // namespace velkor
