#include "Numbers.h"

#include <gtest/gtest.h>

#include <clocale>

#include "ErrorText.h"

namespace velkor {
namespace {

std::string integerError(const std::string& text) {
    return test::errorOf([&] { readInteger(text); });
}

std::string realError(const std::string& text) {
    return test::errorOf([&] { readReal(text); });
}

TEST(IntegerReading, DecimalWithSignAndLeadingBlanks) {
    EXPECT_EQ(readInteger("0050"), 50);
    EXPECT_EQ(readInteger("-163"), -163);
    EXPECT_EQ(readInteger("+7"), 7);
    EXPECT_EQ(readInteger("  12"), 12);
    EXPECT_EQ(readInteger("2147483647"), 2147483647);
    EXPECT_EQ(readInteger("-2147483648"), INT32_MIN);
}

// The production counter's reading: the same grammar, 64 bits wide.
TEST(IntegerReading, SixtyFourBitsForTheCounter) {
    EXPECT_EQ(readInteger64("2147483650"), 2147483650);
    EXPECT_EQ(readInteger64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(readInteger64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(test::errorOf([] { readInteger64("9223372036854775808"); }),
              "'9223372036854775808' is not a valid integer value");
    EXPECT_EQ(test::errorOf([] { readInteger64("99999999999999999999"); }),
              "'99999999999999999999' is not a valid integer value");
}

TEST(IntegerReading, HexadecimalAfterDollarXOrZeroX) {
    EXPECT_EQ(readInteger("$1F"), 31);
    EXPECT_EQ(readInteger("x10"), 16);
    EXPECT_EQ(readInteger("0x10"), 16);
    EXPECT_EQ(readInteger("0XfF"), 255);
    EXPECT_EQ(readInteger("$7FFFFFFF"), 2147483647);
    EXPECT_EQ(readInteger("-$80000000"), INT32_MIN);
    EXPECT_EQ(readInteger("-$10"), -16);
}

TEST(IntegerReading, RejectsEverythingElseWithTheConsoleMessage) {
    EXPECT_EQ(integerError("abc"), "'abc' is not a valid integer value");
    EXPECT_EQ(integerError(""), "'' is not a valid integer value");
    EXPECT_EQ(integerError("12 "), "'12 ' is not a valid integer value");
    EXPECT_EQ(integerError("12.5"), "'12.5' is not a valid integer value");
    EXPECT_EQ(integerError("2147483648"), "'2147483648' is not a valid integer value");
    EXPECT_EQ(integerError("$100000000"), "'$100000000' is not a valid integer value");
    EXPECT_EQ(integerError("$80000000"), "'$80000000' is not a valid integer value");
    EXPECT_EQ(integerError("$FFFFFFFF"), "'$FFFFFFFF' is not a valid integer value");
    EXPECT_EQ(integerError("-"), "'-' is not a valid integer value");
    EXPECT_EQ(integerError("0x"), "'0x' is not a valid integer value");
    EXPECT_EQ(integerError("99999999999999999999999"),
              "'99999999999999999999999' is not a valid integer value");
}

TEST(RealReading, CommaIsTheDecimalSeparator) {
    EXPECT_EQ(readReal("16,3"), 16.3L);
    EXPECT_EQ(readReal("-1,26"), -1.26L);
    EXPECT_EQ(readReal(" 300 "), 300.0L);
    EXPECT_EQ(readReal(",5"), 0.5L);
    EXPECT_EQ(readReal("5,"), 5.0L);
    EXPECT_EQ(readReal("1,5E2"), 150.0L);
    EXPECT_EQ(readReal("2e-1"), 0.2L);
}

TEST(RealReading, KeepsExtendedPrecision) {
    // 16,3 in 80-bit differs from 16.3 in 64-bit; products with it must use the former.
    EXPECT_NE(static_cast<long double>(16.3), readReal("16,3"));
}

TEST(RealReading, RejectsFullStopsUnitsAndOtherNotations) {
    EXPECT_EQ(realError("16.3"), "'16.3' is not a valid floating point value");
    EXPECT_EQ(realError("12,5mm"), "'12,5mm' is not a valid floating point value");
    EXPECT_EQ(realError(""), "'' is not a valid floating point value");
    EXPECT_EQ(realError("1,2,3"), "'1,2,3' is not a valid floating point value");
    EXPECT_EQ(realError("inf"), "'inf' is not a valid floating point value");
    EXPECT_EQ(realError("0x10"), "'0x10' is not a valid floating point value");
    EXPECT_EQ(realError("1E"), "'1E' is not a valid floating point value");
    EXPECT_EQ(realError("1E99999"), "'1E99999' is not a valid floating point value");
}

TEST(RealReading, DoesNotDependOnTheProcessLocale) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "ru_RU.UTF-8") == nullptr &&
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    EXPECT_EQ(readReal("16,3"), 16.3L);
    std::setlocale(LC_NUMERIC, previous.c_str());
}

}  // namespace
}  // namespace velkor
