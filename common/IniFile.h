#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velkor {

// A Windows-style INI file of 8-bit text: "[Section]" lines and "key=value" lines. Section and
// key names compare without regard to case; every other line (comments, blank lines, unknown
// entries) is kept as it is when the file is rewritten, and so is a UTF-8 byte order mark that
// an editor put before the first line. Each call opens the file, does one read
// or one write and closes it again, so two windows or programs never hold stale copies.
class IniFile {
  public:
    explicit IniFile(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    // The value of the entry, blanks around it removed; nothing when the file, the section or
    // the key is missing. A file that is there but cannot be read, or is a symbolic link,
    // raises an error naming it (so does write, instead of replacing it).
    std::optional<std::string> read(std::string_view section, std::string_view key) const;

    // Sets the entry, adding the section and the key when they are missing and creating the
    // file when there is none. The file is replaced atomically (see replaceFile).
    void write(std::string_view section, std::string_view key, std::string_view value) const;

  private:
    std::string path_;
};

}  // namespace velkor
