#pragma once

#include <ctime>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace velkor {

// The console's running record of what went to and came from the controller: 8-bit lines held
// in memory (the journal keeps them on disk). The main window shows it; export writes it to a
// file. It keeps the newest lines, at most `limit` of them as the window shows them (a line
// with line breaks in it counts as several), so that a run of weeks keeps its memory; once
// older ones have gone, a notice line before them says how many.
class EventLog {
  public:
    static constexpr std::size_t kDefaultLimit = 100'000;

    // Told of every change, so that a view can follow: the appended line, a clear, and the
    // oldest lines going. A view that keeps as many lines as `limit` (its own oldest going as
    // new ones come) shows the same lines, and `notice` above them.
    struct Observer {
        std::function<void(const std::string& line)> appended;
        std::function<void()> cleared;
        std::function<void(const std::string& notice)> trimmed;
    };

    explicit EventLog(std::size_t limit = kDefaultLimit) : limit_(limit) {}

    void setObserver(Observer observer) { observer_ = std::move(observer); }

    void append(std::string line);
    void clear();
    // The notice (when lines have gone), then the lines kept.
    std::vector<std::string> lines() const;
    std::size_t limit() const { return limit_; }

  private:
    std::string notice() const;

    std::size_t limit_;
    std::size_t shown_ = 0;    // lines as a view shows them
    std::size_t dropped_ = 0;  // lines that went to keep the limit; the notice line says so
    std::deque<std::string> lines_;
    Observer observer_;
};

// The line breaks inside a line (a packet that holds some: LF, CR LF or a lone CR) as CR LF,
// as the window shows them as separate lines.
std::string withCrLfBreaks(const std::string& line);
// How many lines a view shows for the line: one more than its line breaks.
std::size_t shownLineCount(const std::string& line);

// The export file's name for a moment: day-month-year_hourminute_second, as 31-12-2026_2359_59.
std::string logFileName(const std::tm& moment);

// Writes the lines, each ended by CR LF, to startupDirectory/log/<logFileName>.log, replacing a
// file of that name, and returns the path. The log folder is not created: when it is missing
// or the file cannot be written, throws "Cannot create file "<path>". <reason>" and writes
// nothing.
std::string exportEventLog(const std::vector<std::string>& lines,
                           const std::string& startupDirectory, const std::tm& moment);

}  // namespace velkor
