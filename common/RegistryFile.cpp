#include "RegistryFile.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "IniFile.h"

namespace velkor {
namespace {

constexpr std::string_view kIntegerPrefix = "dword:";

// A text value in quotes; backslash, quote and control characters escaped.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 32) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

int hexDigit(char c) {
    const auto value =
        std::string_view("0123456789abcdef").find(static_cast<char>(std::tolower(c)));
    return value == std::string_view::npos ? -1 : static_cast<int>(value);
}

// The text of a whole quoted value; nothing when the value is not one.
std::optional<std::string> unquoted(std::string_view text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
        } else if (i + 2 < text.size() && text[i + 1] != 'x') {
            out += text[++i];
        } else if (i + 4 < text.size() && hexDigit(text[i + 2]) >= 0 &&
                   hexDigit(text[i + 3]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 2]) * 16 + hexDigit(text[i + 3]));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

}  // namespace

RegistryFile::RegistryFile(std::string path) : path_(std::move(path)) {}

std::string RegistryFile::defaultPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string folder = config != nullptr && *config != '\0'
                                   ? config
                                   : std::string(home != nullptr ? home : ".") + "/.config";
    return folder + "/velkor/registry.ini";
}

void RegistryFile::writeText(std::string_view key, std::string_view name,
                             std::string_view value) const {
    write(key, name, quoted(value));
}

void RegistryFile::writeInteger(std::string_view key, std::string_view name,
                                std::int32_t value) const {
    char data[32];
    std::snprintf(data, sizeof data, "%s%08x", kIntegerPrefix.data(),
                  static_cast<std::uint32_t>(value));
    write(key, name, data);
}

std::optional<std::string> RegistryFile::readText(std::string_view key,
                                                  std::string_view name) const {
    const auto data = read(key, name);
    return data ? unquoted(*data) : std::nullopt;
}

std::optional<std::int32_t> RegistryFile::readInteger(std::string_view key,
                                                      std::string_view name) const {
    const auto data = read(key, name);
    if (!data || !data->starts_with(kIntegerPrefix) || data->size() != kIntegerPrefix.size() + 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : data->substr(kIntegerPrefix.size())) {
        if (hexDigit(c) < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<std::uint32_t>(hexDigit(c));
    }
    return static_cast<std::int32_t>(value);
}

std::optional<std::string> RegistryFile::read(std::string_view key, std::string_view name) const {
    return IniFile(path_).read(key, name);
}

void RegistryFile::write(std::string_view key, std::string_view name,
                         const std::string& data) const {
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
    IniFile(path_).write(key, name, data);
}

}  // namespace velkor
