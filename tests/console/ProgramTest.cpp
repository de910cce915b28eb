// The real program, run as an operator's workstation runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "PseudoTerminal.h"
#include "Workspace.h"

namespace velkor {
namespace {

// Runs the console in the workspace, sends it SIGTERM after `ms` and says whether it ended on
// its own, with exit code 0, within 15 seconds.
::testing::AssertionResult stopsCleanly(const test::Workspace& workspace, int ms) {
    QProcess console;
    console.setWorkingDirectory(QString::fromStdString(workspace.path()));
    console.setProcessChannelMode(QProcess::ForwardedChannels);
    console.start(QStringLiteral(VELKOR_PROGRAM), {});
    if (!console.waitForStarted(10000)) {
        return ::testing::AssertionFailure() << "the console did not start";
    }
    QThread::msleep(static_cast<unsigned long>(ms));
    ::kill(static_cast<pid_t>(console.processId()), SIGTERM);
    if (!console.waitForFinished(15000)) {
        console.kill();
        console.waitForFinished();
        return ::testing::AssertionFailure() << "the console did not end after SIGTERM";
    }
    if (console.exitStatus() != QProcess::NormalExit || console.exitCode() != 0) {
        return ::testing::AssertionFailure() << "exit code " << console.exitCode();
    }
    return ::testing::AssertionSuccess();
}

TEST(Program, AStopSignalClosesTheConsoleLikeItsCloseBoxAndSavesTheCounter) {
    test::PseudoTerminal controller;
    test::Workspace workspace;
    workspace.createDatabase({{"Port", controller.path()}});
    workspace.writeFile("Morvel.INI", "[Main]\r\ncnt = 5\r\n");
    // Wait until start-up has opened the database (the engine's threads are running then).
    EXPECT_TRUE(stopsCleanly(workspace, 1500));
    EXPECT_EQ(controller.read(14), "CLR_CNTGET_ALL");
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=5\r\n");
}

TEST(Program, AStopSignalDuringAStartUpErrorBoxStillEndsTheConsole) {
    test::Workspace workspace;
    workspace.createDatabase({{"Port", "/dev/velkor-no-such-device"}});
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=5\r\n");
    EXPECT_TRUE(stopsCleanly(workspace, 1500));
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=5\r\n");  // not wiped
}

TEST(Program, AReportedCountSurvivesTheProgramBeingKilled) {
    test::PseudoTerminal controller;
    test::Workspace workspace;
    workspace.createDatabase({{"Port", controller.path()}});
    workspace.writeFile("Morvel.INI", "[Main]\r\nCNT=1000\r\n");
    QProcess console;
    console.setWorkingDirectory(QString::fromStdString(workspace.path()));
    console.start(QStringLiteral(VELKOR_PROGRAM), {});
    ASSERT_TRUE(console.waitForStarted(10000));
    ASSERT_EQ(controller.read(7, 10000), "CLR_CNT");
    controller.write("<LAST WORDS>");  // the last packet before the crash
    controller.write("<GET_ALL;CNT=17;setOut=0;>");
    for (int i = 0; i < 100 && workspace.readFile("Morvel.INI") != "[Main]\r\nCNT=1017\r\n"; ++i) {
        QThread::msleep(20);
    }
    console.kill();  // a crash, or the power going: no shutdown runs
    console.waitForFinished();
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=1017\r\n");
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
    { std::ofstream(disk + "/Morvel.INI") << "[Main]\r\nCNT=5\r\n"; }
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
    QElapsedTimer sinceStop;
    sinceStop.start();
    ::kill(static_cast<pid_t>(console.processId()), SIGTERM);
    ASSERT_TRUE(console.waitForFinished(10000));
    EXPECT_LT(sinceStop.elapsed(), 2000);
    EXPECT_EQ(console.exitCode(), 0);
    EXPECT_NE(console.readAllStandardError().toStdString().find(
                  "velkor: the counter 5 could not be saved: Cannot create file"),
              std::string::npos);
    EXPECT_EQ(workspace.readFile("disk/Morvel.INI"), "[Main]\r\nCNT=5\r\n");
}

}  // namespace
}  // namespace velkor
