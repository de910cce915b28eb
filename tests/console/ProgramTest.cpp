// The real program, run as an operator's workstation runs it.
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QThread>

#include "Workspace.h"

namespace velkor {
namespace {

TEST(Program, AStopSignalClosesTheConsoleLikeItsCloseBoxAndSavesTheCounter) {
    test::Workspace workspace;
    workspace.createDatabase({{"Qty_Imp_mm", "16.3"}});
    workspace.writeFile("Morvel.INI", "[Main]\r\ncnt = 5\r\n");

    QProcess console;
    console.setWorkingDirectory(QString::fromStdString(workspace.path()));
    console.setProcessChannelMode(QProcess::ForwardedChannels);
    console.start(QStringLiteral(VELKOR_PROGRAM), {});
    ASSERT_TRUE(console.waitForStarted(10000));
    // Wait until start-up has opened the database (the engine's threads are running then).
    QThread::msleep(1500);
    ::kill(static_cast<pid_t>(console.processId()), SIGTERM);
    const bool finished = console.waitForFinished(15000);
    if (!finished) {
        console.kill();
        console.waitForFinished();
    }
    ASSERT_TRUE(finished) << "the console did not end after SIGTERM";
    EXPECT_EQ(console.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(console.exitCode(), 0);
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=5\r\n");
}

}  // namespace
}  // namespace velkor
