// Two workstations on one job database served by a Firebird server: what one loads, the other
// scans at once.
#include <gtest/gtest.h>

#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTableWidget>
#include <QtTest/QTest>
#include <csignal>
#include <filesystem>

#include "BigJob.h"
#include "ComMainForm.h"
#include "ErrorText.h"
#include "FirebirdServer.h"
#include "HistoryWindow.h"
#include "JobDatabase.h"
#include "MessageBoxWatcher.h"
#include "RecordBook.h"
#include "SimulatorProcess.h"
#include "Text.h"
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

    // The records on the server that workstations other than `except` wrote.
    std::vector<Row> recordsOnTheServer(const std::string& except = "ws-2") const {
        JobDatabase database;
        database.connect(shared);
        return database.read(
            "select p.outcome, p.commands, p.batch from PRODUCTION p where p.workstation <> ?",
            {except});
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

// Workstation B sent a piece an hour ago; A scans it: it goes out all the same, A's status line
// says where it was sent before, the batch counts it once, and A's record is on the server.
TEST_F(Workstations, APieceAnotherWorkstationSentGoesOutShownAsSuchAndOnRecord) {
    loadElsewhere("two.kv",
                  "PB-9\r\nC001720000001012000450004500  1  1\r\nWSCREW/4000\r\n"
                  "C001720000002012000450004500  1  1\r\nWSCREW/4100\r\n");
    {
        JobDatabase database;
        database.connect(shared);
        DispatchRecord elsewhere;
        elsewhere.key = "ws-2 an hour ago";
        elsewhere.begun = std::chrono::system_clock::now();
        elsewhere.workstation = "ws-2";
        elsewhere.account = "operator";
        elsewhere.scan = "720000001";
        elsewhere.barcode = 720000001;
        elsewhere.piece = database.readPiece("720000001").id;
        const auto book = makeFirebirdRecordBook();
        book->open(shared);
        book->enter(elsewhere, std::chrono::hours(1));
    }
    Console console(ConsoleOptions{shared});
    TForm1 window(console);
    scan(window, "720000001");
    auto* repeat = window.findChild<QLabel*>(QStringLiteral("Label_Repeat"));
    ASSERT_TRUE(test::waitUntil([&] { return repeat->isVisibleTo(&window); }, 10000));
    EXPECT_TRUE(repeat->text().endsWith(QStringLiteral(", рабочее место ws-2")));
    EXPECT_EQ(controller.commandsOnceThereAre(2),
              (std::vector<std::string>{"CLR_CNT", "R_POS4000"}));
    auto* batch = window.findChild<QLabel*>(QStringLiteral("Label_Batch"));
    EXPECT_TRUE(test::waitUntil(
        [&] { return batch->text() == QStringLiteral("Партия B-9: 1 из 2 деталей"); }, 10000))
        << batch->text().toStdString();
    const auto records = recordsOnTheServer();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0][0].asText(), "SENT");
    EXPECT_EQ(records[0][1].asText(), "R_POS4000");
    EXPECT_TRUE(boxes.seen().empty());
}

// Two workstations change one parameter on one server: each change replaced what the other had
// stored, whatever the console read at start-up, and is on record with its workstation. The
// settings history window shows the three newest first, the value now, and exports them.
TEST_F(Workstations, TwoWorkstationsChangingOneParameterEachReplaceWhatTheOtherStored) {
    JobDatabase elsewhere;  // workstation B
    elsewhere.connect(shared);
    elsewhere.write("insert into VARIABLES (KODS, VAR_STR) values ('SH_S', '500')", {});
    Console console(ConsoleOptions{shared});
    TForm1 window(console);
    const MachineParameter& length = machineParameter("SH_S");
    console.applySetting(length, "510");
    {  // B applies it as its console does
        SettingsChange change;
        change.key = "ws-2 change";
        change.workstation = "ws-2";
        change.account = "service";
        change.subject = "SH_S";
        change.before = elsewhere.updateVariable("SH_S", "520");
        change.after = "520";
        change.outcome = ChangeOutcome::Stored;
        const auto book = makeFirebirdRecordBook();
        book->open(shared);
        book->enterChange(change, std::chrono::milliseconds(0));
    }
    console.applySetting(length, "530");

    HistoryWindow history(shared, workstation.path());
    auto* rows = history.findChild<QTableWidget*>(QStringLiteral("Table_History"));
    ASSERT_TRUE(test::waitUntil([&] {
        history.refresh();
        return rows->rowCount() == 3;
    }));
    const auto cell = [&](int row, int column) { return rows->item(row, column)->text(); };
    EXPECT_EQ(cell(0, 5) + " " + cell(0, 6), QStringLiteral("520 530"));  // before, after
    EXPECT_EQ(cell(1, 1) + " " + cell(1, 5) + " " + cell(1, 6), QStringLiteral("ws-2 510 520"));
    EXPECT_EQ(cell(2, 5) + " " + cell(2, 6), QStringLiteral("500 510"));
    EXPECT_EQ(cell(0, 1), cell(2, 1));
    EXPECT_NE(cell(0, 1), QStringLiteral("ws-2"));
    const auto valuesAt = [&](int secondsFromNow) {
        history.findChild<QDateTimeEdit*>(QStringLiteral("Date_Moment"))
            ->setDateTime(QDateTime::currentDateTime().addSecs(secondsFromNow));
        history.refresh();
        auto* values = history.findChild<QTableWidget*>(QStringLiteral("Table_Values"));
        QStringList shown;
        for (int row = 0; row < values->rowCount(); ++row) {
            shown << values->item(row, 0)->text() + "=" + values->item(row, 1)->text();
        }
        return shown;
    };
    EXPECT_TRUE(valuesAt(60).contains(QStringLiteral("SH_S=530")));
    EXPECT_TRUE(valuesAt(-60).contains(QStringLiteral("SH_S=500")));
    history.exportTo(QString::fromStdString(workstation.file("history.csv")));
    const std::string csv = workstation.readFile("history.csv");
    EXPECT_TRUE(csv.starts_with("\xEF\xBB\xBFВремя;Рабочее место;Учётная запись;Что;"));
    EXPECT_NE(csv.find(";service;SETTING;SH_S;510;520;;STORED;"), std::string::npos) << csv;
    EXPECT_TRUE(boxes.seen().empty());
}

// The server's machine goes down while a piece goes out: every position goes out on its time,
// the operator is told once that records wait, and the record arrives once the server is back;
// a setting applied meanwhile arrives too, as sent but not stored.
TEST_F(Workstations, AServerGoneDuringADispatchGetsItsRecordOnceItIsBack) {
    loadElsewhere("one.kv", "PB-8\r\nC001730000001012000450004500  1  1\r\nWSCREW/4000\r\n");
    ConsoleOptions options{shared};
    options.recordRetry = std::chrono::milliseconds(200);
    Console console(options);
    TForm1 window(console);
    test::whenTrue([&] { return controller.commands().size() == 2; },
                   [] { test::FirebirdServer::shared().kill(); });
    scan(window, "730000001");  // returns once its last pause is over
    EXPECT_EQ(controller.commands(), (std::vector<std::string>{"CLR_CNT", "R_POS4000"}));
    const auto told = [&] {
        return std::ranges::count_if(console.eventLog().lines(), [](const std::string& line) {
            return line.find(cp1251("не записываются в базу данных")) != std::string::npos;
        });
    };
    ASSERT_TRUE(test::waitUntil([&] { return told() == 1; }, 10000));
    EXPECT_EQ(console.workRecord().unwritten(), 1u);
    // A setting applied meanwhile reaches the controller but not the database, and says so.
    const std::string refused =
        test::errorOf([&] { console.applySetting(machineParameter("SH_S"), "510"); });
    EXPECT_NE(refused.find(cp1251("в базе значение не сохранено")), std::string::npos) << refused;
    EXPECT_EQ(console.workRecord().unwritten(), 2u);

    test::FirebirdServer::shared().start();
    ASSERT_TRUE(test::waitUntil([&] { return console.workRecord().unwritten() == 0; }, 30000));
    EXPECT_EQ(told(), 1);
    const auto records = recordsOnTheServer();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0][1].asText(), "R_POS4000");
    EXPECT_EQ(records[0][2].asText(), "B-8");
    JobDatabase database;
    database.connect(shared);
    const auto changes = database.read(
        "select h.outcome, h.sent, h.message from SETTINGSHISTORY h where h.kind = 'SETTING'", {});
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0][0].asText() + " " + changes[0][1].asText(), "UNSTORED SH_S5100");
    EXPECT_EQ(changes[0][2].asText(), refused.substr(0, 255));
}

}  // namespace
}  // namespace velkor
