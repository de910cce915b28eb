#include "ControllerProtocol.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>
#include <ctime>

#include "ErrorText.h"
#include "MachineParameters.h"
#include "Numbers.h"
#include "ProbeReports.h"
#include "ReplyHandler.h"
#include "SettingsPush.h"
#include "TestClock.h"
#include "Text.h"

namespace velkor {
namespace {

TEST(ImpulseText, TruncatesTheExtendedPrecisionProductTowardZero) {
    EXPECT_EQ(impulseTextOf("12,34", 20), "246");
    EXPECT_EQ(impulseTextOf("0,04", 20), "0");
    EXPECT_EQ(impulseTextOf("-1,26", 20), "-25");
    EXPECT_EQ(impulseTextOf(" -0,04 ", 20), "0");
    const long double factor = readReal("16,3");  // just below 16.3 in 80 bits
    EXPECT_EQ(impulseText(100, factor), "1629");
    EXPECT_EQ(impulseText(300, factor), "4890");
    EXPECT_EQ(impulseText(10, factor), "163");
    EXPECT_EQ(impulseText(250, factor), "4074");
    EXPECT_EQ(impulseText(-10, factor), "-163");
    EXPECT_EQ(impulseTextOf("0,05", factor), "0");
    EXPECT_EQ(impulseText(500, 0), "0");
    EXPECT_THROW(impulseTextOf("12.5", 10), std::exception);
}

// The controller counts in a 32-bit integer; a length beyond it is refused whole, never cut.
TEST(ImpulseText, OnlyWhatTheControllerCanHoldIsWritten) {
    EXPECT_EQ(impulseText(214748364.7L, 10), "2147483647");
    EXPECT_EQ(impulseText(-214748364.8L, 10), "-2147483648");
    for (const long double millimetres : {1e20L, 1e308L, -1e10L, HUGE_VALL, 214748364.8L}) {
        EXPECT_NE(test::errorOf([&] {
                      impulseText(millimetres, 10);
                  }).find(cp1251("не умещается в число контроллера")),
                  std::string::npos)
            << static_cast<double>(millimetres);
    }
}

// The push goes out whole or not at all: every setting it needs is there, the factor is not 0.
TEST(SettingsPush, MissingSettingsOrAZeroFactorSendNothing) {
    MachineVariables loaded;
    loaded.given = {"Qty_Imp_mm", "SH_S"};
    loaded.Qty_Imp_mm = 10;
    const std::string missing = test::errorOf([&] { settingsPushCommands(loaded); });
    EXPECT_NE(missing.find(" setSpeed, setAccel, S_SH_S"), std::string::npos) << missing;
    for (const auto& definition : machineParameters()) {
        loaded.given.emplace(definition.key);
    }
    EXPECT_EQ(settingsPushCommands(loaded).size(), 14u);
    loaded.Qty_Imp_mm = 0;
    EXPECT_NE(test::errorOf([&] { settingsPushCommands(loaded); }).find("Qty_Imp_mm"),
              std::string::npos);
}

TEST(GeneralText, FifteenDigitsDecimalCommaNoTrailingZeros) {
    EXPECT_EQ(generalText(readReal("16,3")), "16,3");
    EXPECT_EQ(generalText(300), "300");
    EXPECT_EQ(generalText(readReal("250,5") - 50), "200,5");
    EXPECT_EQ(generalText(readReal("-0,04")), "-0,04");
}

TEST(Replies, ReportsAreRecognisedAfterBlanksAndRepliesLoseTheirSeparators) {
    EXPECT_TRUE(isStateReport("  GET_ALL;CNT=1;"));
    EXPECT_FALSE(isStateReport("GET_AL"));
    EXPECT_FALSE(isStateReport("xGET_ALL"));
    EXPECT_EQ(replyText("SH_S=1234;"), "SH_S1234");
    EXPECT_EQ(replyText(" Lamin=1;"), " Lamin1");
}

class ReplyHandlerTest : public ::testing::Test {
  protected:
    ReplyHandlerTest() { startCountingFrom("100"); }

    // Start-up read `saved` from Morvel.INI as the counter's base.
    void startCountingFrom(const std::string& saved) {
        ini.write("Main", "CNT", saved);
        counter.readAtStartUp(ini, std::tm{});
        counters.clear();
    }

    QTemporaryDir folder;
    IniFile ini{folder.filePath(QStringLiteral("Morvel.INI")).toStdString()};
    EventLog eventLog;
    std::vector<std::string> counters;  // every text the counter showed
    ProductionCounter counter{eventLog, [this] { counters.push_back(counter.text()); }};
    test::TestClock clock;
    ProbeReports reports;
    ReplyHandler handler{eventLog, counter, clock, [this](Clock::TimePoint now) {
                             return reports.reportSeen(now) && counter.saving();
                         }};
};

TEST_F(ReplyHandlerTest, AReportSetsCounterAndOutputAndIsNotLogged) {
    handler.handle("GET_ALL;CNT=17;setOut=2;");
    EXPECT_EQ(counters, std::vector<std::string>{"117"});
    EXPECT_EQ(handler.outputState(), 2);
    EXPECT_TRUE(eventLog.lines().empty());
    EXPECT_EQ(reports.autoPush(), ProbeReports::AutoPush::Armed);
    EXPECT_EQ(handler.lastReply(), "");
}

TEST_F(ReplyHandlerTest, AfterShowTheNextReportIsLoggedOnceVerbatim) {
    handler.showNextStateReport();
    handler.handle(" GET_ALL;CNT=1;\r\n");
    handler.handle("GET_ALL;CNT=2;");
    EXPECT_EQ(eventLog.lines(), std::vector<std::string>{" GET_ALL;CNT=1;\r\n"});
    EXPECT_EQ(counters, (std::vector<std::string>{"101", "102"}));
}

TEST_F(ReplyHandlerTest, FieldsAreCutToFiveCharactersAndBadValuesAreReportedNotRaised) {
    handler.handle("GET_ALL;CNT=1234567;setOut=ab;");
    EXPECT_EQ(counters, std::vector<std::string>{"12445"});
    EXPECT_EQ(eventLog.lines(), std::vector<std::string>{"ERROR_Out ab"});

    // A count that is not a number leaves the counter alone; the other fields still count.
    handler.handle("GET_ALL;CNT=1a;setOut=7;");
    EXPECT_EQ(counters.size(), 1u);
    EXPECT_EQ(handler.outputState(), 7);
    EXPECT_EQ(eventLog.lines().back(), "ERROR_CNT 1a");
}

TEST_F(ReplyHandlerTest, FieldsAreReadFromLastToFirstSoTheFirstCountStays) {
    handler.handle("GET_ALL;CNT=5;CNT=9");
    EXPECT_EQ(counters, (std::vector<std::string>{"109", "105"}));
    handler.handle("GET_ALL\nCNT=3\r\nsetOut=4");
    EXPECT_EQ(counters.back(), "103");
    EXPECT_EQ(handler.outputState(), 4);
}

TEST_F(ReplyHandlerTest, OtherPacketsAreLoggedAndBecomeTheLastReply) {
    handler.handle("SH_S=1234;");
    handler.handle("build_time: 2021");
    EXPECT_EQ(eventLog.lines(), (std::vector<std::string>{"SH_S=1234;", "build_time: 2021"}));
    EXPECT_EQ(handler.lastReply(), "build_time: 2021");
    handler.handle("Lamin=1;");
    EXPECT_EQ(handler.lastReply(), "Lamin1");
    EXPECT_EQ(reports.autoPush(), ProbeReports::AutoPush::NotArmed);
}

// The total outgrows 32 bits on a busy machine and goes on counting.
TEST_F(ReplyHandlerTest, TheCounterGoesBeyondThirtyTwoBits) {
    startCountingFrom("2147483646");
    handler.handle("GET_ALL;CNT=4;");
    EXPECT_EQ(counters, std::vector<std::string>{"2147483650"});
    EXPECT_EQ(ini.read("Main", "CNT"), "2147483650");
}

// A report that answers the start-up probe after the saved counter was read carries the count
// from before this run: it is not counted. One from another device during the probe starts no
// push; the controller's own news after the probe counts.
TEST_F(ReplyHandlerTest, OnlyTheControllersOwnNewsCountsAndStartsThePush) {
    const auto now = clock.now();
    reports.asked(now);
    handler.handle("GET_ALL;CNT=7;");
    EXPECT_TRUE(counters.empty());
    handler.handle("GET_ALL;CNT=2;");
    EXPECT_EQ(counters, std::vector<std::string>{"102"});

    ProbeReports other;
    ProductionCounter otherCounter{eventLog, {}};
    ReplyHandler probing{eventLog, otherCounter, clock,
                         [&](Clock::TimePoint at) { return other.reportSeen(at); }};
    other.probing(false);
    probing.handle("GET_ALL;CNT=1;");
    EXPECT_EQ(other.autoPush(), ProbeReports::AutoPush::NotArmed);

    UnansweredProbe late;
    late.asked(now - UnansweredProbe::kLongestAnswer - std::chrono::milliseconds(1));
    EXPECT_FALSE(late.answeredBy(now));
}

// A saved count that is no number is kept aside before anything may replace it; a missing one
// shows its text, which is never saved, until a report gives the counter a number.
TEST_F(ReplyHandlerTest, StartUpNeverLosesASavedCountThatIsNoNumber) {
    std::tm now{};
    now.tm_year = 126;
    now.tm_mon = 11;
    now.tm_mday = 9;
    ini.write("Main", "CNT", "12a");
    ProductionCounter unreadable{eventLog, {}};
    EXPECT_THROW(unreadable.readAtStartUp(ini, now), VelkorError);
    EXPECT_EQ(unreadable.text(), "12a");
    EXPECT_EQ(ini.read("Main", "CNT_UNREADABLE_20261209000000"), "12a");
    unreadable.saveAtShutdown();
    EXPECT_EQ(ini.read("Main", "CNT"), "12a");
    unreadable.report(3);
    EXPECT_EQ(ini.read("Main", "CNT"), "3");

    const IniFile fresh{folder.filePath(QStringLiteral("fresh.INI")).toStdString()};
    ProductionCounter missing{eventLog, {}};
    EXPECT_THROW(missing.readAtStartUp(fresh, now), VelkorError);
    EXPECT_EQ(missing.text(), cp1251("Ошибка в названии параметров : MAIN = CNT"));
    missing.saveAtShutdown();
    EXPECT_EQ(fresh.read("Main", "CNT"), std::nullopt);
    missing.report(5);
    EXPECT_EQ(fresh.read("Main", "CNT"), "5");
}

TEST_F(ReplyHandlerTest, TheAutomaticPushOnceStartedStaysStarted) {
    handler.handle("GET_ALL;CNT=1;");
    EXPECT_TRUE(reports.startArmedPush());
    handler.handle("GET_ALL;CNT=1;");
    EXPECT_EQ(reports.autoPush(), ProbeReports::AutoPush::Started);
    EXPECT_FALSE(reports.startArmedPush());
}

}  // namespace
}  // namespace velkor
