#include "Journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#include "AtomicFile.h"
#include "EventLog.h"
#include "Logging.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {
namespace {

// A line that keeps coming is counted for at most this long before it is written again.
constexpr auto kRepeatWindow = std::chrono::minutes(1);

std::string sizeText(std::uintmax_t bytes) {
    return bytes >= (std::uintmax_t{1} << 20) ? std::to_string(bytes >> 20) + cp1251(" МБ")
                                              : std::to_string(bytes >> 10) + cp1251(" КБ");
}

std::string dayOf(const std::tm& local) {
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

// "2026-12-08 07:58:01.123 " before every line of the entry.
std::string stamped(const std::string& line, std::chrono::system_clock::time_point now,
                    const std::tm& local) {
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    char prefix[40];
    std::snprintf(prefix, sizeof prefix, "%s.%03d ", stamp, static_cast<int>(millis.count()));
    std::string entry = prefix;
    const std::string text = withCrLfBreaks(line);
    for (std::size_t from = 0;;) {
        const auto end = text.find("\r\n", from);
        entry += text.substr(from, end == std::string::npos ? std::string::npos : end - from);
        entry += "\r\n";
        if (end == std::string::npos) {
            break;
        }
        entry += prefix;
        from = end + 2;
    }
    return entry;
}

}  // namespace

Journal::Journal(std::string folder, int keepDays, Limits limits)
    : folder_(std::move(folder)),
      keepDays_(keepDays),
      limits_(limits),
      flusher_([this] { flushLoop(); }) {}

Journal::~Journal() {
    try {
        writeRepeats();
    } catch (const std::exception& error) {
        qCWarning(lcConsole, "the journal's last count of repeats was not written: %s",
                  cp1251ToUtf8(error.what()).c_str());
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    flusher_.join();
    if (fd_ >= 0) {
        ::fdatasync(fd_);
        ::close(fd_);
    }
}

std::optional<std::string> Journal::append(const std::string& line, TimePoint now) {
    try {
        if (line == lastLine_ && now >= repeatsSince_ && now - repeatsSince_ < kRepeatWindow) {
            ++repeats_;
            lastRepeat_ = now;
            return std::nullopt;
        }
        writeRepeats();
        write(line, now);
        lastLine_ = line;
        repeatsSince_ = now;
        failing_ = false;
        return std::nullopt;
    } catch (const std::exception& error) {
        if (failing_) {
            return std::nullopt;
        }
        failing_ = true;
        return cp1251("Журнал не записывается (") + utf8ToCp1251(folder_) + "): " + error.what();
    }
}

void Journal::writeRepeats() {
    if (repeats_ > 0) {
        write(cp1251("(строка выше повторилась ещё раз: ") + std::to_string(repeats_) + ")",
              lastRepeat_);
        repeats_ = 0;
    }
}

void Journal::write(const std::string& line, TimePoint now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const std::string entry = stamped(line, now, local);
    if (const std::string day = dayOf(local); day != day_ || fd_ < 0) {
        openDay(day);
    }
    makeRoomFor(entry.size());
    checkFreeSpace(entry.size(), now);
    std::size_t written = 0;
    while (written < entry.size()) {
        const ssize_t n = ::write(fd_, entry.data() + written, entry.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw VelkorError(std::strerror(n < 0 ? errno : EIO));
        }
        written += static_cast<std::size_t>(n);
    }
    folderBytes_ += written;
    writtenSinceSpaceCheck_ += written;
    {
        std::lock_guard lock(mutex_);
        unflushed_ = true;
    }
    changed_.notify_one();
}

void Journal::openDay(const std::string& day) {
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    const std::string path = folder_ + "/" + day + ".log";
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        throw VelkorError(fileErrorReason(errno) + ": " + path);
    }
    {
        std::lock_guard lock(mutex_);
        if (fd_ >= 0) {
            ::fdatasync(fd_);
            ::close(fd_);
        }
        fd_ = fd;
    }
    if (day != day_) {
        day_ = day;
        removeOldDays();
    }
    folderBytes_ = 0;
    for (const auto& file : dayFiles()) {
        folderBytes_ += std::filesystem::file_size(file, error);
    }
}

// Day files are named by their day ("2026-12-08.log"), so their names sort as the days do.
std::vector<std::filesystem::path> Journal::dayFiles() const {
    std::vector<std::filesystem::path> days;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
        const std::string name = entry.path().filename().string();
        std::tm parsed{};
        const char* end = ::strptime(name.c_str(), "%Y-%m-%d", &parsed);
        if (name.size() == 14 && end != nullptr && std::string_view(end) == ".log") {
            days.push_back(entry.path());
        }
    }
    std::sort(days.begin(), days.end());
    return days;
}

void Journal::removeOldDays() {
    std::vector<std::filesystem::path> days = dayFiles();
    if (days.size() <= static_cast<std::size_t>(keepDays_)) {
        return;
    }
    days.resize(days.size() - static_cast<std::size_t>(keepDays_));
    std::error_code error;
    for (const auto& old : days) {
        std::filesystem::remove(old, error);
    }
}

// Days other than today's go, oldest first, until `bytes` more fit under the ceiling.
void Journal::makeRoomFor(std::uintmax_t bytes) {
    if (folderBytes_ + bytes <= limits_.folderBytes) {
        return;
    }
    const std::string today = day_ + ".log";
    for (const auto& old : dayFiles()) {
        if (folderBytes_ + bytes <= limits_.folderBytes) {
            return;
        }
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(old, error);
        if (old.filename() != today && !error && std::filesystem::remove(old, error)) {
            folderBytes_ -= std::min(size, folderBytes_);
        }
    }
    if (folderBytes_ + bytes > limits_.folderBytes) {
        throw VelkorError(cp1251("день занял всё место журнала (") + sizeText(limits_.folderBytes) +
                          cp1251("), до следующего дня строки не записываются"));
    }
}

// The disk's free space is asked for after every MiB written, and about once a second while
// it is short.
void Journal::checkFreeSpace(std::uintmax_t bytes, TimePoint now) {
    constexpr std::uintmax_t kCheckEvery = std::uintmax_t{1} << 20;
    const bool due = !lastSpaceCheck_ || writtenSinceSpaceCheck_ + bytes >= kCheckEvery ||
                     (shortOfSpace_ && (now < *lastSpaceCheck_ ||
                                        now - *lastSpaceCheck_ >= std::chrono::seconds(1)));
    if (due) {
        struct statvfs disk {};
        if (::statvfs(folder_.c_str(), &disk) == 0) {
            const std::uintmax_t available =
                static_cast<std::uintmax_t>(disk.f_bavail) * disk.f_frsize;
            shortOfSpace_ = available < limits_.freeBytes + bytes;
        }
        lastSpaceCheck_ = now;
        writtenSinceSpaceCheck_ = 0;
    }
    if (shortOfSpace_) {
        throw VelkorError(cp1251("на диске меньше ") + sizeText(limits_.freeBytes) +
                          cp1251(" свободного места, их журнал оставляет другим"));
    }
}

void Journal::flushLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return unflushed_ || stopping_; });
        if (stopping_) {
            return;
        }
        unflushed_ = false;
        const int fd = ::dup(fd_);
        lock.unlock();
        if (fd >= 0) {
            ::fdatasync(fd);
            ::close(fd);
        }
        lock.lock();
    }
}

}  // namespace velkor
