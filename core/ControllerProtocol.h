#pragma once

#include <string>
#include <string_view>

namespace velkor {

// What goes over the line to the machine's controller and how its replies read.
//
// A command is a command word immediately followed by its argument: no blank, no "=", no
// terminator, no framing. Lengths travel as impulse texts: millimetres times the impulses per
// millimetre, multiplied in extended precision and truncated toward zero (12.9 gives 12, -12.9
// gives -12), written as a whole decimal number.

std::string impulseText(long double millimetres, long double impulsesPerMillimetre);

// A length typed as text (trimmed, decimal comma) as an impulse text; throws the conversion
// error "'<text>' is not a valid floating point value" when the text is not a number.
std::string impulseTextOf(std::string_view lengthText, long double impulsesPerMillimetre);

// A real in general form as the windows show it: at most 15 significant digits, a decimal
// comma, no trailing zeros (16,3; 300; -0,04).
std::string generalText(long double value);

// A real as the windows show it: rounded to the fifteen significant digits of its general form.
long double shownValue(long double value);

// The command "word" + argument.
inline std::string command(std::string_view word, std::string_view argument = {}) {
    return std::string(word) + std::string(argument);
}

// A packet is a state report when its trimmed text begins with "GET_ALL".
bool isStateReport(std::string_view packet);

// The reply a command is compared with: the packet with every "=" and ";" removed, so that
// SH_S=1234; acknowledges SH_S1234.
std::string replyText(std::string_view packet);

}  // namespace velkor
