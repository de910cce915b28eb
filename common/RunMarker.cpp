#include "RunMarker.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "AtomicFile.h"

namespace velkor {
namespace {

// A marker holds one short line; a file in its place that is larger (or never ends, such as a
// device) is read no further than this.
constexpr std::size_t kLongestMarker = 200;

// The first line of what the marker says, at most kLongestMarker bytes of it.
std::string markerText(int fd) {
    char buffer[kLongestMarker];
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
    std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    return text.substr(0, text.find_first_of("\r\n"));
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

RunMarker::~RunMarker() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::optional<std::string> RunMarker::claim(const std::string& startedAt) {
    auto refuse = [this](int error) {
        throw VelkorError("Cannot create file \"" + path_ + "\". " + fileErrorReason(error));
    };
    for (;;) {
        // Another operator account's marker can be locked, though not rewritten, through a
        // descriptor for reading.
        bool writable = true;
        int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EACCES) {
            writable = false;
            fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd < 0) {
            refuse(errno);
        }
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            throw VelkorError("\"" + path_ + "\" is no regular file");
        }
        const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        const int lockError = errno;
        // The marker may have gone (a clean end) or been made anew since it was opened: only
        // the file that the path names now counts.
        struct stat named {};
        if (::lstat(path_.c_str(), &named) != 0 || !sameFile(opened, named)) {
            ::close(fd);
            continue;
        }
        if (!locked) {
            const std::string holder = markerText(fd);
            ::close(fd);
            if (lockError == EWOULDBLOCK) {
                throw Held(holder);
            }
            refuse(lockError);
        }
        std::optional<std::string> earlier;
        if (opened.st_size > 0) {
            earlier = markerText(fd);
        }
        if (writable) {
            const std::string line = startedAt + "\n";
            if (::pwrite(fd, line.data(), line.size(), 0) != static_cast<ssize_t>(line.size()) ||
                ::ftruncate(fd, static_cast<off_t>(line.size())) != 0) {
                const int error = errno;
                ::close(fd);
                refuse(error);
            }
        }
        fd_ = fd;
        return earlier;
    }
}

void RunMarker::release() {
    if (fd_ < 0) {
        return;
    }
    ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
}

}  // namespace velkor
