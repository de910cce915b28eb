#include "Text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

namespace velkor {
namespace {

TEST(Trimming, RemovesBlanksAndControlCharactersButNotCyrillicBytes) {
    EXPECT_EQ(trimmed(" \t\r\n\x01SH_S\x1f "), "SH_S");
    EXPECT_EQ(trimmed("   "), "");
    EXPECT_EQ(trimmed(""), "");
    // 0xC0 (А) and 0xFF (я) are letters: a signed comparison would take them for control codes.
    EXPECT_EQ(trimmed("\xC0 x \xFF"), "\xC0 x \xFF");
    EXPECT_EQ(trimmed(" a b "), "a b");
}

std::string iconvConvert(const char* from, const char* to, const std::string& input) {
    iconv_t converter = iconv_open(to, from);
    EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1));
    std::string out(input.size() * 4, '\0');
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    EXPECT_NE(iconv(converter, &in, &inLeft, &outPtr, &outLeft), static_cast<std::size_t>(-1));
    iconv_close(converter);
    out.resize(out.size() - outLeft);
    return out;
}

TEST(CodePage, EveryByteDecodesAsGlibcDecodesIt) {
    for (int byte = 1; byte < 256; ++byte) {
        if (byte == 0x98) {
            continue;  // unassigned in Windows-1251; glibc refuses it
        }
        const std::string one(1, static_cast<char>(byte));
        EXPECT_EQ(cp1251ToUtf8(one), iconvConvert("CP1251", "UTF-8", one)) << "byte " << byte;
        EXPECT_EQ(utf8ToCp1251(cp1251ToUtf8(one)), one) << "byte " << byte;
        EXPECT_EQ(toCp1251(fromCp1251(one)), one) << "byte " << byte;
    }
}

TEST(CodePage, UnassignedByteSurvivesARoundTripAndForeignCharactersBecomeQuestionMarks) {
    EXPECT_EQ(toCp1251(fromCp1251("\x98")), "\x98");
    EXPECT_EQ(utf8ToCp1251("日本"), "??");
    EXPECT_EQ(cp1251("Белый"), "\xC1\xE5\xEB\xFB\xE9");
}

// Malformed, overlong and surrogate sequences are no characters: glibc's decoder refuses them.
TEST(CodePage, OnlyWellFormedUtf8DecodesAsCharacters) {
    EXPECT_EQ(utf8ToCp1251("\xC0\xAF"), "??");  // an overlong "/"
    EXPECT_EQ(utf8ToCp1251("a\xED\xA0\x80"
                           "b"),
              "a???b");                    // a surrogate
    EXPECT_EQ(utf8ToCp1251("\xD0"), "?");  // cut short
    EXPECT_FALSE(isValidUtf8("\xE0\x80\xAF"));
    EXPECT_TRUE(isValidUtf8("пароль"));
    EXPECT_EQ(utf8ToCp1251Exactly("пароль?"), cp1251("пароль?"));
    EXPECT_EQ(utf8ToCp1251Exactly("日本"), std::nullopt);
    EXPECT_EQ(utf8ToCp1251Exactly("\xC0\xAF"), std::nullopt);
}

TEST(CaseFolding, ComparesLatinAndCyrillicLettersWithoutCase) {
    EXPECT_TRUE(equalsIgnoringCase("Main", "MAIN"));
    EXPECT_TRUE(equalsIgnoringCase(cp1251("Ёлка"), cp1251("ёЛКА")));
    EXPECT_FALSE(equalsIgnoringCase("CNT", "CNT2"));
    EXPECT_FALSE(equalsIgnoringCase("[", "{"));
}

}  // namespace
}  // namespace velkor
