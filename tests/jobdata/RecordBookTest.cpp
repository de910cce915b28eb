// The record on the embedded engine: the tables in an older database, a record that goes in
// whole and once, the server's time, what two workstations' records add up to, and the settings
// history as evidence.
#include "RecordBook.h"

#include <gtest/gtest.h>

#include "ErrorText.h"
#include "JobDatabase.h"
#include "JobRowWriter.h"
#include "SettingsHistory.h"
#include "Workspace.h"

namespace velkor {
namespace {

using namespace std::chrono_literals;

DispatchRecord recordOf(const std::string& key, const std::string& workstation,
                        std::optional<std::int64_t> piece, DispatchOutcome outcome) {
    DispatchRecord record;
    record.key = key;
    record.begun = std::chrono::system_clock::now();
    record.workstation = workstation;
    record.account = "operator";
    record.scan = "  700000001";
    record.barcode = 700000001;
    record.piece = piece;
    record.commands = {"R_POS600", "R2_POS700"};
    record.outcome = outcome;
    record.counter = 41;
    return record;
}

class RecordBookTest : public ::testing::Test {
  protected:
    void SetUp() override {
        workspace.createDatabase();
        database.connect(workspace.file("KV.GDB"));
        JobRowWriter rows(database);
        const auto batch = rows.insertBatch("B-117");
        for (const char* barcode : {"700000001", "700000002", "700000003"}) {
            pieces.push_back(rows.insertPiece(
                batch, {"1000.0", "45.0", "45.0", "1", "1", "1", barcode, std::nullopt}));
        }
        rows.commit();
    }

    test::Workspace workspace;
    JobDatabase database;
    std::vector<std::int64_t> pieces;
};

TEST_F(RecordBookTest, AnOlderDatabaseGetsTheTableAndARecordGoesInWholeAndOnce) {
    database.write("drop table PRODUCTION", {});
    const auto book = makeFirebirdRecordBook();
    book->open(workspace.file("KV.GDB"));
    EXPECT_EQ(database
                  .read("select count(*) from rdb$indices where rdb$relation_name = "
                        "'PRODUCTION' and rdb$index_name starting with 'PRODUCTION_'",
                        {})[0][0]
                  .asInteger(),
              4);

    DispatchRecord stopped = recordOf("k1", "ws-1", pieces[0], DispatchOutcome::Stopped);
    stopped.stoppedAt = 3;
    stopped.message = "'12x' is not a valid floating point value";
    book->enter(stopped, 90s);  // begun a minute and a half ago, on the server's clock
    book->enter(stopped, 90s);  // again after a crash: still one row
    DispatchRecord dropped = recordOf("k2", "ws-1", std::nullopt, DispatchOutcome::Dropped);
    dropped.scan.reset();
    dropped.barcode.reset();
    dropped.commands.clear();
    book->enter(dropped, 0s);

    const auto rows = database.read(
        "select RECORDKEY, datediff(second from DISPATCHED to current_timestamp), WORKSTATION, "
        "ACCOUNT, SCAN, BARCODE, OPTDETAILID, BATCH, COMMANDS, OUTCOME, STOPPEDAT, MESSAGE, "
        "COUNTER from PRODUCTION order by RECORDKEY",
        {});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0].asText(), "k1" + std::string(30, ' '));
    EXPECT_NEAR(static_cast<double>(rows[0][1].asInteger()), 90, 5);
    EXPECT_EQ(rows[0][4].asText(), "  700000001");
    EXPECT_EQ(rows[0][5].asInteger(), 700000001);
    EXPECT_EQ(rows[0][6].asInteger(), pieces[0]);
    EXPECT_EQ(rows[0][7].asText(), "B-117");
    EXPECT_EQ(rows[0][8].asText(), "R_POS600 R2_POS700");
    EXPECT_EQ(rows[0][9].asText(), "STOPPED");
    EXPECT_EQ(rows[0][10].asInteger(), 3);
    EXPECT_EQ(rows[0][11].asText(), stopped.message);
    EXPECT_EQ(rows[0][12].asInteger(), 41);
    EXPECT_TRUE(rows[1][4].isNull());
    EXPECT_TRUE(rows[1][6].isNull());
    EXPECT_TRUE(rows[1][10].isNull());
    EXPECT_EQ(rows[1][9].asText(), "DROPPED");
}

TEST_F(RecordBookTest, ABatchCountsEachSentPieceOnceWhicheverWorkstationSentIt) {
    const auto book = makeFirebirdRecordBook();
    book->open(workspace.file("KV.GDB"));
    EXPECT_FALSE(book->latestSentOf(700000001));
    book->enter(recordOf("a", "ws-1", pieces[0], DispatchOutcome::Sent), 60s);
    book->enter(recordOf("b", "ws-2", pieces[0], DispatchOutcome::Sent), 0s);
    book->enter(recordOf("c", "ws-1", pieces[1], DispatchOutcome::Stopped), 0s);
    const auto progress = book->progressOfPiece(pieces[2]);
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->batch, "B-117");
    EXPECT_EQ(progress->done, 1);
    EXPECT_EQ(progress->total, 3);
    const auto earlier = book->latestSentOf(700000001);
    ASSERT_TRUE(earlier);
    EXPECT_EQ(earlier->workstation, "ws-2");
    EXPECT_EQ(earlier->when.size(), std::string("09.12 14:32").size());
    EXPECT_FALSE(book->progressOfPiece(999999));
}

// An older database gets the history with the trigger that keeps it; a row goes in once and
// can then be neither changed nor deleted; a parameter's value at a past moment follows from the
// changes stored, whoever made them, and not from one the database refused.
TEST_F(RecordBookTest, TheSettingsHistoryIsKeptAsEvidenceAndGivesEachPastValue) {
    database.write("drop table SETTINGSHISTORY", {});
    database.write("insert into VARIABLES (KODS, VAR_STR) values ('SH_S', '500')", {});
    database.write("insert into VARIABLES (KODS, VAR_STR) values ('setSpeed', '700')", {});
    EXPECT_EQ(database.updateVariable("SH_S", "530"), "500");  // what an apply replaced
    const auto book = makeFirebirdRecordBook();
    book->open(workspace.file("KV.GDB"));
    const auto enter = [&](const char* key, const char* workstation, const char* before,
                           const char* after, ChangeOutcome outcome, std::chrono::hours age) {
        SettingsChange change;
        change.key = key;
        change.workstation = workstation;
        change.account = "service";
        change.subject = "SH_S";
        change.before = before;
        change.after = after;
        change.sent = {"SH_S5100"};
        change.outcome = outcome;
        book->enterChange(change, age);
    };
    enter("first", "ws-1", "500", "510", ChangeOutcome::Stored, 3h);
    enter("first", "ws-1", "500", "510", ChangeOutcome::Stored, 3h);  // after a crash: once
    enter("refused", "ws-2", "510", "520", ChangeOutcome::Unstored, 2h);
    enter("second", "ws-2", "510", "530", ChangeOutcome::Stored, 1h);

    const auto lines = readHistoryLines(database, {.subject = "SH_S"});
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].columns[13], "second");  // newest first
    EXPECT_EQ(lines[2].columns[13], "first");
    EXPECT_EQ(lines[2].columns[7], "SH_S5100");
    EXPECT_EQ(readHistoryLines(database, {.workstation = "ws-1"}).size(), 1u);
    for (const char* change :
         {"delete from SETTINGSHISTORY", "update SETTINGSHISTORY set AFTER = '999'"}) {
        EXPECT_NE(test::errorOf([&] { database.write(change, {}); }).find("SETTINGSHISTORY_KEPT"),
                  std::string::npos)
            << change;
    }
    EXPECT_EQ(readHistoryLines(database, {}).size(), 3u);

    const auto at = [&](const char* minutesAgo) {
        const std::string moment =
            database
                .read(std::string("select cast(dateadd(-") + minutesAgo +
                          " minute to current_timestamp) as varchar(24)) from rdb$database",
                      {})[0][0]
                .asText();
        return settingsAt(database, moment, {"SH_S", "SETSPEED"});
    };
    using Values = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(at("240"), (Values{{"SH_S", "500"}, {"SETSPEED", "700"}}));
    EXPECT_EQ(at("150"), (Values{{"SH_S", "510"}, {"SETSPEED", "700"}}));
    EXPECT_EQ(at("90"), (Values{{"SH_S", "510"}, {"SETSPEED", "700"}}));
    EXPECT_EQ(at("0"), (Values{{"SH_S", "530"}, {"SETSPEED", "700"}}));
}

}  // namespace
}  // namespace velkor
