#include "LineLink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

#include "LineText.h"
#include "SystemError.h"

namespace velkor::simulator {

Link::Link(const std::optional<std::string>& path, const std::string& target, Log& log) {
    if (!path) {
        return;
    }
    struct stat existing {};
    if (::lstat(path->c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            throw std::runtime_error(*path + " exists and is not a symbolic link");
        }
        log.info("replacing the old link " + escapeBytes(*path));
    }
    const std::string temporary = *path + ".new" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        throw std::runtime_error(systemError("cannot make the link " + temporary));
    }
    if (::rename(temporary.c_str(), path->c_str()) != 0) {
        const std::string error = systemError("cannot make the link " + *path);
        ::unlink(temporary.c_str());
        throw std::runtime_error(error);
    }
    path_ = *path;
    target_ = target;
}

Link::~Link() {
    if (path_.empty()) {
        return;
    }
    char pointsTo[4096] = {};
    const ssize_t length = ::readlink(path_.c_str(), pointsTo, sizeof pointsTo - 1);
    if (length >= 0 && std::string_view(pointsTo, static_cast<std::size_t>(length)) == target_) {
        ::unlink(path_.c_str());
    }
}

}  // namespace velkor::simulator
