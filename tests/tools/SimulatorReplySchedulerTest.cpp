// How the simulated controller's replies are laid out in time and in writes: delayed, with junk
// between packets, split into pieces. Driven with made-up time stamps: no test here waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ReplyScheduler.h"

namespace velkor::simulator {
namespace {

using namespace std::chrono_literals;

std::vector<Chunk> takeAll(ReplyScheduler& scheduler) {
    return scheduler.takeDue(MonoTime::max());
}

std::string joined(const std::vector<Chunk>& chunks) {
    std::string bytes;
    for (const Chunk& chunk : chunks) {
        bytes += chunk.bytes;
    }
    return bytes;
}

// What a console's reader makes of the bytes: whatever stands outside "<...>" is dropped.
std::vector<std::string> packetsIn(const std::string& bytes) {
    std::vector<std::string> packets;
    std::size_t start = bytes.find('<');
    while (start != std::string::npos) {
        const std::size_t end = bytes.find('>', start);
        if (end == std::string::npos) {
            break;
        }
        packets.push_back(bytes.substr(start, end - start + 1));
        start = bytes.find('<', end);
    }
    return packets;
}

TEST(ReplyScheduler, PlainRepliesAreDueAtOnceOneWriteAPacket) {
    ReplyScheduler scheduler(ReplyStyle{});
    EXPECT_FALSE(scheduler.nextDue().has_value());
    scheduler.schedule({"<GET_CNT>", "<CNT=4>"}, 500ms);
    EXPECT_EQ(scheduler.nextDue(), MonoTime(500ms));
    const std::vector<Chunk> chunks = scheduler.takeDue(500ms);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].bytes, "<GET_CNT>");
    EXPECT_EQ(chunks[0].logText, "<GET_CNT>");
    EXPECT_FALSE(chunks[0].isJunk);
    EXPECT_EQ(chunks[1].bytes, "<CNT=4>");
    EXPECT_TRUE(scheduler.empty());
}

TEST(ReplyScheduler, NoPacketsScheduleNothing) {
    ReplyScheduler scheduler(ReplyStyle{.junk = true});
    scheduler.schedule({}, 10ms);
    EXPECT_TRUE(scheduler.empty());
    EXPECT_FALSE(scheduler.nextDue().has_value());
}

TEST(ReplyScheduler, ADelayedReplyIsNotDueBeforeItsTime) {
    ReplyScheduler scheduler(ReplyStyle{.delay = 150ms});
    scheduler.schedule({"<SH_S1>"}, 1000ms);
    EXPECT_EQ(scheduler.nextDue(), MonoTime(1150ms));
    EXPECT_TRUE(scheduler.takeDue(1149ms).empty());
    const std::vector<Chunk> chunks = scheduler.takeDue(1150ms);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].bytes, "<SH_S1>");
}

TEST(ReplyScheduler, RepliesKeepTheirOrderAndNeverOverlap) {
    ReplyScheduler scheduler(ReplyStyle{.split = true, .splitPause = 4ms});
    scheduler.schedule({"<SH_S1111111>"}, 0ms);  // three pieces: 0, 4 and 8 ms
    scheduler.schedule({"<SH_S2>"}, 1ms);        // after them, not in between
    const std::vector<Chunk> chunks = takeAll(scheduler);
    ASSERT_EQ(chunks.size(), 5u);
    EXPECT_EQ(chunks[2].due, MonoTime(8ms));
    EXPECT_EQ(chunks[3].due, MonoTime(12ms));
    EXPECT_EQ(chunks[4].due, MonoTime(16ms));
    EXPECT_EQ(joined(chunks), "<SH_S1111111><SH_S2>");
    for (std::size_t i = 1; i < chunks.size(); ++i) {
        EXPECT_LT(chunks[i - 1].due, chunks[i].due);
    }

    ReplyScheduler delayed(ReplyStyle{.delay = 100ms});
    delayed.schedule({"<A1>"}, 0ms);
    delayed.schedule({"<A2>"}, 10ms);
    const std::vector<Chunk> inOrder = takeAll(delayed);
    ASSERT_EQ(inOrder.size(), 2u);
    EXPECT_EQ(inOrder[0].due, MonoTime(100ms));
    EXPECT_EQ(inOrder[1].due, MonoTime(110ms));
}

TEST(ReplyScheduler, SplitPacketsGoOutInTwoOrThreePiecesAFewMillisecondsApart) {
    ReplyScheduler scheduler(ReplyStyle{.split = true, .splitPause = 5ms});
    const std::vector<std::string> packets = {"<SH_S4890>", "<GET_ALL;CNT=3;setOut=0;>", "<L>"};
    scheduler.schedule(packets, 0ms);
    const std::vector<Chunk> chunks = takeAll(scheduler);
    // 2 + 3 + 2 pieces: every other packet in three.
    ASSERT_EQ(chunks.size(), 7u);
    EXPECT_EQ(joined(chunks), packets[0] + packets[1] + packets[2]);
    for (std::size_t i = 1; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].due - chunks[i - 1].due, MonoTime(5ms)) << i;
    }
    for (const Chunk& chunk : chunks) {
        EXPECT_FALSE(chunk.bytes.empty());
        EXPECT_LT(chunk.bytes.size(), 20u);
    }
    // The log names each packet once, on its last piece.
    std::vector<std::string> logged;
    for (const Chunk& chunk : chunks) {
        if (!chunk.logText.empty()) {
            logged.push_back(chunk.logText);
        }
    }
    EXPECT_EQ(logged, packets);
    EXPECT_EQ(chunks[1].logText, packets[0]);
    EXPECT_EQ(chunks[4].logText, packets[1]);
}

TEST(ReplyScheduler, SplitPacketPieces) {
    EXPECT_EQ(splitPacket("<SH_S4890>", 0), (std::vector<std::string>{"<SH_S", "4890>"}));
    EXPECT_EQ(splitPacket("<SH_S4890>", 1), (std::vector<std::string>{"<SH", "_S4", "890>"}));
    EXPECT_EQ(splitPacket("<L>", 1), (std::vector<std::string>{"<", "L>"}));
    EXPECT_EQ(splitPacket("<>", 0), (std::vector<std::string>{"<", ">"}));
    EXPECT_EQ(splitPacket("<", 0), (std::vector<std::string>{"<"}));
}

TEST(ReplyScheduler, JunkComesBeforeEveryPacketAndNeverOpensOne) {
    ReplyScheduler scheduler(ReplyStyle{.junk = true});
    std::vector<std::string> sent;
    for (int i = 0; i < 200; ++i) {
        sent.push_back("<SH_S" + std::to_string(i) + ">");
    }
    scheduler.schedule(sent, 0ms);
    const std::vector<Chunk> chunks = takeAll(scheduler);
    ASSERT_EQ(chunks.size(), 2 * sent.size());
    std::string junkBytes;
    for (std::size_t i = 0; i < chunks.size(); i += 2) {
        const Chunk& junk = chunks[i];
        EXPECT_TRUE(junk.isJunk);
        EXPECT_FALSE(junk.bytes.empty());
        EXPECT_LE(junk.bytes.size(), 6u);
        EXPECT_EQ(junk.bytes.find('<'), std::string::npos);
        EXPECT_EQ(junk.logText, junk.bytes);
        EXPECT_EQ(chunks[i + 1].bytes, sent[i / 2]);
        junkBytes += junk.bytes;
    }
    // Real noise: not one byte repeated.
    EXPECT_GT(std::count(junkBytes.begin(), junkBytes.end(), '\r'), 0);
    EXPECT_GT(std::count(junkBytes.begin(), junkBytes.end(), '\xff'), 0);
    EXPECT_EQ(packetsIn(joined(chunks)), sent);
}

TEST(ReplyScheduler, JunkAndSplitTogetherStillCarryThePackets) {
    ReplyScheduler scheduler(ReplyStyle{.delay = 30ms, .junk = true, .split = true});
    scheduler.schedule({"<GET_STEP>", "<STEP=2>"}, 0ms);
    scheduler.schedule({"<Lamin1>"}, 5ms);
    EXPECT_EQ(scheduler.nextDue(), MonoTime(30ms));
    const std::vector<Chunk> chunks = takeAll(scheduler);
    EXPECT_EQ(packetsIn(joined(chunks)),
              (std::vector<std::string>{"<GET_STEP>", "<STEP=2>", "<Lamin1>"}));
    EXPECT_GE(chunks.size(), 3u + 6u);
}

}  // namespace
}  // namespace velkor::simulator
