#pragma once

#include <QProcess>
#include <string>

namespace velkor::test {

// A Firebird server of the tests' own, on the loopback address only: a private root in a
// temporary folder (its configuration, a copy of the system's security database with the
// console's SYSDBA password set through embedded access, its lock folder) and the system's
// server program started there as a plain process on a free port. Nothing of the system's
// Firebird installation is changed.
class FirebirdServer {
  public:
    FirebirdServer();
    ~FirebirdServer();
    FirebirdServer(const FirebirdServer&) = delete;
    FirebirdServer& operator=(const FirebirdServer&) = delete;

    // The connection string of a database file through this server.
    std::string databaseString(const std::string& path) const;
    int port() const { return port_; }

    // Stops the server as an administrator would (SIGTERM: it lets running work finish
    // first), kills it as a power failure of its machine would, or starts it again on its port.
    void stop();
    void kill();
    void start();
    // The server's machine hangs (SIGSTOP): connections stay open and nothing answers; and
    // goes on again (SIGCONT).
    void hang();
    void resume();

    // The one server of a test program built with FirebirdServerEnvironment.cpp, started
    // before its first test and stopped after its last.
    static FirebirdServer& shared();

  private:
    std::string root_;
    int port_ = 0;
    QProcess process_;
};

}  // namespace velkor::test
