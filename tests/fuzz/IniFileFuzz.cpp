// Fuzzing target for the INI reader: the first bytes name a section and a key, the rest is the
// file. Reading any file either gives a value or nothing, never crashes; a value written into
// that file reads back, and every entry the file had under other keys reads as before.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "IniFile.h"
#include "VelkorError.h"

using velkor::fuzz::check;

namespace {

const std::string& scratchFile() {
    static const std::string path = "/tmp/velkor-ini-fuzz-" + std::to_string(::getpid()) + ".ini";
    return path;
}

// A name from the input: up to eight letters, digits or underscores, the first byte giving the
// length; short alphabets make "main" and "CNT" turn up.
std::string takeName(const std::uint8_t*& data, std::size_t& size) {
    static constexpr std::string_view kLetters = "MAINCNTmaint_01";
    std::string name;
    if (size == 0) {
        return "Main";
    }
    const std::size_t length = std::min<std::size_t>(data[0] % 8 + 1, size - 1);
    for (std::size_t i = 1; i <= length; ++i) {
        name += kLetters[data[i] % kLetters.size()];
    }
    data += length + 1;
    size -= length + 1;
    return name.empty() ? "Main" : name;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string section = takeName(data, size);
    const std::string key = takeName(data, size);
    std::ofstream(scratchFile(), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const velkor::IniFile file(scratchFile());
    std::optional<std::string> main;
    try {
        main = file.read("Main", "CNT");
        file.read(section, key);
    } catch (const velkor::VelkorError&) {
        return 0;  // names the reader refuses; nothing is written then
    }
    try {
        file.write(section, key, "1007");
    } catch (const velkor::VelkorError&) {
        return 0;
    }
    check(file.read(section, key) == std::optional<std::string>("1007"), "written value reads");
    if (!sameName(section, "Main") || !sameName(key, "CNT")) {
        check(file.read("Main", "CNT") == main, "other entries unchanged");
    }
    return 0;
}
