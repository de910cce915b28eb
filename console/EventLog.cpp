#include "EventLog.h"

#include <cstdio>

#include "AtomicFile.h"
#include "Text.h"

namespace velkor {

void EventLog::append(std::string line) {
    lines_.push_back(std::move(line));
    if (observer_.appended) {
        observer_.appended(lines_.back());
    }
    // The oldest lines go a tenth of the limit at a time, so that appending stays cheap.
    const std::size_t notice = dropped_ > 0 ? 1 : 0;
    if (lines_.size() - notice <= limit_ + limit_ / 10) {
        return;
    }
    const std::size_t removed = lines_.size() - notice - limit_;
    std::size_t shown = 0;
    for (std::size_t i = notice; i < notice + removed; ++i) {
        shown += shownLineCount(lines_[i]);
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(notice),
                 lines_.begin() + static_cast<std::ptrdiff_t>(notice + removed));
    dropped_ += removed;
    const std::string text = cp1251("(старые строки журнала окна удалены: ") +
                             std::to_string(dropped_) + cp1251("; все строки есть в journal/)");
    if (notice == 0) {
        lines_.insert(lines_.begin(), text);
    } else {
        lines_.front() = text;
    }
    if (observer_.trimmed) {
        observer_.trimmed(shown, notice == 0);
    }
}

void EventLog::clear() {
    lines_.clear();
    dropped_ = 0;
    if (observer_.cleared) {
        observer_.cleared();
    }
}

std::string withCrLfBreaks(const std::string& line) {
    std::string text;
    text.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r' || line[i] == '\n') {
            text += "\r\n";
            if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n') {
                ++i;
            }
        } else {
            text += line[i];
        }
    }
    return text;
}

std::size_t shownLineCount(const std::string& line) {
    std::size_t count = 1;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\n' || (line[i] == '\r' && (i + 1 == line.size() || line[i + 1] != '\n'))) {
            ++count;
        }
    }
    return count;
}

std::string logFileName(const std::tm& moment) {
    char name[64];
    std::snprintf(name, sizeof name, "%02d-%02d-%d_%02d%02d_%02d", moment.tm_mday,
                  moment.tm_mon + 1, moment.tm_year + 1900, moment.tm_hour, moment.tm_min,
                  moment.tm_sec);
    return name;
}

std::string exportEventLog(const std::vector<std::string>& lines,
                           const std::string& startupDirectory, const std::tm& moment) {
    const std::string path = startupDirectory + "/log/" + logFileName(moment) + ".log";
    std::string contents;
    for (const auto& line : lines) {
        contents += withCrLfBreaks(line);
        contents += "\r\n";
    }
    replaceFile(path, contents);
    return path;
}

}  // namespace velkor
