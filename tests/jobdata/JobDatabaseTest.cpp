#include "JobDatabase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "ErrorText.h"
#include "JobRowWriter.h"
#include "ReadBack.h"
#include "Text.h"
#include "Workspace.h"

namespace velkor {
namespace {

using test::errorOf;

using test::readBack;

class JobDatabaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        workspace.createDatabase({{"SH_S", "500"}, {"VOZVRAT", "abc"}, {"setSpeed", "800"}});
    }

    std::string path() const { return workspace.file("KV.GDB"); }

    test::Workspace workspace;
};

TEST_F(JobDatabaseTest, ConnectStartsTheTransactionAndReadsKeepItWritesCommitIt) {
    JobDatabase db;
    db.connect(path());
    EXPECT_TRUE(db.connected());
    EXPECT_TRUE(db.inTransaction());
    EXPECT_EQ(db.readVariables().size(), 3u);
    EXPECT_TRUE(db.inTransaction());
    db.updateVariable("SETSPEED", "900");
    EXPECT_FALSE(db.inTransaction());
    db.readVariables();
    EXPECT_TRUE(db.inTransaction());
}

// Start-up trims and compares the keys itself: the engine hands them over as they were stored,
// blanks, control characters and case included; an update finds its row whatever the key's case.
TEST(JobDatabaseVariables, KeysAndValuesComeBackAsStoredAndUpdatesIgnoreTheKeysCase) {
    test::Workspace workspace;
    workspace.createDatabase({{"  SH_S\t\x01", "12.5"}, {"sh_s", "99"}, {"setSpeed_L", "7,5 "}});
    JobDatabase db;
    db.connect(workspace.file("KV.GDB"));
    db.updateVariable("SETSPEED_L", "700");
    std::vector<std::pair<std::string, std::string>> rows;
    for (const VariableRow& row : db.readVariables()) {
        rows.emplace_back(row.key, row.value);
    }
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::pair<std::string, std::string>>{
                        {"  SH_S\t\x01", "12.5"}, {"setSpeed_L", "700"}, {"sh_s", "99"}}));
}

TEST_F(JobDatabaseTest, ValuesWithQuotesAreStoredExactlyAndCannotChangeTheStatement) {
    const std::string hostile = "it's'; update VARIABLES set VAR_STR = 'x' where '1'='1";
    {
        JobDatabase db;
        db.connect(path());
        db.updateVariable("VOZVRAT", hostile);
        db.updateVariable("VOZVRAT_L", "no such row");  // changes nothing, reports nothing
        JobRowWriter rows(db);
        const auto bar = rows.insertBatch("O'Brien");
        rows.insertPiece(bar,
                         {"123.4", "45.0", "90.0", "7", "3", "12", "123456789", cp1251("ЛЕВ'АЯ")});
        EXPECT_EQ(rows.findHoleType("SCREW' or '1'='1"), std::nullopt);
        EXPECT_EQ(rows.findHoleType("HANDLE"), "3");
        // A value longer than any before it gets a wider field, which the engine checks
        // against the column; shorter values fit again.
        EXPECT_NE(errorOf([&] { rows.findHoleType(std::string(200, 'H')); }).find("truncation"),
                  std::string::npos);
        EXPECT_EQ(errorOf([&] { rows.findHoleType(std::string(40000, 'H')); }),
                  "Value of 40000 bytes is longer than any text column");
        EXPECT_EQ(rows.findHoleType("SCREW"), "1");
        rows.commit();
    }
    const auto variables = readBack(path(), "select kods, var_str from variables order by kods");
    ASSERT_EQ(variables.size(), 3u);
    EXPECT_EQ(variables[0][1].asText(), "500");
    EXPECT_EQ(variables[1][1].asText(), hostile);
    EXPECT_EQ(variables[2][1].asText(), "800");
    EXPECT_EQ(readBack(path(), "select name from grorders")[0][0].asText(), "O'Brien");
    EXPECT_EQ(readBack(path(), "select rcomment from optdetail")[0][0].asText(), cp1251("ЛЕВ'АЯ"));
}

TEST_F(JobDatabaseTest, ChildrenLinkToTheKeysTheirParentsInsertsReturned) {
    JobDatabase db;
    db.connect(path());
    {
        JobRowWriter rows(db);
        for (int batch = 0; batch < 2; ++batch) {
            const auto bar = rows.insertBatch("batch");
            EXPECT_EQ(rows.latestBarKey(), bar);
            // Another workstation on the same server adds a batch of its own meanwhile.
            FirebirdSession other;
            other.attach(path());
            other.startTransaction();
            other.execute("insert into grorders (name) values ('other')");
            other.execute(
                "insert into optimized (grordersid, qty) values (gen_id(gen_grorders_id, 0), 1)");
            other.commit();
            EXPECT_NE(rows.latestBarKey(), bar);
            const auto piece =
                rows.insertPiece(bar, {"1200.0", "45.0", "45.0", "1", "0", "0",
                                       std::to_string(555000 + batch), std::nullopt});
            EXPECT_EQ(rows.latestPieceKey(), piece);
            rows.insertHole(piece, "1", "400");
            rows.insertHole(piece, "1", "100");
            rows.insertHole(piece, "3", "250.5");
            rows.insertHole(piece, "1", "100");  // a second hole at the same place is one position
        }
        rows.commit();
    }
    {
        JobRowWriter rows(db);
        rows.insertBatch("not committed");
    }
    EXPECT_EQ(readBack(path(), "select count(*) from grorders")[0][0].asInteger(), 4);
    EXPECT_EQ(db.readPiecePositions("555001"),
              (std::vector<std::optional<double>>{100, 250.5, 400}));
    EXPECT_EQ(db.readPiecePositions("555000"),
              (std::vector<std::optional<double>>{100, 250.5, 400}));
    EXPECT_TRUE(db.readPiecePositions("999").empty());

    const auto bars =
        readBack(path(),
                 "select o.grordersid, o.qty, g.kod, o.longprof, o.ostat, o.colorin, o.coloruot "
                 "from optimized o join goods g on g.goodsid = o.goodsid order by 1");
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_EQ(bars[1][0].asInteger(), 3);  // the other workstation's batch was 2
    EXPECT_EQ(bars[1][2].asText(), "VIRT");
    const auto pieces = readBack(
        path(), "select optimizedid, itemlong, optdetailid_in, rcomment from optdetail order by 1");
    EXPECT_EQ(pieces[1][0].asInteger(), 3);  // its own bar, not the other's bar 4
    EXPECT_DOUBLE_EQ(pieces[1][1].asReal(), 1200.0);
    EXPECT_TRUE(pieces[1][3].isNull());
    EXPECT_EQ(readBack(path(), "select count(*) from perforation where optdetailid = 2")[0][0]
                  .asInteger(),
              4);
}

TEST_F(JobDatabaseTest, ABarcodeThatIsNotANumberIsRejectedByTheDatabase) {
    JobDatabase db;
    db.connect(path());
    const std::string error = errorOf([&] { db.readPiecePositions("12a"); });
    EXPECT_NE(error.find("conversion error"), std::string::npos) << error;
}

TEST_F(JobDatabaseTest, AFailedStatementLeavesTheTransactionForTheNextWriteToCommit) {
    JobDatabase db;
    db.connect(path());
    db.readVariables();
    EXPECT_NE(errorOf([&] { db.updateVariable("SH_S", std::string(300, 'x')); }), "no error");
    EXPECT_TRUE(db.inTransaction());
    db.updateVariable("SH_S", "12.5");
    EXPECT_FALSE(db.inTransaction());
    EXPECT_EQ(readBack(path(), "select var_str from variables where kods = 'SH_S'")[0][0].asText(),
              "12.5");
}

TEST_F(JobDatabaseTest, AfterAFailedConnectReadsAndUpdatesConnectAgain) {
    const std::string later = workspace.file("later/KV.GDB");
    JobDatabase db;
    const std::string connectError = errorOf([&] { db.connect(later); });
    EXPECT_NE(connectError.find("later/KV.GDB"), std::string::npos) << connectError;
    EXPECT_FALSE(db.connected());

    EXPECT_NE(errorOf([&] { db.updateVariable("SH_S", "1"); }).find("later/KV.GDB"),
              std::string::npos);
    EXPECT_NE(errorOf([&] { db.readVariables(); }), "no error");
    EXPECT_FALSE(db.connected());

    // The file turns up (a network share mounted late, say): the next statement connects.
    std::filesystem::create_directory(workspace.file("later"));
    std::filesystem::copy_file(path(), later);
    db.updateVariable("SH_S", "1");
    EXPECT_TRUE(db.connected());
    EXPECT_EQ(db.readVariables().size(), 3u);
    EXPECT_EQ(readBack(later, "select var_str from variables where kods = 'SH_S'")[0][0].asText(),
              "1");
}

TEST(GeneratedDatabase, HasTheLookupTablesAndScannablePieces) {
    test::Workspace workspace;
    workspace.createDatabase({}, 3);
    JobDatabase db;
    db.connect(workspace.file("KV.GDB"));
    EXPECT_EQ(db.readPiecePositions("100000003"),
              (std::vector<std::optional<double>>{100, 250.5, 400}));
    EXPECT_TRUE(db.readPiecePositions("100000004").empty());
    EXPECT_EQ(JobRowWriter(db).findHoleType("SCREW"), "1");
    const auto virt =
        readBack(workspace.file("KV.GDB"), "select count(*) from goods where kod = 'VIRT'");
    EXPECT_EQ(virt[0][0].asInteger(), 1);
}

TEST(GeneratedDatabase, WorksInAFolderWithCyrillicLetters) {
    test::Workspace workspace;
    const std::string folder = workspace.file("Цех №1");
    std::filesystem::create_directory(folder);
    const std::string command = std::string(VELKOR_MAKEDB) + " --pieces 1 '" + folder + "/KV.GDB'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    JobDatabase db;
    db.connect(folder + "/KV.GDB");
    EXPECT_EQ(db.readPiecePositions("100000001"),
              (std::vector<std::optional<double>>{100, 250.5, 400}));
}

}  // namespace
}  // namespace velkor
