#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace velkor {

// The console's running record of what went to and came from the controller: 8-bit lines held
// only in memory. The main window shows it; export writes it to a file.
class EventLog {
  public:
    // Told of every change, so that a view can follow: the appended line, or a clear.
    struct Observer {
        std::function<void(const std::string& line)> appended;
        std::function<void()> cleared;
    };

    void setObserver(Observer observer) { observer_ = std::move(observer); }

    void append(std::string line);
    void clear();
    const std::vector<std::string>& lines() const { return lines_; }

  private:
    std::vector<std::string> lines_;
    Observer observer_;
};

// The export file's name for a moment: day-month-year_hourminute_second, as 31-12-2026_2359_59.
std::string logFileName(const std::tm& moment);

// Writes the lines, each ended by CR LF, to startupDirectory/log/<logFileName>.log, replacing a
// file of that name, and returns the path. The log folder is not created: when it is missing
// or the file cannot be written, throws "Cannot create file "<path>". <reason>" and writes
// nothing.
std::string exportEventLog(const std::vector<std::string>& lines,
                           const std::string& startupDirectory, const std::tm& moment);

}  // namespace velkor
