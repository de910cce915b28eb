#include "EventLog.h"

#include <cstdio>

#include "AtomicFile.h"
#include "Text.h"

namespace velkor {

void EventLog::append(std::string line) {
    shown_ += shownLineCount(line);
    lines_.push_back(std::move(line));
    if (observer_.appended) {
        observer_.appended(lines_.back());
    }
    if (shown_ <= limit_) {
        return;
    }
    while (lines_.size() > 1 && shown_ > limit_) {
        shown_ -= shownLineCount(lines_.front());
        lines_.pop_front();
        ++dropped_;
    }
    if (observer_.trimmed) {
        observer_.trimmed(notice());
    }
}

std::vector<std::string> EventLog::lines() const {
    std::vector<std::string> all;
    all.reserve(lines_.size() + 1);
    if (dropped_ > 0) {
        all.push_back(notice());
    }
    all.insert(all.end(), lines_.begin(), lines_.end());
    return all;
}

std::string EventLog::notice() const {
    return cp1251("(старые строки удалены из окна: ") + std::to_string(dropped_) +
           cp1251("; все строки есть в папке journal)");
}

void EventLog::clear() {
    lines_.clear();
    shown_ = 0;
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
    std::string path = startupDirectory + "/log/" + logFileName(moment) + ".log";
    std::string contents;
    for (const auto& line : lines) {
        contents += withCrLfBreaks(line);
        contents += "\r\n";
    }
    replaceFile(path, contents);
    return path;
}

}  // namespace velkor
