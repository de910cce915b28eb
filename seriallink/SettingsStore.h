#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "IniFile.h"
#include "RegistryFile.h"

namespace velkor {

// Where a port's settings are stored: named texts and integers under one INI section or
// registry key. The two kinds differ in what a missing value reads as.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    virtual void writeText(std::string_view name, std::string_view value) = 0;
    virtual void writeInteger(std::string_view name, std::int32_t value) = 0;
    // A missing value reads as `current` from an INI file and as empty text from the registry.
    virtual std::string readText(std::string_view name, std::string_view current) = 0;
    // A missing value reads as `current` from an INI file and fails from the registry.
    virtual std::int32_t readInteger(std::string_view name, std::int32_t current) = 0;
};

// An opened section of an INI file; integers are written in decimal.
class IniSection : public SettingsStore {
  public:
    IniSection(IniFile file, std::string section)
        : file_(std::move(file)), section_(std::move(section)) {}
    void writeText(std::string_view name, std::string_view value) override;
    void writeInteger(std::string_view name, std::int32_t value) override;
    std::string readText(std::string_view name, std::string_view current) override;
    std::int32_t readInteger(std::string_view name, std::int32_t current) override;

  private:
    IniFile file_;
    std::string section_;
};

// An opened key of the registry.
class RegistryKey : public SettingsStore {
  public:
    RegistryKey(RegistryFile registry, std::string key)
        : registry_(std::move(registry)), key_(std::move(key)) {}
    const std::string& path() const { return key_; }
    void writeText(std::string_view name, std::string_view value) override;
    void writeInteger(std::string_view name, std::int32_t value) override;
    std::string readText(std::string_view name, std::string_view current) override;
    std::int32_t readInteger(std::string_view name, std::int32_t current) override;

  private:
    RegistryFile registry_;
    std::string key_;
};

}  // namespace velkor
