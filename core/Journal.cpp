#include "Journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#include "AtomicFile.h"
#include "EventLog.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {
namespace {

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

Journal::Journal(std::string folder, int keepDays)
    : folder_(std::move(folder)), keepDays_(keepDays), flusher_([this] { flushLoop(); }) {}

Journal::~Journal() {
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

std::optional<std::string> Journal::append(const std::string& line,
                                           std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const std::string entry = stamped(line, now, local);
    try {
        const std::string day = dayOf(local);
        if (day != day_ || fd_ < 0) {
            openDay(day);
        }
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
        {
            std::lock_guard lock(mutex_);
            unflushed_ = true;
        }
        changed_.notify_one();
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
}

// Day files are named by their day ("2026-12-08.log"), so their names sort as the days do.
void Journal::removeOldDays() {
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
    if (days.size() <= static_cast<std::size_t>(keepDays_)) {
        return;
    }
    std::sort(days.begin(), days.end());
    days.resize(days.size() - static_cast<std::size_t>(keepDays_));
    for (const auto& old : days) {
        std::filesystem::remove(old, error);
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
