#include "ComPortList.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace velkor {

namespace {

// Nothing when the system keeps no list.
std::optional<QStringList> systemSerialPorts() {
    const std::string root = "/sys/class/tty";
    DIR* folder = ::opendir(root.c_str());
    if (folder == nullptr) {
        return std::nullopt;
    }
    std::string console;
    std::ifstream(root + "/console/active") >> console;
    QStringList names;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == console) {
            continue;
        }
        if (::access((root + "/" + name + "/device").c_str(), F_OK) != 0) {
            continue;  // virtual terminals and the like have no device behind them
        }
        if (name.rfind("ttyS", 0) == 0) {
            // Every PC kernel lists 4 or 32 legacy ports; only those with a UART are real.
            int type = 0;
            std::ifstream(root + "/" + name + "/type") >> type;
            if (type == 0) {
                continue;
            }
        }
        names << QString::fromStdString(name);
    }
    ::closedir(folder);
    return names;
}

}  // namespace

void ListSerialPorts(QStringList& list) {
    // The list can be given instead of read from the system, so that a test rig (or a service
    // person) can have the start-up probe meet a pseudo-terminal: names or device paths
    // separated by ":".
    const char* given = std::getenv(kSerialPortsVariable);
    std::optional<QStringList> names =
        given != nullptr ? QString::fromLocal8Bit(given).split(u':', Qt::SkipEmptyParts)
                         : systemSerialPorts();
    if (!names) {
        return;  // the caller's list stays as it is
    }
    std::sort(names->begin(), names->end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    list = *names;
}

void ListSerialPortChoices(QStringList& list) {
    ListSerialPorts(list);
    const std::string byId = "/dev/serial/by-id";
    DIR* folder = ::opendir(byId.c_str());
    if (folder == nullptr) {
        return;  // no adapter plugged in
    }
    QStringList links;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') {
            links << QString::fromStdString(byId + "/" + entry->d_name);
        }
    }
    ::closedir(folder);
    links.sort();
    list << links;
}

std::string serialDevicePath(const std::string& port) {
    return !port.empty() && port[0] == '/' ? port : "/dev/" + port;
}

bool sameSerialDevice(const std::string& a, const std::string& b) {
    const std::string first = serialDevicePath(a);
    const std::string second = serialDevicePath(b);
    if (first == second) {
        return true;
    }
    struct stat one {};
    struct stat other {};
    return ::stat(first.c_str(), &one) == 0 && ::stat(second.c_str(), &other) == 0 &&
           S_ISCHR(one.st_mode) && S_ISCHR(other.st_mode) && one.st_rdev == other.st_rdev;
}

}  // namespace velkor
