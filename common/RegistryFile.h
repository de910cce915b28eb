#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velkor {

// The stand-in for the Windows registry: typed values (texts and 32-bit integers, kept apart)
// under keys named by their registry paths, in one INI file whose sections are the keys. Texts
// are quoted, integers written as the registry editor exports them:
//
//   [HKEY_LOCAL_MACHINE\Software\Tavor\ComPort]
//   Port="COM3"
//   CustomBaudRate=dword:00002580
//
// Key and value names compare without regard to case. Every write replaces the file atomically.
class RegistryFile {
  public:
    explicit RegistryFile(std::string path = defaultPath());

    // $XDG_CONFIG_HOME/velkor/registry.ini, or ~/.config/velkor/registry.ini.
    static std::string defaultPath();
    const std::string& path() const { return path_; }

    // Sets a value, creating the key and the file when missing; throws when the file cannot be
    // written.
    void writeText(std::string_view key, std::string_view name, std::string_view value) const;
    void writeInteger(std::string_view key, std::string_view name, std::int32_t value) const;

    // A value of that type; nothing when the key or the value is missing or has the other type.
    std::optional<std::string> readText(std::string_view key, std::string_view name) const;
    std::optional<std::int32_t> readInteger(std::string_view key, std::string_view name) const;

  private:
    void write(std::string_view key, std::string_view name, const std::string& data) const;
    std::optional<std::string> read(std::string_view key, std::string_view name) const;

    std::string path_;
};

}  // namespace velkor
