// The real program, run as an operator's workstation runs it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "ComPortList.h"
#include "PseudoTerminal.h"
#include "SimulatorProcess.h"
#include "Text.h"
#include "WaitUntil.h"
#include "Workspace.h"

namespace velkor {
namespace {

// Sends the console `signal` and says whether it then ended on its own, with `exitCode`,
// within 15 seconds.
::testing::AssertionResult endsOn(QProcess& console, int signal, int exitCode = 0) {
    ::kill(static_cast<pid_t>(console.processId()), signal);
    if (!console.waitForFinished(15000)) {
        console.kill();
        console.waitForFinished();
        return ::testing::AssertionFailure() << "the console did not end after signal " << signal;
    }
    if (console.exitStatus() != QProcess::NormalExit || console.exitCode() != exitCode) {
        return ::testing::AssertionFailure() << "exit code " << console.exitCode();
    }
    return ::testing::AssertionSuccess();
}

// Starts the console in the workspace; `listedPorts` (paths separated by ":") stands for the
// system's port list when given.
void startConsole(QProcess& console, const test::Workspace& workspace,
                  const QString& listedPorts = {}) {
    if (!listedPorts.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(kSerialPortsVariable), listedPorts);
        console.setProcessEnvironment(environment);
    }
    console.setWorkingDirectory(QString::fromStdString(workspace.path()));
    console.start(QStringLiteral(VELKOR_PROGRAM), {});
    ASSERT_TRUE(console.waitForStarted(10000));
}

// True once the console's journal in the workspace holds `text`.
bool journalHolds(const test::Workspace& workspace, const std::string& text) {
    std::error_code missing;
    for (const auto& day :
         std::filesystem::directory_iterator(workspace.file("journal"), missing)) {
        if (workspace.readFile("journal/" + day.path().filename().string()).find(text) !=
            std::string::npos) {
            return true;
        }
    }
    return false;
}

// SIGTERM from a shutdown, SIGHUP from the terminal it was started in being closed.
TEST(Program, AStopSignalClosesTheConsoleLikeItsCloseBoxAndSavesTheCounter) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGHUP");
        test::PseudoTerminal controller;
        test::Workspace workspace;
        workspace.createDatabase({{"Port", controller.path()}});
        workspace.writeFile("Morvel.INI", "[Main]\r\ncnt = 5\r\n");
        QProcess console;
        startConsole(console, workspace);
        ASSERT_EQ(controller.read(7, 10000), "CLR_CNT");
        controller.write("<GET_ALL;CNT=2;setOut=0;>");
        EXPECT_TRUE(endsOn(console, signal));
        EXPECT_EQ(controller.read(7), "GET_ALL");
        EXPECT_EQ(workspace.readFile("Morvel.INI"), test::counterIni(7));
        EXPECT_FALSE(workspace.exists("velkor.running"));
    }
}

// Qt's own options are taken as by any Qt program, a session manager's -session too, and a
// headless run (no display, no runtime folder) says nothing on standard error.
TEST(Program, QtsOwnOptionsAreTakenAndAHeadlessRunIsQuiet) {
    test::PseudoTerminal controller;
    test::Workspace workspace;
    workspace.createDatabase({{"Port", controller.path()}});
    workspace.writeFile("Morvel.INI", test::counterIni(0));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* unset : {"QT_QPA_PLATFORM", "DISPLAY", "XDG_RUNTIME_DIR"}) {
        environment.remove(QString::fromLatin1(unset));
    }
    QProcess console;
    console.setProcessEnvironment(environment);
    console.start(
        QStringLiteral(VELKOR_PROGRAM),
        {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("-style=Fusion"),
         QStringLiteral("-session"), QStringLiteral("1234abcd"), QStringLiteral("-qwindowgeometry"),
         QStringLiteral("640x480+0+0"), QStringLiteral("--workspace"),
         QString::fromStdString(workspace.path())});
    ASSERT_TRUE(console.waitForStarted(10000));
    EXPECT_EQ(controller.read(7, 10000), "CLR_CNT");
    EXPECT_TRUE(endsOn(console, SIGTERM));
    EXPECT_EQ(console.readAllStandardError().toStdString(), "");
}

// A controller that never acknowledges the settings push (the wrong device on the port, a
// firmware fault) holds the push for ever; a stop still ends the console, with its shutdown.
TEST(Program, AStopSignalEndsAPushThatIsNeverAcknowledged) {
    test::Workspace workspace;
    test::Simulator controller{workspace.file("controller.log"),
                               {QStringLiteral("--withhold"), QStringLiteral("SH_S5000")}};
    workspace.createDatabase(test::Workspace::siteVariables(
        {{"Port", controller.path()}, {"SH_S", "500"}, {"Qty_Imp_mm", "10"}}));
    workspace.writeFile("Morvel.INI", test::counterIni(5));
    QProcess console;
    startConsole(console, workspace, QString::fromStdString(controller.path()));
    ASSERT_TRUE(test::waitUntil(
        [&] {
            const auto commands = controller.commands();
            return std::count(commands.begin(), commands.end(), "SH_S5000") >= 3;
        },
        10000))
        << ::testing::PrintToString(controller.commands());
    EXPECT_TRUE(endsOn(console, SIGTERM));
    EXPECT_EQ(controller.commandsOnceThereAre(1).back(), "GET_ALL");
    EXPECT_EQ(workspace.readFile("Morvel.INI"), test::counterIni(5));
}

// Spare ports that answer nothing make the port probe long; a stop during it ends start-up at
// once, and no probed port gets anything but the probe's request.
TEST(Program, AStopSignalDuringThePortProbeEndsStartUp) {
    test::Workspace workspace;
    test::PseudoTerminal controller;
    std::vector<std::unique_ptr<test::PseudoTerminal>> spare(20);
    QStringList listed;
    for (auto& port : spare) {
        port = std::make_unique<test::PseudoTerminal>();
        listed << QString::fromStdString(port->path());
    }
    workspace.createDatabase({{"Port", controller.path()}});
    workspace.writeFile("Morvel.INI", test::counterIni(5));
    QProcess console;
    startConsole(console, workspace, listed.join(u':'));
    ASSERT_EQ(spare.front()->read(7, 10000), "GET_ALL");
    EXPECT_TRUE(endsOn(console, SIGTERM));
    int unasked = 0;
    for (auto& port : spare) {
        const std::string received = port->read(64, 50);
        EXPECT_TRUE(received.empty() || received == "GET_ALL") << received;
        unasked += received.empty() ? 1 : 0;
    }
    EXPECT_GT(unasked, 0);  // the probe ended before the last port
    EXPECT_EQ(controller.read(1, 100), "");
    EXPECT_EQ(workspace.readFile("Morvel.INI"), test::counterIni(5));
}

// The folder of a running console: a second console there ends without touching it, and the
// database tool refuses to replace its database.
TEST(Program, AFolderInUseIsNeitherSharedNorReplaced) {
    test::PseudoTerminal controller;
    test::Workspace workspace;
    workspace.createDatabase({{"Port", controller.path()}});
    workspace.writeFile("Morvel.INI", test::counterIni(5));
    QProcess first;
    startConsole(first, workspace);
    ASSERT_EQ(controller.read(7, 10000), "CLR_CNT");
    const std::string marker = workspace.readFile("velkor.running");

    QProcess second;
    startConsole(second, workspace);
    second.setReadChannel(QProcess::StandardError);
    std::string said;
    while (said.find("не запускается\n") == std::string::npos && second.waitForReadyRead(10000)) {
        said += second.readAllStandardError().toStdString();
    }
    EXPECT_NE(said.find("уже работает консоль"), std::string::npos) << said;
    EXPECT_TRUE(endsOn(second, SIGTERM, 1));  // its box is up until then

    QProcess makedb;
    makedb.start(QStringLiteral(VELKOR_MAKEDB),
                 {QStringLiteral("--workspace"), QStringLiteral("--force"),
                  QString::fromStdString(workspace.path())});
    ASSERT_TRUE(makedb.waitForFinished(30000));
    EXPECT_EQ(makedb.exitCode(), 1);
    EXPECT_NE(makedb.readAllStandardError().toStdString().find("a console works in"),
              std::string::npos);

    EXPECT_EQ(workspace.readFile("velkor.running"), marker);
    EXPECT_EQ(controller.read(1, 100), "");
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_TRUE(endsOn(first, SIGTERM));
    EXPECT_EQ(controller.read(7), "GET_ALL");
    EXPECT_FALSE(workspace.exists("velkor.running"));
}

// The operator logs in as an ordinary account (in the dialout group here: the line is theirs).
// Another account made the operator's lock folder in /tmp first, open to all, with a link in it
// to a file of the operator's. The console starts all the same, twice on the same line (the
// simulator's end stays open meanwhile), and the planted folder is never used.
TEST(Program, AnOperatorsAccountStartsItTwiceAndNeverUsesAFolderItDoesNotOwn) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can start a program as another account";
    }
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    test::PseudoTerminal controller;
    test::Workspace workspace;
    workspace.createDatabase({{"Port", controller.path()}});
    workspace.writeFile("Morvel.INI", test::counterIni(5));
    workspace.writeFile("operators-own.txt", "untouched");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(workspace.path())) {
        ASSERT_EQ(::lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    ASSERT_EQ(::chown(workspace.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chown(controller.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    const std::string planted = "/tmp/velkor-firebird-" + std::to_string(nobody->pw_uid);
    std::filesystem::remove_all(planted);
    ASSERT_EQ(::mkdir(planted.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(planted.c_str(), 0777), 0);
    std::filesystem::create_symlink(workspace.file("operators-own.txt"), planted + "/fb_init");
    struct Removed {
        std::string folder;
        ~Removed() {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
            for (const auto& entry : std::filesystem::directory_iterator("/tmp", ignored)) {
                if (entry.path().string().rfind(folder + "-", 0) == 0) {
                    std::filesystem::remove_all(entry.path(), ignored);
                }
            }
        }
    } removed{planted};

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("FIREBIRD_LOCK"));
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    for (int start = 1; start <= 2; ++start) {
        SCOPED_TRACE("start " + std::to_string(start));
        QProcess console;
        console.setProcessEnvironment(environment);
        console.setWorkingDirectory(QString::fromStdString(workspace.path()));
        console.start(QStringLiteral("setpriv"),
                      {QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                       QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                       QStringLiteral("--clear-groups"), QStringLiteral(VELKOR_PROGRAM)});
        ASSERT_TRUE(console.waitForStarted(10000));
        ASSERT_EQ(controller.read(7, 10000), "CLR_CNT")
            << console.readAllStandardError().toStdString();
        EXPECT_TRUE(endsOn(console, SIGTERM));
        EXPECT_EQ(controller.read(7), "GET_ALL");
    }
    // The database check a service person runs uses no such folder either.
    QProcess check;
    check.setProcessEnvironment(environment);
    check.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                 QStringLiteral("--regid=%1").arg(nobody->pw_gid), QStringLiteral("--clear-groups"),
                 QStringLiteral(VELKOR_CHECKDB), QString::fromStdString(workspace.file("KV.GDB"))});
    ASSERT_TRUE(check.waitForFinished(30000));
    EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardError().toStdString();
    EXPECT_EQ(workspace.readFile("operators-own.txt"), "untouched");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(planted), {}), 1);
}

TEST(Program, AStopSignalDuringAStartUpErrorBoxStillEndsTheConsole) {
    test::Workspace workspace;
    workspace.createDatabase({{"Port", "/dev/velkor-no-such-device"}});
    workspace.writeFile("Morvel.INI", test::counterIni(5));
    QProcess console;
    console.setProcessChannelMode(QProcess::ForwardedChannels);
    startConsole(console, workspace);
    // Every box shown is on record in the journal: the port's box is up.
    ASSERT_TRUE(test::waitUntil(
        [&] { return journalHolds(workspace, cp1251("Показано сообщение: Порт")); }, 10000));
    EXPECT_TRUE(endsOn(console, SIGTERM));
    EXPECT_EQ(workspace.readFile("Morvel.INI"), test::counterIni(5));  // not wiped
}

TEST(Program, AReportedCountSurvivesTheProgramBeingKilled) {
    test::PseudoTerminal controller;
    test::Workspace workspace;
    workspace.createDatabase({{"Port", controller.path()}});
    workspace.writeFile("Morvel.INI", test::counterIni(1000));
    QProcess console;
    console.setWorkingDirectory(QString::fromStdString(workspace.path()));
    console.start(QStringLiteral(VELKOR_PROGRAM), {});
    ASSERT_TRUE(console.waitForStarted(10000));
    ASSERT_EQ(controller.read(7, 10000), "CLR_CNT");
    controller.write("<LAST WORDS>");  // the last packet before the crash
    controller.write("<GET_ALL;CNT=17;setOut=0;>");
    for (int i = 0; i < 100 && workspace.readFile("Morvel.INI") != test::counterIni(1017); ++i) {
        QThread::msleep(20);
    }
    console.kill();  // a crash, or the power going: no shutdown runs
    console.waitForFinished();
    EXPECT_EQ(workspace.readFile("Morvel.INI"), test::counterIni(1017));
    const auto journal = std::filesystem::directory_iterator(workspace.file("journal"))->path();
    EXPECT_NE(workspace.readFile("journal/" + journal.filename().string()).find(" LAST WORDS\r\n"),
              std::string::npos);
}

// A start-up directory whose disk is full: shutdown cannot save the counter, says so on
// standard error with the count, and the program still ends at once.
TEST(Program, AFullDiskAtShutdownCostsTheSavedCounterButNeverAClick) {
    test::PseudoTerminal controller;
    test::Workspace workspace;
    const std::string disk = workspace.file("disk");
    std::filesystem::create_directory(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=4m") != 0) {
        GTEST_SKIP() << "no tmpfs can be mounted here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
    test::Workspace fromFolder;  // the database is made elsewhere and copied in
    fromFolder.createDatabase({{"Port", controller.path()}});
    std::filesystem::copy_file(fromFolder.file("KV.GDB"), disk + "/KV.GDB");
    { std::ofstream(disk + "/Morvel.INI") << test::counterIni(5); }
    {
        std::ofstream filler(disk + "/filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()) && filler.flush()) {
        }
    }

    QProcess console;
    console.setWorkingDirectory(QString::fromStdString(disk));
    console.start(QStringLiteral(VELKOR_PROGRAM), {});
    ASSERT_TRUE(console.waitForStarted(10000));
    ASSERT_EQ(controller.read(7, 10000), "CLR_CNT");
    ::kill(static_cast<pid_t>(console.processId()), SIGTERM);
    ASSERT_TRUE(console.waitForFinished(10000));  // no box waits for a click
    EXPECT_EQ(console.exitCode(), 0);
    EXPECT_NE(console.readAllStandardError().toStdString().find(
                  "velkor.console: the counter 5 could not be saved: Cannot create file"),
              std::string::npos);
    EXPECT_EQ(workspace.readFile("disk/Morvel.INI"), test::counterIni(5));
}

}  // namespace
}  // namespace velkor
