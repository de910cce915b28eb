// The production record on the rig: what each dispatch leaves on record, a piece scanned again,
// a batch's progress, and records that wait on disk while the database does not take them.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest/QTest>
#include <algorithm>
#include <filesystem>

#include "ConsoleRig.h"
#include "RecordSpool.h"
#include "Text.h"
#include "WaitUntil.h"

namespace velkor {
namespace {

using test::ConsoleRig;

class WorkRecordTest : public ::testing::Test {
  protected:
    WorkRecordTest() {
        rig.addPiece("400000001", {110, 120});
        rig.addPiece("400000002", {210});
        rig.database->production->batches["B-117"] = {400000001, 400000002, 400000003};
    }

    std::vector<DispatchRecord> recordsOnceThereAre(std::size_t count) {
        EXPECT_TRUE(test::waitUntil([&] { return production().count() >= count; }));
        return production().records();
    }
    test::MemoryDatabase::Production& production() { return *rig.database->production; }
    bool logSays(const std::string& utf8) {
        const auto lines = rig.logLines();
        return std::ranges::any_of(lines, [&](const std::string& line) {
            return line.find(cp1251(utf8)) != std::string::npos;
        });
    }

    ConsoleRig rig{{.variables = {{"L_upor", "50"}, {"Qty_Imp_mm", "10"}, {"L_BarCode", "9"}}}};
};

TEST_F(WorkRecordTest, ABadLabelBetweenTwoGoodOnesIsOnRecordAsFailedAndTheyAsSent) {
    TForm1& window = rig.window();
    const auto start = rig.clock.now();
    rig.clock.at(start + std::chrono::milliseconds(300), [&] { test::scanner(window, "abc"); });
    rig.clock.at(start + std::chrono::milliseconds(600),
                 [&] { test::scanner(window, "400000002"); });
    test::scanner(window, "400000001");
    const auto records = recordsOnceThereAre(3);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].scan, "400000001");
    EXPECT_EQ(records[0].piece, 400000001);
    EXPECT_EQ(records[0].outcome, DispatchOutcome::Sent);
    EXPECT_EQ(records[0].commandText(), "R_POS600 R2_POS700");
    EXPECT_EQ(records[1].scan, "abc");
    EXPECT_EQ(records[1].outcome, DispatchOutcome::Failed);
    EXPECT_EQ(records[1].message, "'abc' is not a valid integer value");
    EXPECT_TRUE(records[1].commands.empty());
    EXPECT_EQ(records[2].scan, "400000002");
    EXPECT_EQ(records[2].outcome, DispatchOutcome::Sent);
    // "Import size" is on record too, with no scan and no piece.
    rig.console().sendPositions();
    const auto withImport = recordsOnceThereAre(4);
    EXPECT_EQ(withImport.back().scan, std::nullopt);
    EXPECT_EQ(withImport.back().piece, std::nullopt);
    EXPECT_EQ(withImport.back().commandText(), "R_POS1600");
    EXPECT_EQ(withImport.back().counter, 0);
}

TEST_F(WorkRecordTest, APieceScannedAgainGoesOutAndTheStatusLineSaysWhenItWasSentBefore) {
    TForm1& window = rig.window();
    window.show();
    const auto* field = test::control<QLineEdit>(window, "Edit_BarCode");
    const int fieldWidth = field->width();
    test::scan(window, "400000001");
    recordsOnceThereAre(1);
    EXPECT_TRUE(test::waitUntil([&] {
        return test::labelText(window, "Label_Batch") ==
               QString::fromUtf8("Партия B-117: 1 из 3 деталей");
    }));
    const auto* repeat = test::control<QLabel>(window, "Label_Repeat");
    EXPECT_FALSE(repeat->isVisibleTo(&window));

    test::scan(window, "400000001");  // sent again, and said so without a box
    EXPECT_TRUE(test::waitUntil([&] { return repeat->isVisibleTo(&window); }));
    EXPECT_TRUE(repeat->text().startsWith(QString::fromUtf8("400000001 уже обработана ")));
    EXPECT_TRUE(logSays("Деталь 400000001 уже обработана "));
    EXPECT_TRUE(rig.boxes.seen().empty());
    EXPECT_EQ(recordsOnceThereAre(2).size(), 2u);
    const auto commands = rig.commands();
    EXPECT_EQ(std::ranges::count(commands, "R_POS600"), 2);
    // The piece counts once; the next scan of another piece of the batch hides the warning.
    test::scan(window, "400000002");
    EXPECT_FALSE(repeat->isVisibleTo(&window));
    EXPECT_TRUE(test::waitUntil([&] {
        return test::labelText(window, "Label_Batch") ==
               QString::fromUtf8("Партия B-117: 2 из 3 деталей");
    }));
    test::scan(window, "1");  // a short one, and nothing of it found
    QCoreApplication::processEvents();
    EXPECT_EQ(field->width(), fieldWidth);  // whatever the labels beside it say
}

TEST_F(WorkRecordTest, RecordsTheDatabaseRefusesWaitOnDiskThroughAKillAndGoInAtTheNextStart) {
    production().fails = cp1251("нет связи с сервером");
    TForm1& window = rig.window();
    test::scan(window, "400000001");
    test::scan(window, "400000002");
    QTest::mouseClick(test::control<QPushButton>(window, "Button_Lamin"), Qt::LeftButton);
    EXPECT_TRUE(test::waitUntil([&] { return logSays("не записываются в базу данных"); }));
    const auto told = std::ranges::count_if(rig.logLines(), [](const std::string& line) {
        return line.find(cp1251("не записываются в базу данных")) != std::string::npos;
    });
    EXPECT_EQ(told, 1);  // once, not at every scan
    EXPECT_EQ(rig.console().workRecord().unwritten(), 3u);
    rig.endWithoutShutdown();  // killed: only the file has them

    production().fails.clear();
    rig.window();
    const auto records = recordsOnceThereAre(2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].scan, "400000001");
    EXPECT_EQ(records[1].commandText(), "R_POS1600");
    EXPECT_TRUE(logSays("прошлого запуска ещё не в базе: 3"));
    ASSERT_TRUE(test::waitUntil([&] { return production().changes().size() == 1; }));
    const SettingsChange toggle = production().changes()[0];
    EXPECT_EQ(toggle.kind, ChangeKind::Mode);
    EXPECT_EQ(toggle.before.value_or("") + toggle.after.value_or(""), "01");
    EXPECT_EQ(toggle.sent.size(), 4u);
    EXPECT_TRUE(test::waitUntil([&] {
        return std::filesystem::file_size(rig.workspace.path() + "/" + RecordSpool::kFileName) == 0;
    }));
}

}  // namespace
}  // namespace velkor
