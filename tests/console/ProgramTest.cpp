// The real program, run as an operator's workstation runs it.
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QThread>

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
    controller.write("<GET_ALL;CNT=17;setOut=0;>");
    for (int i = 0; i < 100 && workspace.readFile("Morvel.INI") != "[Main]\r\nCNT=1017\r\n"; ++i) {
        QThread::msleep(20);
    }
    console.kill();  // a crash, or the power going: no shutdown runs
    console.waitForFinished();
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=1017\r\n");
}

}  // namespace
}  // namespace velkor
