#include "Numbers.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include <locale.h>

#include "VelkorError.h"

namespace velkor {
namespace {

[[noreturn]] void notAnInteger(std::string_view text) {
    throw VelkorError("'" + std::string(text) + "' is not a valid integer value");
}

[[noreturn]] void notAReal(std::string_view text) {
    throw VelkorError("'" + std::string(text) + "' is not a valid floating point value");
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

namespace {

// The integer reading of readInteger, for integers of `bits` bits: hexadecimal up to bits / 4
// digits, every value within the signed range of that width.
std::int64_t readWholeNumber(std::string_view text, int bits) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == text.size()) {
        notAnInteger(text);
    }
    const std::uint64_t largest = std::uint64_t{1} << (bits - 1);  // the magnitude of the minimum
    const std::uint64_t base = hex ? 16 : 10;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = hex ? hexValue(text[i]) : (isDigit(text[i]) ? text[i] - '0' : -1);
        if (digit < 0 || value > (largest - static_cast<std::uint64_t>(digit)) / base) {
            notAnInteger(text);
        }
        value = value * base + static_cast<std::uint64_t>(digit);
    }
    // Hexadecimal is a number like any other: $80000000 and $FFFFFFFF are out of range, never
    // wrapped to negative values.
    if (value > (negative ? largest : largest - 1)) {
        notAnInteger(text);
    }
    return negative ? static_cast<std::int64_t>(0 - value) : static_cast<std::int64_t>(value);
}

}  // namespace

std::int32_t readInteger(std::string_view text) {
    return static_cast<std::int32_t>(readWholeNumber(text, 32));
}

std::int64_t readInteger64(std::string_view text) {
    return readWholeNumber(text, 64);
}

bool fitsControllerInteger(long double value) {
    return std::isfinite(value) && value >= INT32_MIN && value <= INT32_MAX;
}

long double readReal(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && text[begin] == ' ') {
        ++begin;
    }
    while (end > begin && text[end - 1] == ' ') {
        --end;
    }
    // Check the grammar here and hand strtold a C-locale copy, so that neither the process
    // locale nor strtold's extras (hex floats, "inf", "nan") can change what is accepted.
    std::string plain;
    std::size_t i = begin;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
        plain += text[i++];
    }
    std::size_t digits = 0;
    bool separatorSeen = false;
    for (; i < end; ++i) {
        if (isDigit(text[i])) {
            ++digits;
            plain += text[i];
        } else if (text[i] == ',' && !separatorSeen) {
            separatorSeen = true;
            plain += '.';
        } else {
            break;
        }
    }
    if (digits == 0) {
        notAReal(text);
    }
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-')) {
            plain += text[i++];
        }
        std::size_t exponentDigits = 0;
        for (; i < end && isDigit(text[i]); ++i) {
            plain += text[i];
            ++exponentDigits;
        }
        if (exponentDigits == 0) {
            notAReal(text);
        }
    }
    if (i != end) {
        notAReal(text);
    }
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    errno = 0;
    const long double value = strtold_l(plain.c_str(), nullptr, cLocale);
    if (errno == ERANGE && std::isinf(value)) {
        notAReal(text);
    }
    return value;
}

std::string withDecimalSeparator(std::string text, char separator) {
    const char other = separator == ',' ? '.' : ',';
    std::replace(text.begin(), text.end(), other, separator);
    return text;
}

long double readRealEitherSeparator(std::string_view text) {
    return readReal(withDecimalSeparator(std::string(text), ','));
}

std::string realText(long double value) {
    char text[64];
    const auto written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
    std::string result(text, written.ptr);
    return result == "-0" ? "0" : result;
}

}  // namespace velkor
