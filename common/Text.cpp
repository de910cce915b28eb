#include "Text.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

namespace velkor {
namespace {

// Code points of Windows-1251 bytes 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F in order.
constexpr std::array<char16_t, 64> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 0x88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 0x98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // 0xA0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // 0xA8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // 0xB0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // 0xB8
};

char32_t decodeByte(unsigned char byte) {
    if (byte < 0x80) {
        return byte;
    }
    if (byte >= 0xC0) {
        return 0x0410 + (byte - 0xC0);
    }
    return kHighHalf[byte - 0x80];
}

char encodeCodePoint(char32_t cp) {
    if (cp < 0x80) {
        return static_cast<char>(cp);
    }
    if (cp >= 0x0410 && cp <= 0x044F) {
        return static_cast<char>(0xC0 + (cp - 0x0410));
    }
    for (std::size_t i = 0; i < kHighHalf.size(); ++i) {
        if (kHighHalf[i] == cp) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes UTF-8 with glibc's decoder, which refuses malformed, overlong and surrogate
// sequences: `take` gets each code point, or nothing for each byte that starts no valid one.
template <typename Take>
void decodeUtf8(std::string_view utf8, Take take) {
    struct Decoder {
        iconv_t handle = iconv_open("UTF-32LE", "UTF-8");
        bool opened() const { return reinterpret_cast<std::intptr_t>(handle) != -1; }
        ~Decoder() {
            if (opened()) {
                iconv_close(handle);
            }
        }
    };
    thread_local const Decoder decoderOfThisThread;
    if (!decoderOfThisThread.opened()) {
        throw std::runtime_error("glibc has no UTF-8 decoder");
    }
    iconv_t decoder = decoderOfThisThread.handle;
    std::vector<char32_t> decoded(utf8.size());
    std::size_t from = 0;
    while (from < utf8.size()) {
        char* in = const_cast<char*>(utf8.data() + from);
        std::size_t inLeft = utf8.size() - from;
        char* out = reinterpret_cast<char*>(decoded.data());
        std::size_t outLeft = decoded.size() * sizeof(char32_t);
        iconv(decoder, nullptr, nullptr, nullptr, nullptr);  // a fresh start after a bad byte
        const bool complete =
            iconv(decoder, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1);
        const std::size_t count = (decoded.size() * sizeof(char32_t) - outLeft) / sizeof(char32_t);
        for (std::size_t i = 0; i < count; ++i) {
            take(std::optional<char32_t>(decoded[i]));
        }
        from = utf8.size() - inLeft;
        if (!complete) {
            take(std::nullopt);  // a byte that starts no valid sequence (or one cut short)
            ++from;
        }
    }
}

unsigned char foldCase(unsigned char c) {
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 'A';
    }
    if (c >= 0xE0) {  // а..я -> А..Я
        return c - 0x20;
    }
    if (c == 0xB8) {  // ё -> Ё
        return 0xA8;
    }
    return c;
}

}  // namespace

std::string trimmed(std::string_view text) {
    auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return std::string(text.substr(begin, end - begin));
}

std::string cp1251ToUtf8(std::string_view cp1251) {
    std::string out;
    out.reserve(cp1251.size() * 2);
    for (char c : cp1251) {
        appendUtf8(out, decodeByte(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string utf8ToCp1251(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    decodeUtf8(utf8, [&](std::optional<char32_t> cp) { out += cp ? encodeCodePoint(*cp) : '?'; });
    return out;
}

std::optional<std::string> utf8ToCp1251Exactly(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    bool exact = true;
    decodeUtf8(utf8, [&](std::optional<char32_t> cp) {
        const char byte = cp ? encodeCodePoint(*cp) : '?';
        exact = exact && (byte != '?' || cp == U'?');
        out += byte;
    });
    return exact ? std::optional<std::string>(std::move(out)) : std::nullopt;
}

bool isValidUtf8(std::string_view text) {
    bool valid = true;
    decodeUtf8(text, [&](std::optional<char32_t> cp) { valid = valid && cp.has_value(); });
    return valid;
}

QString fromCp1251(std::string_view cp1251) {
    QString out;
    out.reserve(static_cast<qsizetype>(cp1251.size()));
    for (char c : cp1251) {
        out += QChar(static_cast<char16_t>(decodeByte(static_cast<unsigned char>(c))));
    }
    return out;
}

std::string toCp1251(const QString& text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (QChar ch : text) {
        out += encodeCodePoint(ch.unicode());
    }
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldCase(static_cast<unsigned char>(a[i])) !=
            foldCase(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string doubleQuoted(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

}  // namespace velkor
