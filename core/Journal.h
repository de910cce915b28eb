#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velkor {

// How much of the disk the journal may take: its day files together, and the free space it
// leaves to others.
struct JournalLimits {
    std::uintmax_t folderBytes = std::uintmax_t{1} << 30;  // 1 GiB
    std::uintmax_t freeBytes = std::uintmax_t{512} << 20;  // 512 MiB
};

// The event log on disk: every line the console adds to it, appended as it comes, one file a
// day (journal/2026-12-08.log under the start-up directory), Windows-1251 with CR LF, each
// line stamped to the millisecond. A line is written at once, so a crash of the program loses
// nothing; a thread of its own flushes the file to the disk right behind, so a power failure
// loses at most the last lines (the last one at the rate packets come). When a new day's file
// starts, only the newest `keepDays` day files are kept: a rule by count, so that a clock that
// runs ahead for a while (a bad RTC, an NTP step) cannot make recent days look old. A day file
// that is a symbolic link is never written through.
//
// A controller that streams or a line full of noise must not fill the disk: the day files
// together stay under a ceiling (the oldest days go first; when today's alone reaches it, the
// rest of the day is not written), nothing is written while the disk has less than a floor of
// free space, and a line that comes again and again is written once, followed by how many
// times it came (at the next other line, or after a minute of repeats).
class Journal {
  public:
    static constexpr int kKeepDays = 60;
    using Limits = JournalLimits;

    explicit Journal(std::string folder, int keepDays = kKeepDays, Limits limits = Limits());
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Appends the line. Returns a message for the window's log when the journal has just
    // stopped being writable (once, until a line goes in again); nothing otherwise.
    std::optional<std::string> append(
        const std::string& line,
        std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
    // What the ceiling and the floor are.
    const Limits& limits() const { return limits_; }

    const std::string& folder() const { return folder_; }

  private:
    using TimePoint = std::chrono::system_clock::time_point;

    // Writes the stamped lines, within the limits; throws when they cannot go in.
    void write(const std::string& line, TimePoint now);
    void writeRepeats();
    void openDay(const std::string& day);
    // The day files, oldest first.
    std::vector<std::filesystem::path> dayFiles() const;
    void removeOldDays();
    void makeRoomFor(std::uintmax_t bytes);
    void checkFreeSpace(std::uintmax_t bytes, TimePoint now);
    void flushLoop();

    std::string folder_;
    int keepDays_;
    Limits limits_;
    std::string day_;  // the day of the open file
    bool failing_ = false;
    std::uintmax_t folderBytes_ = 0;  // the day files together, as of the last write
    std::uintmax_t writtenSinceSpaceCheck_ = 0;
    std::optional<TimePoint> lastSpaceCheck_;
    bool shortOfSpace_ = false;
    std::string lastLine_;
    long repeats_ = 0;  // of lastLine_, not written yet
    TimePoint repeatsSince_{};
    TimePoint lastRepeat_{};

    std::mutex mutex_;  // guards fd_ and the flush state against the flushing thread
    std::condition_variable changed_;
    int fd_ = -1;
    bool unflushed_ = false;
    bool stopping_ = false;
    std::thread flusher_;
};

}  // namespace velkor
