// velkor-checkdb on a job database that workstations share through a Firebird server.
#include <gtest/gtest.h>

#include <QProcess>
#include <filesystem>
#include <string>

#include "BigJob.h"
#include "FirebirdServer.h"
#include "ProgramRun.h"
#include "Workspace.h"

namespace velkor {
namespace {

using test::FirebirdServer;

using test::Outcome;
using test::run;

// The server's machine fails in the middle of a load (the README's recovery steps for a
// server): the check over the network releases the pages the load had taken, calls the index
// warnings after the whole load harmless and sends the rebuild to the server machine, where it
// runs on the file's path while no workstation is connected.
TEST(CheckdbOnAServer, AServerKilledDuringALoadLeavesWarningsThatARebuildOnItsMachineClears) {
    constexpr int kPieces = 40000;
    test::Workspace workspace;
    test::putBigJobIn(workspace, kPieces);
    const std::string file = workspace.file("KV.GDB");
    const std::string database = FirebirdServer::shared().databaseString(file);
    const QStringList load = {QStringLiteral("--existing"), QStringLiteral("--job"),
                              QString::fromStdString(workspace.file("Job/big.kv")),
                              QString::fromStdString(database)};
    {
        const auto emptySize = std::filesystem::file_size(file);
        QProcess import;
        import.start(QStringLiteral(VELKOR_MAKEDB), load);
        ASSERT_TRUE(import.waitForStarted());
        while (import.state() == QProcess::Running &&
               std::filesystem::file_size(file) < emptySize + 2 * 1024 * 1024) {
            import.waitForFinished(5);
        }
        ASSERT_EQ(import.state(), QProcess::Running) << "the import ended before the server failed";
        FirebirdServer::shared().kill();
        import.waitForFinished();
        FirebirdServer::shared().start();
    }
    const Outcome afterKill = run(VELKOR_CHECKDB, {QString::fromStdString(database)});
    EXPECT_EQ(afterKill.exitCode, 0) << afterKill.err;
    EXPECT_NE(afterKill.out.find("orphan pages released; no errors and no warnings now"),
              std::string::npos)
        << afterKill.out;

    const Outcome whole = run(VELKOR_MAKEDB, load);
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    const Outcome afterLoad = run(VELKOR_CHECKDB, {QString::fromStdString(database)});
    EXPECT_EQ(afterLoad.exitCode, 0) << afterLoad.err;
    EXPECT_NE(afterLoad.out.find(database + ": the data is sound; what validation still reports "
                                            "is harmless:\n"),
              std::string::npos)
        << afterLoad.out;
    EXPECT_NE(afterLoad.out.find("file: velkor-checkdb --rebuild " + file), std::string::npos)
        << afterLoad.out;
    EXPECT_EQ(test::bigJobPiecesNotFound(database, kPieces), 0);

    EXPECT_EQ(run(VELKOR_CHECKDB, {QStringLiteral("--rebuild"), QString::fromStdString(database)})
                  .exitCode,
              2);
    const Outcome rebuilt =
        run(VELKOR_CHECKDB, {QStringLiteral("--rebuild"), QString::fromStdString(file)});
    ASSERT_EQ(rebuilt.exitCode, 0) << rebuilt.err;
    EXPECT_EQ(run(VELKOR_CHECKDB, {QString::fromStdString(database)}).out,
              database + ": no errors and no warnings\n");
    EXPECT_EQ(test::bigJobPiecesNotFound(database, kPieces), 0);
}

}  // namespace
}  // namespace velkor
