#include "AtomicFile.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "IniFile.h"
#include "VelkorError.h"
#include "Workspace.h"

namespace velkor {
namespace {

TEST(AtomicReplace, WritesNewFileAndReplacesOldOneLeavingNoTemporaryFiles) {
    test::Workspace workspace;
    replaceFile(workspace.file("a.txt"), "first");
    replaceFile(workspace.file("a.txt"), "second");
    EXPECT_EQ(workspace.readFile("a.txt"), "second");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(workspace.path()), {}), 1);
}

TEST(AtomicReplace, MissingFolderFailsWithTheReasonAndWritesNothing) {
    test::Workspace workspace;
    const std::string path = workspace.file("missing/a.txt");
    try {
        replaceFile(path, "x");
        FAIL() << "no error";
    } catch (const VelkorError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + path + "\". No such file or directory");
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

using AtomicReplaceDeathTest = ::testing::Test;

TEST_F(AtomicReplaceDeathTest, CrashBetweenWritingAndRenamingLeavesTheOldFileIntact) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    test::Workspace workspace;
    const IniFile ini(workspace.file("Morvel.INI"));
    ini.write("Main", "CNT", "1300");

    // The process dies after the new contents are on disk but before the rename.
    EXPECT_EXIT(replaceFile(ini.path(), "[Main]\r\nCNT=1400\r\n", [] { ::raise(SIGKILL); }),
                ::testing::KilledBySignal(SIGKILL), "");
    EXPECT_EQ(ini.read("MAIN", "CNT"), "1300");
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "[Main]\r\nCNT=1300\r\n");

    // The leftover temporary file does not disturb the next write.
    ini.write("Main", "CNT", "1500");
    EXPECT_EQ(ini.read("MAIN", "CNT"), "1500");
}

}  // namespace
}  // namespace velkor
