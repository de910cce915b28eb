// The production record on the embedded engine: the table in an older database, a record that
// goes in whole and once, the server's time, and what two workstations' records add up to.
#include "RecordBook.h"

#include <gtest/gtest.h>

#include "JobDatabase.h"
#include "JobRowWriter.h"
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

}  // namespace
}  // namespace velkor
