#include "IniFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

#include "AtomicFile.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

struct Lines {
    bool utf8Mark = false;  // an editor put a byte order mark before the first line
    std::vector<std::string> lines;
};

// A missing file has no lines; one that is there but cannot be read is an error, so that
// nobody takes it for empty and writes it over. A symbolic link is such an error too.
Lines readLines(const std::string& path) {
    std::string contents;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno != ENOENT) {
        throw VelkorError("Cannot open file \"" + path + "\". " + fileErrorReason(errno));
    }
    if (fd >= 0) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                contents.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                const int error = errno;
                ::close(fd);
                throw VelkorError("Cannot read file \"" + path + "\". " + std::strerror(error));
            }
        }
        ::close(fd);
    }
    Lines file;
    file.utf8Mark = contents.starts_with(kUtf8Mark);
    std::istringstream in(file.utf8Mark ? contents.substr(kUtf8Mark.size()) : contents);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        file.lines.push_back(line);
    }
    return file;
}

// The section a line opens, or nothing when it is not a section line.
std::optional<std::string> sectionName(const std::string& line) {
    const std::string text = trimmed(line);
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') {
        return std::nullopt;
    }
    return trimmed(std::string_view(text).substr(1, text.size() - 2));
}

struct Entry {
    std::string key;
    std::string value;
};

std::optional<Entry> entryOf(const std::string& line) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) {
        return std::nullopt;
    }
    return Entry{trimmed(std::string_view(line).substr(0, equals)),
                 trimmed(std::string_view(line).substr(equals + 1))};
}

}  // namespace

std::optional<std::string> IniFile::read(std::string_view section, std::string_view key) const {
    bool inSection = false;
    for (const auto& line : readLines(path_).lines) {
        if (const auto name = sectionName(line)) {
            inSection = equalsIgnoringCase(*name, section);
        } else if (inSection) {
            const auto entry = entryOf(line);
            if (entry && equalsIgnoringCase(entry->key, key)) {
                return entry->value;
            }
        }
    }
    return std::nullopt;
}

void IniFile::write(std::string_view section, std::string_view key, std::string_view value) const {
    Lines file = readLines(path_);
    std::vector<std::string>& lines = file.lines;
    const std::string newEntry = std::string(key) + "=" + std::string(value);

    std::optional<std::size_t> sectionEnd;  // one past the last non-blank line of the section
    bool inSection = false;
    bool replaced = false;
    for (std::size_t i = 0; i < lines.size() && !replaced; ++i) {
        if (const auto name = sectionName(lines[i])) {
            inSection = equalsIgnoringCase(*name, section);
            if (inSection) {
                sectionEnd = i + 1;
            }
        } else if (inSection) {
            const auto entry = entryOf(lines[i]);
            if (entry && equalsIgnoringCase(entry->key, key)) {
                lines[i] = newEntry;
                replaced = true;
            } else if (!trimmed(lines[i]).empty()) {
                sectionEnd = i + 1;
            }
        }
    }
    if (!replaced) {
        if (sectionEnd) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*sectionEnd), newEntry);
        } else {
            lines.push_back("[" + std::string(section) + "]");
            lines.push_back(newEntry);
        }
    }

    std::string contents(file.utf8Mark ? kUtf8Mark : std::string_view());
    for (const auto& line : lines) {
        contents += line;
        contents += "\r\n";
    }
    replaceFile(path_, contents);
}

}  // namespace velkor
