#include "EventLog.h"

#include <cstdio>

#include "AtomicFile.h"

namespace velkor {

void EventLog::append(std::string line) {
    lines_.push_back(std::move(line));
    if (observer_.appended) {
        observer_.appended(lines_.back());
    }
}

void EventLog::clear() {
    lines_.clear();
    if (observer_.cleared) {
        observer_.cleared();
    }
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
        contents += line;
        contents += "\r\n";
    }
    replaceFile(path, contents);
    return path;
}

}  // namespace velkor
