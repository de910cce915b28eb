// The embedded engine's lock folder. Its lock and monitoring files decide who may open a
// database and how, so the folder must be this account's alone: a folder that another account
// made first (in /tmp anybody may) could stop every run, or hold links that have the engine
// write over this account's files.
#include "FirebirdSession.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Logging.h"

namespace velkor {
namespace {

// Why `path` is not a folder of this account's alone, or nothing when it is one.
std::optional<std::string> whyNotPrivate(const std::string& path) {
    struct stat folder {};
    if (::lstat(path.c_str(), &folder) != 0) {
        return std::string(std::strerror(errno));
    }
    if (S_ISLNK(folder.st_mode)) {
        return std::string("it is a symbolic link");
    }
    if (!S_ISDIR(folder.st_mode)) {
        return std::string("it is no folder");
    }
    if (folder.st_uid != ::geteuid()) {
        return "it belongs to the account with uid " + std::to_string(folder.st_uid);
    }
    if ((folder.st_mode & 077) != 0) {
        return std::string("other accounts may use it");
    }
    return std::nullopt;
}

// The session's own runtime folder (/run/user/<uid>) where there is one.
std::string preferredLockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && !whyNotPrivate(runtime)) {
        return std::string(runtime) + "/velkor-firebird";
    }
    return "/tmp/velkor-firebird-" + std::to_string(::geteuid());
}

}  // namespace

void prepareFirebirdEnvironment() {
    if (std::getenv("FIREBIRD_LOCK") != nullptr) {
        return;
    }
    std::string folder = preferredLockFolder();
    ::mkdir(folder.c_str(), 0700);
    if (const auto why = whyNotPrivate(folder)) {
        // Refused; the engine also locks the database file itself, so a folder of this process's
        // own is as safe, only the notice of "opened by another program" comes from the file.
        std::string own = folder + "-XXXXXX";
        if (::mkdtemp(own.data()) == nullptr) {
            qCWarning(lcJobData,
                      "the engine's lock folder %s is refused (%s), and no other can be "
                      "made: %s",
                      folder.c_str(), why->c_str(), std::strerror(errno));
            return;
        }
        qCWarning(lcJobData, "the engine's lock folder %s is refused (%s); using %s instead",
                  folder.c_str(), why->c_str(), own.c_str());
        folder = own;
    }
    ::setenv("FIREBIRD_LOCK", folder.c_str(), 0);
}

}  // namespace velkor
