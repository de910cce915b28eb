#include "Journal.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "LocalMoment.h"
#include "Text.h"
#include "Workspace.h"

namespace velkor {
namespace {

std::chrono::system_clock::time_point at(int year, int month, int day, int hour, int minute,
                                         int second, int millisecond) {
    std::tm local = test::localMoment(year, month, day, hour, minute, second);
    return std::chrono::system_clock::from_time_t(std::mktime(&local)) +
           std::chrono::milliseconds(millisecond);
}

TEST(Journal, StampsEveryLineAndKeepsOneFileADayForItsNumberOfDays) {
    test::Workspace workspace;
    workspace.writeFile("2026-10-01.log", "not in the journal folder");
    std::filesystem::create_directory(workspace.file("journal"));
    workspace.writeFile("journal/2026-10-08.log", "too old");
    workspace.writeFile("journal/2026-10-09.log", "kept");
    workspace.writeFile("journal/notes.log", "no day file");
    {
        Journal journal(workspace.file("journal"), 3);
        EXPECT_FALSE(journal.append(cp1251("Ошибка"), at(2026, 12, 7, 23, 59, 59, 7)));
        EXPECT_FALSE(journal.append("two\nlines", at(2026, 12, 8, 0, 0, 0, 123)));
    }
    EXPECT_EQ(workspace.readFile("journal/2026-12-07.log"),
              "2026-12-07 23:59:59.007 \xCE\xF8\xE8\xE1\xEA\xE0\r\n");
    EXPECT_EQ(workspace.readFile("journal/2026-12-08.log"),
              "2026-12-08 00:00:00.123 two\r\n2026-12-08 00:00:00.123 lines\r\n");
    EXPECT_FALSE(workspace.exists("journal/2026-10-08.log"));
    EXPECT_TRUE(workspace.exists("journal/2026-10-09.log"));
    EXPECT_TRUE(workspace.exists("2026-10-01.log"));
    EXPECT_TRUE(workspace.exists("journal/notes.log"));
}

// A clock that runs 90 days ahead for a moment (a bad RTC, an NTP step) makes one day file of
// the future; the recent days stay, and so do they when the clock is right again.
TEST(Journal, AClockThatRunsAheadRemovesNoRecentDay) {
    test::Workspace workspace;
    std::filesystem::create_directory(workspace.file("journal"));
    std::vector<std::string> recent;
    for (int day = 1; day <= 59; ++day) {
        std::tm local = test::localMoment(2026, 10, 9 + day, 12, 0, 0);
        std::mktime(&local);
        char name[32];
        std::strftime(name, sizeof name, "journal/%Y-%m-%d.log", &local);
        workspace.writeFile(name, "a day\r\n");
        recent.push_back(name);
    }
    {
        Journal journal(workspace.file("journal"), 60);
        EXPECT_FALSE(journal.append("ahead", at(2027, 3, 8, 12, 0, 0, 0)));
    }
    {
        Journal journal(workspace.file("journal"), 60);
        EXPECT_FALSE(journal.append("right again", at(2026, 12, 8, 12, 0, 1, 0)));
    }
    for (std::size_t day = 1; day < recent.size(); ++day) {
        EXPECT_TRUE(workspace.exists(recent[day])) << recent[day];
    }
    EXPECT_FALSE(workspace.exists(recent.front()));  // the one day too many
    EXPECT_TRUE(workspace.exists("journal/2027-03-08.log"));
}

TEST(Journal, ADayFileThatIsASymbolicLinkIsNeverWrittenThrough) {
    test::Workspace workspace;
    std::filesystem::create_directory(workspace.file("journal"));
    workspace.writeFile("private.txt", "mine");
    std::filesystem::create_symlink(workspace.file("private.txt"),
                                    workspace.file("journal/2026-12-08.log"));
    Journal journal(workspace.file("journal"));
    const auto trouble = journal.append("line", at(2026, 12, 8, 8, 0, 0, 0));
    ASSERT_TRUE(trouble);
    EXPECT_NE(trouble->find("symbolic link"), std::string::npos) << cp1251ToUtf8(*trouble);
    EXPECT_EQ(workspace.readFile("private.txt"), "mine");
}

TEST(Journal, AJournalThatCannotBeWrittenSaysSoOnceUntilItWorksAgain) {
    test::Workspace workspace;
    workspace.writeFile("journal", "a file where the folder should be");
    Journal journal(workspace.file("journal"));
    const auto first = journal.append("a");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->find(cp1251("Журнал не записывается (") + workspace.file("journal")), 0u)
        << cp1251ToUtf8(*first);
    EXPECT_FALSE(journal.append("b"));
    std::filesystem::remove(workspace.file("journal"));
    EXPECT_FALSE(journal.append("c"));  // the missing folder is made
    EXPECT_NE(
        workspace
            .readFile("journal/" + std::filesystem::directory_iterator(workspace.file("journal"))
                                       ->path()
                                       .filename()
                                       .string())
            .find(" c\r\n"),
        std::string::npos);
}

// A controller streaming one report, then a noisy line: the day files together stay under the
// ceiling, the oldest going first, and a line that keeps coming is written once with its count.
TEST(Journal, AStreamingLineNeitherFillsTheFolderNorWritesARepeatMoreThanOnce) {
    test::Workspace workspace;
    std::filesystem::create_directory(workspace.file("journal"));
    workspace.writeFile("journal/2026-12-06.log", std::string(3000, 'x'));
    workspace.writeFile("journal/2026-12-07.log", std::string(3000, 'y'));
    const auto folderBytes = [&] {
        std::uintmax_t bytes = 0;
        for (const auto& day : std::filesystem::directory_iterator(workspace.file("journal"))) {
            bytes += day.file_size();
        }
        return bytes;
    };
    Journal journal(workspace.file("journal"), 60, {.folderBytes = 8192, .freeBytes = 0});
    const auto morning = at(2026, 12, 8, 8, 0, 0, 0);
    for (int report = 0; report < 1000; ++report) {
        EXPECT_FALSE(journal.append("<0;12;0;0>", morning + std::chrono::milliseconds(report)));
    }
    EXPECT_FALSE(journal.append("<1;12;0;0>", morning + std::chrono::seconds(2)));
    EXPECT_EQ(workspace.readFile("journal/2026-12-08.log"),
              "2026-12-08 08:00:00.000 <0;12;0;0>\r\n" + std::string("2026-12-08 08:00:00.999 ") +
                  cp1251("(строка выше повторилась ещё раз: 999)") +
                  "\r\n2026-12-08 08:00:02.000 <1;12;0;0>\r\n");

    std::optional<std::string> trouble;
    for (int noise = 0; noise < 400 && !trouble; ++noise) {
        trouble = journal.append("noise " + std::to_string(noise),
                                 morning + std::chrono::seconds(3 + noise));
        EXPECT_LE(folderBytes(), 8192u);
    }
    EXPECT_FALSE(workspace.exists("journal/2026-12-06.log"));
    EXPECT_FALSE(workspace.exists("journal/2026-12-07.log"));
    ASSERT_TRUE(trouble);  // today alone has reached the ceiling: said once
    EXPECT_NE(trouble->find(cp1251("день занял всё место журнала (8 КБ)")), std::string::npos)
        << cp1251ToUtf8(*trouble);
    EXPECT_FALSE(journal.append("more noise", morning + std::chrono::minutes(10)));
    EXPECT_LE(folderBytes(), 8192u);
    // The next day starts over, in the room the old day leaves.
    EXPECT_FALSE(journal.append("next day", at(2026, 12, 9, 8, 0, 0, 0)));
    EXPECT_TRUE(workspace.exists("journal/2026-12-09.log"));
    EXPECT_LE(folderBytes(), 8192u);
}

// A disk with less free space than the floor gets nothing more from the journal.
TEST(Journal, ADiskShortOfItsFloorOfFreeSpaceGetsNothing) {
    test::Workspace workspace;
    Journal journal(workspace.file("journal"), 60,
                    {.folderBytes = 1 << 20, .freeBytes = std::uintmax_t{1} << 60});
    const auto trouble = journal.append("line", at(2026, 12, 8, 8, 0, 0, 0));
    ASSERT_TRUE(trouble);
    EXPECT_NE(trouble->find(cp1251("на диске меньше 1099511627776 МБ свободного места")),
              std::string::npos)
        << cp1251ToUtf8(*trouble);
    EXPECT_EQ(workspace.readFile("journal/2026-12-08.log"), "");
}

}  // namespace
}  // namespace velkor
