#include "AtomicFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "ErrorText.h"
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

// An exported log or Morvel.INI whose name another account has pointed elsewhere.
TEST(AtomicReplace, ASymbolicLinkIsRefusedAndWhatItNamesStaysAsItIs) {
    test::Workspace workspace;
    workspace.writeFile("private.txt", "mine");
    std::filesystem::create_symlink(workspace.file("private.txt"), workspace.file("a.log"));
    EXPECT_EQ(test::errorOf([&] { replaceFile(workspace.file("a.log"), "exported"); }),
              "Cannot create file \"" + workspace.file("a.log") +
                  "\". It is a symbolic link, which the console does not follow");
    EXPECT_EQ(workspace.readFile("private.txt"), "mine");
    EXPECT_TRUE(std::filesystem::is_symlink(workspace.file("a.log")));
}

TEST(AtomicReplace, TheNewFileKeepsTheOldOnesOwnerAndPermissions) {
    test::Workspace workspace;
    const std::string path = workspace.file("Morvel.INI");
    replaceFile(path, "first");
    // Another operator account's file, writable by the group they share.
    ASSERT_EQ(::chown(path.c_str(), 4321, 4321), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    replaceFile(path, "second");
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0664u);
    EXPECT_EQ(after.st_uid, 4321u);
    EXPECT_EQ(after.st_gid, 4321u);
    EXPECT_EQ(workspace.readFile("Morvel.INI"), "second");
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

    // The leftover temporary file does not disturb the next write, and goes when asked.
    ini.write("Main", "CNT", "1500");
    EXPECT_EQ(ini.read("MAIN", "CNT"), "1500");
    workspace.writeFile("Morvel.INI.notes", "a file of the service person's");
    workspace.writeFile("Morvel.INI.x7Qz2A", "[Main]\r\nCNT=1400\r\n");  // as a crash leaves it
    EXPECT_EQ(removeLeftoverTemporaries(ini.path()), 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(workspace.path()), {}), 2);
    EXPECT_TRUE(workspace.exists("Morvel.INI.notes"));
}

}  // namespace
}  // namespace velkor
