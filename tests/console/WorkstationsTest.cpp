// Two workstations on one job database served by a Firebird server: what one loads, the other
// scans at once.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QProcess>
#include <QtTest/QTest>
#include <csignal>
#include <filesystem>

#include "BigJob.h"
#include "ComMainForm.h"
#include "FirebirdServer.h"
#include "MessageBoxWatcher.h"
#include "SimulatorProcess.h"
#include "WaitUntil.h"
#include "Workspace.h"

namespace velkor {
namespace {

TEST(Workstations, APieceThatOneLoadsTheOtherScansAtOnce) {
    // Workstation A: the console, running since before the job was loaded.
    test::Workspace workstation;
    test::CurrentDirectory current{workstation.path()};
    test::MessageBoxWatcher boxes;
    test::Simulator controller(workstation.file("controller.log"));

    test::Workspace server;  // the server machine's folder with the shared KV.GDB
    server.createDatabase(
        {{"L_BarCode", "9"}, {"L_upor", "0"}, {"Qty_Imp_mm", "10"}, {"Port", controller.path()}});
    const std::string shared = test::FirebirdServer::shared().databaseString(server.file("KV.GDB"));

    workstation.writeFile("Morvel.INI", test::counterIni(0));
    Console console(ConsoleOptions{shared});
    TForm1 window(console);
    ASSERT_TRUE(boxes.seen().empty()) << boxes.seen()[0].text.toStdString();
    auto* barcode = window.findChild<QLineEdit*>(QStringLiteral("Edit_BarCode"));
    QTest::keyClicks(barcode, QStringLiteral("700000001"));
    QTest::keyClick(barcode, Qt::Key_Return);  // not loaded yet: nothing to send

    // Workstation B loads a job file into the shared database, as a process of its own.
    std::filesystem::create_directory(workstation.file("Job"));
    workstation.writeFile("Job/new.kv",
                          "PNEW\r\nC001700000001012000450004500  1  1\r\nWSCREW/4000\r\n");
    QProcess other;
    other.start(
        QStringLiteral(VELKOR_MAKEDB),
        {QStringLiteral("--existing"), QStringLiteral("--job"),
         QString::fromStdString(workstation.file("Job/new.kv")), QString::fromStdString(shared)});
    ASSERT_TRUE(other.waitForFinished(30000));
    ASSERT_EQ(other.exitCode(), 0) << other.readAllStandardError().toStdString();

    // The very next scan finds it: no restart, no write of A's own in between.
    QTest::keyClicks(barcode, QStringLiteral("700000001"));
    QTest::keyClick(barcode, Qt::Key_Return);
    EXPECT_EQ(controller.commandsOnceThereAre(2),
              (std::vector<std::string>{"CLR_CNT", "R_POS4000"}));
    EXPECT_TRUE(boxes.seen().empty());
}

// A power cut brings the workstation up before the server: the console starts without the
// database, on the port the last start found, and takes the database up by itself once the
// server is there; the next scan goes out.
TEST(Workstations, AServerThatStartsAfterTheConsoleIsTakenUpWithoutARestart) {
    test::Workspace workstation;
    test::CurrentDirectory current{workstation.path()};
    test::MessageBoxWatcher boxes;
    test::Simulator controller(workstation.file("controller.log"));
    test::Workspace server;
    server.createDatabase(
        {{"L_BarCode", "9"}, {"L_upor", "0"}, {"Qty_Imp_mm", "10"}, {"Port", controller.path()}});
    std::filesystem::create_directory(server.file("Job"));
    server.writeFile("Job/late.kv",
                     "PLATE\r\nC001710000001012000450004500  1  1\r\nWSCREW/4000\r\n");
    const std::string shared = test::FirebirdServer::shared().databaseString(server.file("KV.GDB"));
    QProcess load;
    load.start(
        QStringLiteral(VELKOR_MAKEDB),
        {QStringLiteral("--existing"), QStringLiteral("--job"),
         QString::fromStdString(server.file("Job/late.kv")), QString::fromStdString(shared)});
    ASSERT_TRUE(load.waitForFinished(30000));
    workstation.writeFile("Morvel.INI", test::counterIni(0));
    workstation.writeFile("velkor.port", controller.path() + "\n");

    test::FirebirdServer::shared().stop();
    Console console(ConsoleOptions{shared});
    TForm1 window(console);
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_TRUE(boxes.seen()[0].text.contains(QString::fromStdString(shared)));
    EXPECT_EQ(controller.commandsOnceThereAre(1), std::vector<std::string>{"CLR_CNT"});

    test::FirebirdServer::shared().start();
    ASSERT_TRUE(test::waitUntil([&] { return !console.databaseTrouble(); }, 20000));
    auto* barcode = window.findChild<QLineEdit*>(QStringLiteral("Edit_BarCode"));
    QTest::keyClicks(barcode, QStringLiteral("710000001"));
    QTest::keyClick(barcode, Qt::Key_Return);
    EXPECT_EQ(controller.commandsOnceThereAre(2),
              (std::vector<std::string>{"CLR_CNT", "R_POS4000"}));
    EXPECT_EQ(boxes.seen().size(), 1u);
}

// The server's machine hangs while the console runs: a stop signal still ends the console within
// seconds, and the counter is saved.
TEST(Workstations, AStopSignalEndsTheConsoleWhileTheServerHangs) {
    test::Workspace workstation;
    test::Simulator controller(workstation.file("controller.log"));
    test::Workspace server;
    server.createDatabase({{"Port", controller.path()}});
    const std::string shared = test::FirebirdServer::shared().databaseString(server.file("KV.GDB"));
    workstation.writeFile("Morvel.INI", test::counterIni(3));
    QProcess console;
    console.setWorkingDirectory(QString::fromStdString(workstation.path()));
    console.start(QStringLiteral(VELKOR_PROGRAM),
                  {QStringLiteral("--database"), QString::fromStdString(shared)});
    ASSERT_EQ(controller.commandsOnceThereAre(1, 20000), std::vector<std::string>{"CLR_CNT"});

    test::FirebirdServer::shared().hang();
    const auto signalled = std::chrono::steady_clock::now();
    ::kill(static_cast<pid_t>(console.processId()), SIGTERM);
    const bool ended = console.waitForFinished(15000);
    const auto took = std::chrono::steady_clock::now() - signalled;
    test::FirebirdServer::shared().resume();
    ASSERT_TRUE(ended);
    EXPECT_LT(took, std::chrono::seconds(8));
    EXPECT_EQ(console.exitCode(), 0);
    EXPECT_EQ(workstation.readFile("Morvel.INI"), test::counterIni(3));
}

// The server's machine hangs in the middle of a load: the load waits beside the window, and
// closing the console still ends within seconds, the load with it.
TEST(Workstations, ALoadWhoseServerHangsDoesNotHoldTheEnd) {
    test::Workspace workstation;
    test::CurrentDirectory current{workstation.path()};
    test::MessageBoxWatcher boxes;
    test::Simulator controller(workstation.file("controller.log"));
    test::Workspace server;
    server.createDatabase({{"L_BarCode", "9"}, {"Port", controller.path()}});
    const std::string shared = test::FirebirdServer::shared().databaseString(server.file("KV.GDB"));
    workstation.writeFile("Morvel.INI", test::counterIni(0));
    std::filesystem::create_directory(workstation.file("Job"));
    workstation.writeFile("Job/big.kv", test::bigJob(100000));
    Console console(ConsoleOptions{shared});
    TForm1 window(console);
    console.importJob(workstation.file("Job/big.kv"));
    ASSERT_TRUE(test::waitUntil(
        [&] { return console.load() != nullptr && console.load()->progress().pieces > 0; }, 20000));
    test::FirebirdServer::shared().hang();
    const auto closing = std::chrono::steady_clock::now();
    window.close();
    const auto took = std::chrono::steady_clock::now() - closing;
    test::FirebirdServer::shared().resume();
    EXPECT_LT(took, std::chrono::seconds(8));
}

}  // namespace
}  // namespace velkor
