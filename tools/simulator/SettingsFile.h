// Reading the settings file that SaveFlash stores, and replacing it; its text is made and read
// by formatSettingsFile and parseSettingsFile (ControllerModel.h).
#pragma once

#include <optional>
#include <string>

namespace velkor::simulator {

// The file's bytes; nothing when it cannot be opened.
std::optional<std::string> readWholeFile(const std::string& path);

// Replaces the settings file in one step, so that a crash never leaves half of one. Returns what
// went wrong, or empty text once the file is stored.
std::string writeSettingsFile(const std::string& path, const std::string& text);

}  // namespace velkor::simulator
