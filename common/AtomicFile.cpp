#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "VelkorError.h"

namespace velkor {
namespace {

[[noreturn]] void cannotCreate(const std::string& path, int error) {
    throw VelkorError("Cannot create file \"" + path + "\". " + fileErrorReason(error));
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The mode a new file gets from the process's umask, as creat() would give it (mkstemp's own
// 0600 would shut out the other operator accounts of a shared start-up directory).
mode_t newFileMode() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<mode_t>(0666 & ~std::stoul(line.substr(6), nullptr, 8));
        }
    }
    return 0644;
}

// The temporary files of `path`: its name, ".", six more characters (mkstemp's pattern).
bool isTemporaryOf(const std::string& name, const std::string& base) {
    return name.size() == base.size() + 7 && name.compare(0, base.size(), base) == 0 &&
           name[base.size()] == '.' &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(base.size()) + 1, name.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

}  // namespace

std::string fileErrorReason(int error) {
    return error == ELOOP ? "It is a symbolic link, which the console does not follow"
                          : std::strerror(error);
}

void replaceFile(const std::string& path, std::string_view contents,
                 const std::function<void()>& beforeRename) {
    struct stat old {};
    const bool replacing = ::lstat(path.c_str(), &old) == 0;
    if (replacing && S_ISLNK(old.st_mode)) {
        cannotCreate(path, ELOOP);
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        cannotCreate(path, errno);
    }
    auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temporary.c_str());
        cannotCreate(path, error);
    };
    std::size_t written = 0;
    while (written < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
        }
        written += static_cast<std::size_t>(n);
    }
    // The new file takes the old one's place with its owner and permissions (an owner this
    // account may not give away stays as far as the system allows: group and mode).
    if (replacing) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            [[maybe_unused]] const int ignored = ::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        }
        if (::fchmod(fd, old.st_mode & 07777) != 0) {
            fail(errno);
        }
    } else if (::fchmod(fd, newFileMode()) != 0) {
        fail(errno);
    }
    if (::fsync(fd) != 0) {
        fail(errno);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        cannotCreate(path, error);
    }
    if (beforeRename) {
        beforeRename();
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        cannotCreate(path, error);
    }
    // The rename itself lives in the folder; flush it too so that it survives a power failure.
    // The new contents are in place already, so a folder that cannot be flushed is no error.
    const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

int removeLeftoverTemporaries(const std::string& path) {
    const std::string folder = folderOf(path);
    const std::string base = path.substr(path.rfind('/') + 1);
    int removed = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (isTemporaryOf(entry.path().filename().string(), base) &&
            ::unlink(entry.path().c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

}  // namespace velkor
