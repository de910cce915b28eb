#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace velkor {

// The event log on disk: every line the console adds to it, appended as it comes, one file a
// day (journal/2026-12-08.log under the start-up directory), Windows-1251 with CR LF, each
// line stamped to the millisecond. A line is written at once, so a crash of the program loses
// nothing; a thread of its own flushes the file to the disk right behind, so a power failure
// loses at most the last lines (the last one at the rate packets come). When a new day's file
// starts, only the newest `keepDays` day files are kept: a rule by count, so that a clock that
// runs ahead for a while (a bad RTC, an NTP step) cannot make recent days look old. A day file
// that is a symbolic link is never written through.
class Journal {
  public:
    static constexpr int kKeepDays = 60;

    explicit Journal(std::string folder, int keepDays = kKeepDays);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Appends the line. Returns a message for the window's log when the journal has just
    // stopped being writable (once, until a line goes in again); nothing otherwise.
    std::optional<std::string> append(
        const std::string& line,
        std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

    const std::string& folder() const { return folder_; }

  private:
    void openDay(const std::string& day);
    void removeOldDays();
    void flushLoop();

    std::string folder_;
    int keepDays_;
    std::string day_;  // the day of the open file
    bool failing_ = false;

    std::mutex mutex_;  // guards fd_ and the flush state against the flushing thread
    std::condition_variable changed_;
    int fd_ = -1;
    bool unflushed_ = false;
    bool stopping_ = false;
    std::thread flusher_;
};

}  // namespace velkor
