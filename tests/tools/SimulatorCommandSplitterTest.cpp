// The simulator cuts the console's bare commands apart at idle gaps, the only thing that
// separates them on the line. Driven with made-up time stamps: no test here waits.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "CommandSplitter.h"

namespace velkor::simulator {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> texts(const std::vector<Command>& commands) {
    std::vector<std::string> result;
    for (const Command& command : commands) {
        result.push_back(command.text);
    }
    return result;
}

TEST(CommandSplitter, BytesReadTogetherAreOneCommandCompleteOnlyAfterTheGap) {
    CommandSplitter splitter(20ms);
    EXPECT_TRUE(splitter.feed("SH_S4890", 1000ms).empty());
    EXPECT_EQ(splitter.deadline(), MonoTime(1020ms));
    EXPECT_FALSE(splitter.expire(1000ms).has_value());
    EXPECT_FALSE(splitter.expire(1019ms).has_value());
    const std::optional<Command> command = splitter.expire(1020ms);
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->text, "SH_S4890");
    EXPECT_EQ(command->firstByte, MonoTime(1000ms));
    EXPECT_EQ(command->lastByte, MonoTime(1000ms));
    // Taken once: the line is idle now.
    EXPECT_FALSE(splitter.expire(2000ms).has_value());
    EXPECT_FALSE(splitter.deadline().has_value());
}

TEST(CommandSplitter, PausesShorterThanTheGapKeepOneCommandTogether) {
    CommandSplitter splitter(20ms);
    EXPECT_TRUE(splitter.feed("R2_", 0ms).empty());
    EXPECT_TRUE(splitter.feed("PO", 19ms).empty());
    EXPECT_FALSE(splitter.expire(38ms).has_value());  // 19 ms after the last byte
    EXPECT_TRUE(splitter.feed("S1500", 38ms).empty());
    EXPECT_EQ(splitter.deadline(), MonoTime(58ms));
    const std::optional<Command> command = splitter.expire(58ms);
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->text, "R2_POS1500");
    EXPECT_EQ(command->firstByte, MonoTime(0ms));
    EXPECT_EQ(command->lastByte, MonoTime(38ms));
}

TEST(CommandSplitter, ByteAfterAGapCompletesThePendingCommandAndStartsTheNext) {
    CommandSplitter splitter(20ms);
    splitter.feed("Lamin1", 100ms);
    // Exactly one gap of silence is enough.
    EXPECT_EQ(texts(splitter.feed("GET_", 120ms)), std::vector<std::string>{"Lamin1"});
    // One nanosecond short of the gap is not.
    EXPECT_TRUE(splitter.feed("ALL", 140ms - 1ns).empty());
    EXPECT_EQ(texts(splitter.feed("CLR_CNT", 200ms)), std::vector<std::string>{"GET_ALL"});
    const std::optional<Command> last = splitter.expire(220ms);
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(last->text, "CLR_CNT");
    EXPECT_EQ(last->firstByte, MonoTime(200ms));
}

TEST(CommandSplitter, CommandsWrittenBackToBackRunTogether) {
    // Nothing but time separates commands: a console that does not pause sends one long one.
    CommandSplitter splitter(20ms);
    splitter.feed("SH_S1", 0ms);
    splitter.feed("SH_S2", 5ms);
    const std::optional<Command> command = splitter.expire(25ms);
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->text, "SH_S1SH_S2");
}

TEST(CommandSplitter, TheGapIsConfigurable) {
    CommandSplitter splitter(50ms);
    EXPECT_EQ(splitter.gap(), MonoTime(50ms));
    splitter.feed("SH_S", 0ms);
    EXPECT_TRUE(splitter.feed("12", 30ms).empty());
    EXPECT_FALSE(splitter.expire(79ms).has_value());
    const std::optional<Command> command = splitter.expire(80ms);
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->text, "SH_S12");
}

TEST(CommandSplitter, EightBitBytesAndNulPassUnchanged) {
    CommandSplitter splitter(20ms);
    const std::string bytes("VOZVRAT\xc4\xe0\0\xff", 11);
    splitter.feed(bytes, 0ms);
    const std::optional<Command> command = splitter.expire(20ms);
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->text, bytes);
}

TEST(CommandSplitter, ReadingNothingNeitherStartsNorProlongsACommand) {
    CommandSplitter splitter(20ms);
    EXPECT_TRUE(splitter.feed("", 0ms).empty());
    EXPECT_FALSE(splitter.deadline().has_value());
    splitter.feed("GET_CNT", 10ms);
    splitter.feed("", 25ms);
    EXPECT_EQ(splitter.deadline(), MonoTime(30ms));
}

TEST(CommandSplitter, ALineThatNeverFallsQuietIsCutAtTheLongestCommand) {
    CommandSplitter splitter(20ms, 8);
    EXPECT_EQ(texts(splitter.feed("0123456789ABCDEFGH", 0ms)),
              (std::vector<std::string>{"01234567", "89ABCDEF"}));
    EXPECT_EQ(texts(splitter.feed("IJKLMN", 1ms)), std::vector<std::string>{"GHIJKLMN"});
    EXPECT_FALSE(splitter.deadline().has_value());
    EXPECT_TRUE(splitter.feed("x", 2ms).empty());
    EXPECT_EQ(splitter.expire(22ms)->text, "x");
}

TEST(CommandSplitter, RefusesAGapOrLengthOfZero) {
    EXPECT_THROW(CommandSplitter(0ms), std::invalid_argument);
    EXPECT_THROW(CommandSplitter(20ms, 0), std::invalid_argument);
}

}  // namespace
}  // namespace velkor::simulator
