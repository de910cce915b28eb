#include "EventLog.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "LocalMoment.h"
#include "Text.h"
#include "VelkorError.h"
#include "Workspace.h"

namespace velkor {
namespace {

std::tm moment(int year, int month, int day, int hour, int minute, int second) {
    return test::localMoment(year, month, day, hour, minute, second);
}

TEST(LogFileName, DayMonthYearThenHourMinuteThenSecondWithLeadingZeros) {
    EXPECT_EQ(logFileName(moment(2026, 12, 31, 23, 59, 59)), "31-12-2026_2359_59");
    EXPECT_EQ(logFileName(moment(2026, 12, 6, 9, 5, 7)), "06-12-2026_0905_07");
    EXPECT_EQ(logFileName(moment(2027, 1, 1, 0, 0, 0)), "01-01-2027_0000_00");
}

TEST(EventLog, TellsItsObserverOfEveryLineAndEveryClear) {
    EventLog log;
    std::vector<std::string> shown;
    log.setObserver(
        {[&](const std::string& line) { shown.push_back(line); }, [&] { shown.clear(); }, {}});
    log.append("->Lamin1");
    log.append("Lamin1");
    EXPECT_EQ(shown, log.lines());
    log.clear();
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(shown.empty());
}

TEST(EventLog, KeepsItsNewestLinesAsAViewShowsThemAndSaysHowManyWent) {
    EventLog log(10);
    std::vector<std::string> notices;
    log.setObserver({{}, {}, [&](const std::string& notice) { notices.push_back(notice); }});
    for (int i = 0; i < 30; ++i) {
        log.append(i == 25 ? "two\nlines" : std::to_string(i));
    }
    // Ten lines as shown, the two-line packet counting twice, and the notice before them.
    const auto lines = log.lines();
    EXPECT_EQ(lines, (std::vector<std::string>{cp1251("(старые строки удалены из окна: 21; все "
                                                      "строки есть в папке journal)"),
                                               "21", "22", "23", "24", "two\nlines", "26", "27",
                                               "28", "29"}));
    ASSERT_EQ(notices.size(), 20u);  // once for every line beyond the first ten
    EXPECT_EQ(notices.back(), lines.front());
    log.clear();
    log.append("after");
    EXPECT_EQ(log.lines(), std::vector<std::string>{"after"});
}

class LogExportTest : public ::testing::Test {
  protected:
    test::Workspace workspace;
    const std::tm newYearsEve = moment(2026, 12, 31, 23, 59, 59);
};

TEST_F(LogExportTest, WritesEveryLineInWindows1251EndedByCrLf) {
    std::filesystem::create_directory(workspace.file("log"));
    const std::vector<std::string> lines = {
        workspace.file("KV.GDB"), cp1251("Ошибка подключения ttyS0"), "GET_ALL;CNT=17;", ""};
    const std::string path = exportEventLog(lines, workspace.path(), newYearsEve);
    EXPECT_EQ(path, workspace.file("log/31-12-2026_2359_59.log"));
    EXPECT_EQ(workspace.readFile("log/31-12-2026_2359_59.log"),
              workspace.file("KV.GDB") +
                  "\r\n\xCE\xF8\xE8\xE1\xEA\xE0 \xEF\xEE\xE4\xEA\xEB\xFE\xF7\xE5\xED\xE8\xFF "
                  "ttyS0\r\nGET_ALL;CNT=17;\r\n\r\n");
}

TEST_F(LogExportTest, APacketWithLineBreaksIsWrittenAsTheLinesTheWindowShows) {
    std::filesystem::create_directory(workspace.file("log"));
    exportEventLog({"build\ntime\r\n12\rend", "next"}, workspace.path(), newYearsEve);
    EXPECT_EQ(workspace.readFile("log/31-12-2026_2359_59.log"),
              "build\r\ntime\r\n12\r\nend\r\nnext\r\n");
}

TEST_F(LogExportTest, AnEmptyLogWritesAnEmptyFileAndASecondExportReplacesTheFirst) {
    std::filesystem::create_directory(workspace.file("log"));
    exportEventLog({"first"}, workspace.path(), newYearsEve);
    exportEventLog({}, workspace.path(), newYearsEve);
    EXPECT_TRUE(workspace.exists("log/31-12-2026_2359_59.log"));
    EXPECT_EQ(workspace.readFile("log/31-12-2026_2359_59.log"), "");
}

TEST_F(LogExportTest, AMissingLogFolderIsNotCreatedAndTheErrorNamesTheFile) {
    try {
        exportEventLog({"line"}, workspace.path(), newYearsEve);
        FAIL() << "no error";
    } catch (const VelkorError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" +
                                             workspace.file("log/31-12-2026_2359_59.log") +
                                             "\". No such file or directory");
    }
    EXPECT_FALSE(workspace.exists("log"));
}

}  // namespace
}  // namespace velkor
