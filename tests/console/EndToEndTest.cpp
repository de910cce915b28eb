// The console's main job end to end, as the workstation runs it: a barcode typed into the real
// window, the real job database on the embedded engine, and the controller simulator program at
// the other end of a pseudo-terminal, on the system's clock.
#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableWidget>
#include <QTimer>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "ComMainForm.h"
#include "JobRowWriter.h"
#include "MessageBoxWatcher.h"
#include "ProductionWindow.h"
#include "SimulatorProcess.h"
#include "Text.h"
#include "WaitUntil.h"
#include "Workspace.h"

namespace velkor {
namespace {

// Types the barcode and Enter as the scanner does; returns when the dispatch is over, with the
// moment Enter was pressed.
long long scan(TForm1& window, const char* barcode) {
    auto* edit = window.findChild<QLineEdit*>(QStringLiteral("Edit_BarCode"));
    QTest::keyClicks(edit, QString::fromLatin1(barcode));
    const long long enter = test::monotonicMilliseconds();
    QTest::keyClick(edit, Qt::Key_Return);
    return enter;
}

class EndToEnd : public ::testing::Test {
  protected:
    EndToEnd() {
        workspace.createDatabase({{"Port", simulator.path()},
                                  {"L_upor", "50"},
                                  {"Qty_Imp_mm", "10"},
                                  {"L_BarCode", "9"}});
        workspace.writeFile("Morvel.INI", test::counterIni(0));
        JobDatabase db;
        db.connect(workspace.file("KV.GDB"));
        JobRowWriter rows(db);
        const auto piece =
            rows.insertPiece(rows.insertBatch("TEST"),
                             {"1000.0", "45.0", "45.0", "1", "1", "1", "200000001", std::nullopt});
        for (const char* position : {"400", "100", "250.5", "100"}) {
            rows.insertHole(piece, "1", position);
        }
        rows.commit();
    }

    void load(TForm1& window, const char* file) {
        test::whenModalShows<QFileDialog>([file](QFileDialog& dialog) {
            // As the operator types it: the name box has the focus.
            dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(QString::fromLatin1(file));
            QMetaObject::invokeMethod(&dialog, "accept");
        });
        window.findChild<QAction*>(QStringLiteral("N2"))->trigger();
    }

    test::Workspace workspace;
    test::CurrentDirectory current{workspace.path()};
    test::Simulator simulator{workspace.file("controller.log")};
    test::MessageBoxWatcher boxes;
    Console console;
};

// A piece scanned twice and one that is none: the production window shows the day's three
// records newest first, the batch with its one piece done, and exports them for a spreadsheet.
TEST_F(EndToEnd, TheProductionWindowShowsTheDaysRecordsAndTheirBatchAndExportsThem) {
    TForm1 window(console);
    scan(window, "200000001");
    scan(window, "200000001");
    scan(window, "300000009");
    ASSERT_TRUE(test::waitUntil([&] { return console.workRecord().unwritten() == 0; }));
    window.findChild<QAction*>(QStringLiteral("N6"))->trigger();
    auto* production = window.findChild<ProductionWindow*>();
    ASSERT_EQ(production, nullptr);  // a window of its own, not a child
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<ProductionWindow*>(top)) {
            production = found;
        }
    }
    ASSERT_NE(production, nullptr);
    auto* records = production->findChild<QTableWidget*>(QStringLiteral("Table_Records"));
    ASSERT_EQ(records->rowCount(), 3);
    EXPECT_EQ(records->item(0, 3)->text(), QStringLiteral("300000009"));
    EXPECT_EQ(records->item(0, 8)->text(), QStringLiteral("FAILED"));
    EXPECT_EQ(records->item(2, 7)->text(), QStringLiteral("R_POS500 R2_POS2005 R3_POS3500"));
    auto* batches = production->findChild<QTableWidget*>(QStringLiteral("Table_Batches"));
    ASSERT_EQ(batches->rowCount(), 1);
    EXPECT_EQ(
        batches->item(0, 0)->text() + batches->item(0, 1)->text() + batches->item(0, 2)->text(),
        QStringLiteral("TEST11"));

    production->exportTo(QString::fromStdString(workspace.file("shift.csv")));
    const std::string csv = workspace.readFile("shift.csv");
    EXPECT_EQ(csv.rfind("\xEF\xBB\xBFВремя;Рабочее место;", 0), 0u);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4);
    EXPECT_NE(csv.find(";FAILED;;Деталь 300000009 не найдена: позиций нет;"), std::string::npos);

    production->findChild<QLineEdit*>(QStringLiteral("Edit_Barcode"))->setText("300000009");
    production->refresh();
    EXPECT_EQ(records->rowCount(), 1);
    window.close();  // the console ends: its production window must not keep the program alive
    EXPECT_FALSE(production->isVisible());
}

// The operator also clicks "Показать" just before and just after positions go out: on the real
// line, too, each click is a command of its own.
TEST_F(EndToEnd, APiecesPositionsGoToTheControllerWithTheirPauses) {
    TForm1 window(console);
    auto* show = window.findChild<QWidget*>(QStringLiteral("SpeedButton2"));
    for (const int at : {140, 357, 545}) {
        QTimer::singleShot(at, [show] { QTest::mouseClick(show, Qt::LeftButton); });
    }
    const long long enter = scan(window, "200000001");
    auto commands = simulator.commandsOnceThereAre(7);
    EXPECT_EQ(std::erase(commands, "GET_ALL"), 3u);
    ASSERT_EQ(commands,
              (std::vector<std::string>{"CLR_CNT", "R_POS500", "R2_POS2005", "R3_POS3500"}));
    auto received = simulator.received();
    std::erase_if(received, [](const auto& command) { return command.command == "GET_ALL"; });
    // The simulator stamps a command when it reads the first byte; on a busy machine one read
    // comes late and brings two stamps a few milliseconds closer than the 200 ms the console
    // waited. A lost pause leaves them next to each other.
    EXPECT_GE(received[1].at - enter, 150);
    EXPECT_GE(received[2].at - received[1].at, 150);
    EXPECT_GE(received[3].at - received[2].at, 150);
    EXPECT_GE(test::monotonicMilliseconds() - enter, 1700);  // the whole dispatch waits its pauses
    EXPECT_TRUE(boxes.seen().empty());
}

TEST_F(EndToEnd, AJobFileLoadedFromTheMenuCanBeScanned) {
    std::filesystem::create_directory(workspace.file("Job"));
    workspace.writeFile(
        "Job/menu.kv",
        "PMENU\r\nC001300000001010004500450  1  1\r\nWSCREW/1000\r\nWHANDLE/3000\r\n");
    TForm1 window(console);
    test::whenModalShows<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.objectName(), QStringLiteral("OpenDialog1"));
        EXPECT_EQ(dialog.directory().absolutePath().toStdString(),
                  std::filesystem::canonical(workspace.file("Job")).string());
        EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("*.kv (*.kv)")});
        dialog.reject();
    });
    window.findChild<QAction*>(QStringLiteral("N2"))->trigger();
    EXPECT_TRUE(workspace.exists("Job/menu.kv"));
    load(window, "menu.kv");
    ASSERT_TRUE(test::waitUntil([&] { return console.load() == nullptr; }));
    EXPECT_FALSE(workspace.exists("Job/menu.kv"));
    EXPECT_TRUE(boxes.seen().empty());

    scan(window, "300000001");
    EXPECT_EQ(simulator.commandsOnceThereAre(3),
              (std::vector<std::string>{"CLR_CNT", "R_POS500", "R2_POS2500"}));
    // The load is in the settings history: the file, its content's hash and what it brought.
    JobDatabase db;
    db.connect(workspace.file("KV.GDB"));
    std::vector<Row> loads;
    ASSERT_TRUE(test::waitUntil([&] {
        loads = db.read(
            "select h.subject, h.outcome, char_length(h.contenthash), h.pieces, h.superseded "
            "from SETTINGSHISTORY h where h.kind = 'JOBFILE'",
            {});
        return !loads.empty();
    }));
    EXPECT_EQ(loads[0][0].asText() + " " + loads[0][1].asText() + " " + loads[0][2].asText() + " " +
                  loads[0][3].asText() + " " + loads[0][4].asText(),
              "menu.kv LOADED 64 1 0");
}

// A large job file loads beside the window: the status bar shows how far it is, a scan made
// meanwhile goes out at once, and the load is on record when it ends.
TEST_F(EndToEnd, ALargeLoadRunsBesideTheWindowWhichShowsHowFarItIs) {
    std::filesystem::create_directory(workspace.file("Job"));
    {
        std::ofstream big(workspace.file("Job/big.kv"), std::ios::binary);
        big << "PBIG\r\n";
        for (int piece = 0; piece < 20000; ++piece) {
            big << "C001" << 500000000 + piece << "012000450004500  1  1\r\nWSCREW/1000\r\n"
                << "WSCREW/2000\r\n";
        }
    }
    TForm1 window(console);
    window.show();
    auto* bar = window.findChild<QProgressBar*>(QStringLiteral("ProgressBar_Load"));
    std::set<int> shown;
    bool loadingWhenScanned = false;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (bar->isVisible()) {
            shown.insert(bar->value());
        }
        if (!loadingWhenScanned && bar->isVisible() && bar->value() >= 10) {
            loadingWhenScanned = true;
            scan(window, "200000001");  // goes out while the load goes on
        }
    });
    long long loadEndedAt = 0;
    QObject::connect(&console, &Console::loadEnded,
                     [&] { loadEndedAt = test::monotonicMilliseconds(); });
    sampler.start(20);
    load(window, "big.kv");
    ASSERT_TRUE(test::waitUntil([&] { return console.load() == nullptr; }, 120000));
    EXPECT_TRUE(loadingWhenScanned);
    EXPECT_GE(shown.size(), 3u);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(simulator.commandsOnceThereAre(4),
              (std::vector<std::string>{"CLR_CNT", "R_POS500", "R2_POS2005", "R3_POS3500"}));
    ASSERT_EQ(simulator.received().size(), 4u);
    EXPECT_LT(simulator.received()[1].at, loadEndedAt);  // the scan did not wait for the load
    const std::string loaded = console.eventLog().lines().back();
    EXPECT_EQ(loaded.find(cp1251("Загружен big.kv: строк 60001, деталей 20000, отверстий 40000")),
              0u)
        << cp1251ToUtf8(loaded);
    EXPECT_TRUE(boxes.seen().empty());
    EXPECT_FALSE(workspace.exists("Job/big.kv"));
}

// The controller's port is a link that its simulator makes anew each time it starts, as a
// replugged adapter comes back under the same name. The controller dies at once (kill -9) and
// its link goes with it, as the node of a pulled adapter does.
TEST(EndToEndLine, TheConsoleNoticesTheLossAndIsBackWithoutAClick) {
    test::Workspace workspace;
    test::CurrentDirectory current{workspace.path()};
    test::MessageBoxWatcher boxes;
    const std::string link = workspace.file("ttyController");
    const QStringList linkOption{QStringLiteral("--link"), QString::fromStdString(link)};
    std::optional<test::Simulator> controller;
    controller.emplace(workspace.file("first.log"), linkOption);
    workspace.createDatabase({{"Port", link}, {"L_upor", "0"}, {"Qty_Imp_mm", "10"}});
    workspace.writeFile("Morvel.INI", test::counterIni(0));
    Console console;
    TForm1 window(console);
    ASSERT_EQ(console.lineStatus(), TLineStatus::Open);

    controller->kill();
    std::filesystem::remove(link);
    ASSERT_TRUE(test::waitUntil([&] { return console.lineStatus() == TLineStatus::Lost; }));
    controller.emplace(workspace.file("second.log"), linkOption);
    ASSERT_TRUE(test::waitUntil([&] { return console.lineStatus() == TLineStatus::Open; }))
        << console.lineTrouble();
    console.sendHandlePosition("100");
    EXPECT_EQ(controller->commandsOnceThereAre(1), std::vector<std::string>{"R_POS1000"});
    EXPECT_TRUE(boxes.seen().empty());
}

}  // namespace
}  // namespace velkor
