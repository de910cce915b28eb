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

// A workstation (its start-up directory, made current, and the controller simulator on its
// line) and the server machine's folder with the shared KV.GDB.
class Workstations : public ::testing::Test {
  protected:
    Workstations() {
        server.createDatabase({{"L_BarCode", "9"},
                               {"L_upor", "0"},
                               {"Qty_Imp_mm", "10"},
                               {"Port", controller.path()}});
        workstation.writeFile("Morvel.INI", test::counterIni(0));
    }

    // Workstation B loads a job file into the shared database, as a process of its own.
    void loadElsewhere(const std::string& name, const std::string& text) {
        std::filesystem::create_directories(server.file("Job"));
        server.writeFile("Job/" + name, text);
        QProcess other;
        other.start(
            QStringLiteral(VELKOR_MAKEDB),
            {QStringLiteral("--existing"), QStringLiteral("--job"),
             QString::fromStdString(server.file("Job/" + name)), QString::fromStdString(shared)});
        ASSERT_TRUE(other.waitForFinished(30000));
        ASSERT_EQ(other.exitCode(), 0) << other.readAllStandardError().toStdString();
    }

    static void scan(TForm1& window, const char* barcode) {
        auto* edit = window.findChild<QLineEdit*>(QStringLiteral("Edit_BarCode"));
        QTest::keyClicks(edit, QString::fromLatin1(barcode));
        QTest::keyClick(edit, Qt::Key_Return);
    }

    test::Workspace workstation;
    test::CurrentDirectory current{workstation.path()};
    test::MessageBoxWatcher boxes;
    test::Simulator controller{workstation.file("controller.log")};
    test::Workspace server;
    const std::string shared = test::FirebirdServer::shared().databaseString(server.file("KV.GDB"));
};

TEST_F(Workstations, APieceThatOneLoadsTheOtherScansAtOnce) {
    // Workstation A: the console, running since before the job was loaded.
    Console console(ConsoleOptions{shared});
    TForm1 window(console);
    ASSERT_TRUE(boxes.seen().empty()) << boxes.seen()[0].text.toStdString();
    scan(window, "700000001");  // not loaded yet: nothing to send
    loadElsewhere("new.kv", "PNEW\r\nC001700000001012000450004500  1  1\r\nWSCREW/4000\r\n");
    // The very next scan finds it: no restart, no write of A's own in between.
    scan(window, "700000001");
    EXPECT_EQ(controller.commandsOnceThereAre(2),
              (std::vector<std::string>{"CLR_CNT", "R_POS4000"}));
    EXPECT_TRUE(boxes.seen().empty());
}

// A power cut brings the workstation up before the server: the console starts without the
// database, on the port the last start found, and takes the database up by itself once the
// server is there; the next scan goes out.
TEST_F(Workstations, AServerThatStartsAfterTheConsoleIsTakenUpWithoutARestart) {
    loadElsewhere("late.kv", "PLATE\r\nC001710000001012000450004500  1  1\r\nWSCREW/4000\r\n");
    workstation.writeFile("velkor.port", controller.path() + "\n");

    test::FirebirdServer::shared().stop();
    Console console(ConsoleOptions{shared});
    TForm1 window(console);
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_TRUE(boxes.seen()[0].text.contains(QString::fromStdString(shared)));
    EXPECT_EQ(controller.commandsOnceThereAre(1), std::vector<std::string>{"CLR_CNT"});

    test::FirebirdServer::shared().start();
    ASSERT_TRUE(test::waitUntil([&] { return !console.databaseTrouble(); }, 20000));
    scan(window, "710000001");
    EXPECT_EQ(controller.commandsOnceThereAre(2),
              (std::vector<std::string>{"CLR_CNT", "R_POS4000"}));
    EXPECT_EQ(boxes.seen().size(), 1u);
}

// The server's machine hangs while the console runs: a stop signal still ends the console within
// seconds, and the counter is saved.
TEST_F(Workstations, AStopSignalEndsTheConsoleWhileTheServerHangs) {
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
TEST_F(Workstations, ALoadWhoseServerHangsDoesNotHoldTheEnd) {
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
