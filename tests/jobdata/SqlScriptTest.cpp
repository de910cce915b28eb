#include "SqlScript.h"

#include <gtest/gtest.h>

#include "Schema.h"

namespace velkor {
namespace {

TEST(SqlScript, SplitsAtTheCurrentTerminatorAndDropsIsqlCommands) {
    const auto statements = splitSqlScript(
        "SET SQL DIALECT 3;\n"
        "-- a comment; with a terminator\n"
        "CREATE TABLE A (X VARCHAR(10));\n"
        "SET TERM ^ ;\n"
        "CREATE TRIGGER T FOR A BEFORE INSERT AS BEGIN NEW.X = 'a;b'; END^\n"
        "SET TERM ; ^\n"
        "INSERT INTO A VALUES ('it''s; fine');\n"
        "COMMIT;\n"
        "INSERT INTO A VALUES ('last')");
    ASSERT_EQ(statements.size(), 4u);
    EXPECT_EQ(statements[0], "CREATE TABLE A (X VARCHAR(10))");
    EXPECT_EQ(statements[1], "CREATE TRIGGER T FOR A BEFORE INSERT AS BEGIN NEW.X = 'a;b'; END");
    EXPECT_EQ(statements[2], "INSERT INTO A VALUES ('it''s; fine')");
    EXPECT_EQ(statements[3], "INSERT INTO A VALUES ('last')");
}

TEST(SqlScript, TheSchemaIsPlainAsciiSoIsqlReadsItUnderAnyCharacterSet) {
    for (const char c : jobDatabaseSchema()) {
        ASSERT_LT(static_cast<unsigned char>(c), 128u);
    }
    EXPECT_GT(splitSqlScript(jobDatabaseSchema()).size(), 10u);
}

}  // namespace
}  // namespace velkor
