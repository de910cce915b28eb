#include "IniFile.h"

#include <gtest/gtest.h>

#include "Text.h"
#include "Workspace.h"

namespace velkor {
namespace {

class IniFileTest : public ::testing::Test {
  protected:
    test::Workspace workspace;
    IniFile ini{workspace.file("Morvel.INI")};
};

TEST_F(IniFileTest, MissingFileReadsAsEmptyAndFirstWriteCreatesIt) {
    EXPECT_EQ(ini.read("Main", "CNT"), std::nullopt);
    ini.write("Main", "CNT", "17");
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=17\r\n");
}

TEST_F(IniFileTest, SectionAndKeyNamesCompareWithoutCase) {
    workspace.writeFile("Morvel.INI", "[main]\ncnt = 1234 \n");
    EXPECT_EQ(ini.read("MAIN", "CNT"), "1234");
    EXPECT_EQ(ini.read("Main", "Cnt"), "1234");
    ini.write("MAIN", "Cnt", "99");
    EXPECT_EQ(ini.read("main", "cnt"), "99");
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[main]\r\nCnt=99\r\n");
}

TEST_F(IniFileTest, KeyInAnotherSectionIsNotFound) {
    workspace.writeFile("Morvel.INI", "[Other]\r\nCNT=5\r\n[Main]\r\nR_DELTA=12,5\r\n");
    EXPECT_EQ(ini.read("Main", "CNT"), std::nullopt);
    EXPECT_EQ(ini.read("Main", "R_DELTA"), "12,5");
}

TEST_F(IniFileTest, WriteKeepsOtherSectionsCommentsAndUnknownLines) {
    workspace.writeFile(
        "Morvel.INI",
        "; service notes\r\n[Main]\r\nCNT=5\r\nstray line\r\n\r\n[Port]\r\nName=ttyUSB0\r\n");
    ini.write("Main", "R_DELTA", "7");
    ini.write("Main", "CNT", "6");
    ini.write("Extra", "Key", cp1251("значение"));
    EXPECT_EQ(workspace.readFile("Morvel.INI"),
              "; service notes\r\n[Main]\r\nCNT=6\r\nstray "
              "line\r\nR_DELTA=7\r\n\r\n[Port]\r\nName=ttyUSB0\r\n"
              "[Extra]\r\nKey=" +
                  cp1251("значение") + "\r\n");
    EXPECT_EQ(ini.read("extra", "KEY"), cp1251("значение"));
}

}  // namespace
}  // namespace velkor
