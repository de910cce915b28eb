#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

namespace velkor {

// Removes every character whose code is 32 or less from both ends. Bytes are compared unsigned,
// so Cyrillic letters (0xC0 and up in Windows-1251) are never taken for control characters.
std::string trimmed(std::string_view text);

// Windows-1251 <-> UTF-8. Every byte decodes (0x98, unused in the code page, maps to U+0098 so
// that a round trip keeps it); characters outside the code page encode as '?'.
std::string cp1251ToUtf8(std::string_view cp1251);
std::string utf8ToCp1251(std::string_view utf8);
// The Windows-1251 text of valid UTF-8 whose every character the code page has; nothing
// otherwise (a malformed or overlong sequence, a character outside the code page).
std::optional<std::string> utf8ToCp1251Exactly(std::string_view utf8);
// True when the text is valid UTF-8 (as glibc's decoder, which refuses overlong forms, has it).
bool isValidUtf8(std::string_view text);

// The only crossings between the console's 8-bit texts and Qt's Unicode strings.
QString fromCp1251(std::string_view cp1251);
std::string toCp1251(const QString& text);

// Russian literals are written in UTF-8 in the source; this gives their Windows-1251 bytes.
inline std::string cp1251(std::string_view utf8Literal) {
    return utf8ToCp1251(utf8Literal);
}

// The text in double quotes, a quote inside it doubled: as SQL quotes an identifier and CSV a
// field.
std::string doubleQuoted(std::string_view text);

// Case folding for ASCII and the Cyrillic letters of Windows-1251, for names compared without
// regard to case (INI sections and keys).
bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace velkor
