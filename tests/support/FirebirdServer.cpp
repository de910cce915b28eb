#include "FirebirdServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include <QProcessEnvironment>
#include <QThread>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace velkor::test {
namespace {

namespace fs = std::filesystem;

const char* const kSystemRoot = "/usr/lib/x86_64-linux-gnu/firebird/3.0";
const char* const kSystemSecurity = "/var/lib/firebird/3.0/system/security3.fdb";
const char* const kServerProgram = "/usr/sbin/firebird";

int freeLoopbackPort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(probe);
        throw std::runtime_error("no free port on the loopback address");
    }
    ::close(probe);
    return ntohs(address.sin_port);
}

bool listening(int port) {
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool accepted =
        ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(client);
    return accepted;
}

void writeText(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text;
}

// The environment of a program that works in the private root.
QProcessEnvironment rootEnvironment(const std::string& root) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("FIREBIRD"), QString::fromStdString(root));
    environment.insert(QStringLiteral("FIREBIRD_LOCK"), QString::fromStdString(root + "/lock"));
    return environment;
}

}  // namespace

FirebirdServer::FirebirdServer() {
    std::string pattern = (fs::temp_directory_path() / "velkor-server-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create the server's folder");
    }
    root_ = pattern;
    port_ = freeLoopbackPort();
    const fs::path root(root_);
    fs::create_directory(root / "lock");
    fs::copy(fs::path(kSystemRoot) / "intl", root / "intl",
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::remove(root / "intl" / "fbintl.conf");
    fs::copy_file("/etc/firebird/3.0/fbintl.conf", root / "intl" / "fbintl.conf");
    fs::create_directory_symlink(fs::path(kSystemRoot) / "plugins", root / "plugins");
    fs::copy_file(fs::path(kSystemRoot) / "firebird.msg", root / "firebird.msg");
    fs::copy_file("/etc/firebird/3.0/plugins.conf", root / "plugins.conf");
    fs::copy_file(kSystemSecurity, root / "security3.fdb");
    writeText(root / "firebird.conf",
              "RemoteBindAddress = 127.0.0.1\n"
              "RemoteServicePort = " +
                  std::to_string(port_) +
                  "\n"
                  "SecurityDatabase = " +
                  root_ +
                  "/security3.fdb\n"
                  "ServerMode = Super\n");
    writeText(root / "databases.conf",
              "security.db = " + root_ + "/security3.fdb\n{\n  RemoteAccess = false\n}\n");

    // The console's password for SYSDBA, set while no server holds the security database.
    QProcess isql;
    isql.setProcessEnvironment(rootEnvironment(root_));
    isql.setProcessChannelMode(QProcess::MergedChannels);
    isql.start(QStringLiteral("isql-fb"), {QStringLiteral("-user"), QStringLiteral("SYSDBA"),
                                           QString::fromStdString(root_ + "/security3.fdb")});
    isql.write("create or alter user SYSDBA password 'plumeroak' using plugin Srp;\ncommit;\n");
    isql.closeWriteChannel();
    if (!isql.waitForFinished(30000) || isql.exitCode() != 0) {
        throw std::runtime_error("cannot set the server's SYSDBA password: " +
                                 isql.readAll().toStdString());
    }
    start();
}

FirebirdServer::~FirebirdServer() {
    stop();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string FirebirdServer::databaseString(const std::string& path) const {
    return "127.0.0.1/" + std::to_string(port_) + ":" + path;
}

void FirebirdServer::start() {
    process_.setProcessEnvironment(rootEnvironment(root_));
    process_.setProcessChannelMode(QProcess::ForwardedChannels);
    // A test program that dies takes its server with it.
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process_.start(QString::fromLatin1(kServerProgram), {});
    if (!process_.waitForStarted(10000)) {
        throw std::runtime_error("the Firebird server did not start");
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!listening(port_)) {
        if (process_.state() == QProcess::NotRunning ||
            std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("the Firebird server does not listen on port " +
                                     std::to_string(port_));
        }
        QThread::msleep(20);
    }
}

void FirebirdServer::stop() {
    if (process_.state() == QProcess::NotRunning) {
        return;
    }
    process_.terminate();
    if (!process_.waitForFinished(20000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void FirebirdServer::hang() {
    ::kill(static_cast<pid_t>(process_.processId()), SIGSTOP);
}

void FirebirdServer::resume() {
    ::kill(static_cast<pid_t>(process_.processId()), SIGCONT);
}

void FirebirdServer::kill() {
    process_.kill();
    process_.waitForFinished(5000);
}

}  // namespace velkor::test
