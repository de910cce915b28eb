#include "ComDataPacket.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "ComPort.h"
#include "PacketFramer.h"

namespace velkor {
namespace {

using Log = std::vector<std::string>;

// What a framer reports, in order: "P text" for a packet, "D text" for discarded text.
struct Recorder {
    Log log;
    void attach(PacketFramer& framer) {
        framer.OnPacket = [this](PacketFramer&, const std::string& s) { log.push_back("P " + s); };
        framer.OnDiscard = [this](PacketFramer&, const std::string& s) { log.push_back("D " + s); };
    }
    Log take() {
        Log taken;
        taken.swap(log);
        return taken;
    }
};

// A framer with the console's framing: answers between "<" and ">", everything else default.
class FramerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        recorder.attach(framer);
        framer.SetStartString("<");
        framer.SetStopString(">");
    }
    Log feed(const std::vector<std::string>& chunks) {
        for (const std::string& chunk : chunks) {
            framer.Receive(chunk.data(), static_cast<int>(chunk.size()));
        }
        return recorder.take();
    }
    Log feed(const std::string& chunk) { return feed(std::vector<std::string>{chunk}); }
    Log feedByteByByte(const std::string& stream) {
        for (char c : stream) {
            framer.Receive(&c, 1);
        }
        return recorder.take();
    }

    PacketFramer framer;
    Recorder recorder;
};

using AngleFraming = FramerTest;
using BufferLimit = FramerTest;
using PacketSize = FramerTest;
using CustomHandlers = FramerTest;
using SettingChanges = FramerTest;
using HandlerExceptions = FramerTest;
using Chunking = FramerTest;

TEST_F(AngleFraming, CutsTheControllersAnswersOutOfNoise) {
    // The answer to GET_ALL arrives split; junk before it and the line end after it go to
    // OnDiscard.
    EXPECT_EQ(feed("xx<GET_A"), (Log{"D xx"}));
    EXPECT_EQ(framer.PendingText(), "<GET_A");
    EXPECT_TRUE(framer.InPacket());
    EXPECT_EQ(feed("LL 1 2>\r\n<CNT=5;>"), (Log{"P GET_ALL 1 2", "D \r\n", "P CNT=5;"}));
    EXPECT_EQ(framer.PendingText(), "");
    EXPECT_FALSE(framer.InPacket());
}

TEST_F(AngleFraming, SinglePacketsAdjacentPacketsAndPacketsOverSeveralChunks) {
    EXPECT_EQ(feed("<CNT=5;>"), (Log{"P CNT=5;"}));
    EXPECT_EQ(feed("<A><B>"), (Log{"P A", "P B"}));
    EXPECT_EQ(feed("<GE"), Log{});
    EXPECT_EQ(feed("T_AL"), Log{});
    EXPECT_EQ(feed("L 12>"), (Log{"P GET_ALL 12"}));
    EXPECT_EQ(feed("<>"), (Log{"P "}));
    // A second start string inside a packet is part of it.
    EXPECT_EQ(feed("<a<b>"), (Log{"P a<b"}));
    EXPECT_EQ(framer.PendingText(), "");
}

TEST_F(AngleFraming, StopStringBeforeAnyStartWaitsAndIsDiscardedWhenAStartArrives) {
    EXPECT_EQ(feed("junk>"), Log{});
    EXPECT_EQ(framer.PendingText(), "junk>");
    EXPECT_FALSE(framer.InPacket());
    EXPECT_EQ(feed("<X>"), (Log{"D junk>", "P X"}));
}

TEST_F(AngleFraming, IncludeStringsDeliversTheFrame) {
    framer.SetIncludeStrings(true);
    EXPECT_EQ(feed("ab<X>cd<>"), (Log{"D ab", "P <X>", "D cd", "P <>"}));
}

TEST_F(AngleFraming, AnyByteTravelsIncludingZeroAndCyrillic) {
    const std::string body("\xC1\x00\xFF\r\n", 5);
    EXPECT_EQ(feed(std::string("\x00", 1) + "<" + body + ">"),
              (Log{std::string("D \x00", 3), "P " + body}));
    // Zero bytes in the framing strings themselves.
    framer.SetStartString(std::string("\x00\x02", 2));
    framer.SetStopString(std::string("\x03\x00", 2));
    EXPECT_EQ(feed(std::string("\x02\x00\x02OK\x03\x00", 7)),
              (Log{std::string("D \x02", 3), "P OK"}));
}

TEST_F(AngleFraming, MultiCharacterStringsSplitAcrossChunks) {
    framer.SetStartString("STX");
    framer.SetStopString("\r\n");
    EXPECT_EQ(feed(std::vector<std::string>{"..S", "T", "Xab\r", "\nSTX", "c\r"}),
              (Log{"D ..", "P ab"}));
    EXPECT_EQ(feed("\n"), (Log{"P c"}));
}

TEST_F(AngleFraming, OnlyAStopStringWhoseFirstOccurrenceEndsThePacketIsStripped) {
    // Size cuts "<a>b>" with stop strings inside: the first ">" is not at the end, so the end
    // stays; the start string at the beginning goes.
    framer.SetSize(5);
    EXPECT_EQ(feed("<a>b>"), (Log{"P a>b>"}));
    framer.SetStartString("");
    EXPECT_EQ(feed("ab>c>"), (Log{"P ab>c>"}));
    // A packet the stop string ends loses it as usual.
    EXPECT_EQ(feed("xyz>"), (Log{"P xyz"}));
}

TEST_F(AngleFraming, CaseInsensitiveComparesLatinLettersOnlyAndKeepsTheReceivedCase) {
    framer.SetStartString("AB");
    framer.SetStopString(">");
    EXPECT_EQ(feed("xxabC>"), Log{});  // compared with case, "ab" is no start string
    framer.ResetBuffer();
    EXPECT_EQ(recorder.take(), (Log{"D xxabC>"}));
    EXPECT_EQ(feed("xxABC>"), (Log{"D xx", "P C"}));
    framer.SetCaseInsensitive(true);
    EXPECT_EQ(feed("xxabC>"), (Log{"D xx", "P C"}));
    EXPECT_EQ(feed("aBcD>"), (Log{"P cD"}));
    framer.SetIncludeStrings(true);
    EXPECT_EQ(feed("Abz>"), (Log{"P Abz>"}));
    framer.SetIncludeStrings(false);

    // Stop strings are compared the same way, also when they are stripped.
    framer.SetStopString("end");
    EXPECT_EQ(feed("ABxyzEnD"), (Log{"P xyz"}));

    // Only a-z fold: Cyrillic "а" (0xE0) is not "А" (0xC0), "{" is not "[".
    framer.SetStartString("\xC0");
    EXPECT_EQ(feed("\xE0q end"), Log{});
    EXPECT_EQ(framer.PendingText(), "\xE0q end");
    framer.SetStartString("[");
    recorder.take();
    EXPECT_EQ(feed("{qend"), Log{});
    EXPECT_EQ(feed("[qEND"), (Log{"D {qend", "P q"}));
}

TEST_F(BufferLimit, AnUnfinishedPacketIsDiscardedAtTheEndOfThePassThatReachesTheLimit) {
    const std::string open = "<" + std::string(1029, 'z');
    EXPECT_EQ(feed(open), (Log{"D " + open}));
    EXPECT_EQ(framer.PendingText(), "");
    EXPECT_FALSE(framer.InPacket());
    EXPECT_EQ(feed("<Y>"), (Log{"P Y"}));
}

TEST_F(BufferLimit, ByteByByteThePendingTextNeverReachesTheLimit) {
    const std::string open = "<" + std::string(1029, 'z');
    Log log;
    for (char c : open) {
        framer.Receive(&c, 1);
        ASSERT_LT(framer.PendingLength(), 1024u);
    }
    // Discarded as the 1024th character arrived; the last 6 wait for a start string.
    EXPECT_EQ(recorder.take(), (Log{"D " + open.substr(0, 1024)}));
    EXPECT_EQ(framer.PendingText(), "zzzzzz");
    EXPECT_FALSE(framer.InPacket());
    EXPECT_EQ(feed("<Y>"), (Log{"D zzzzzz", "P Y"}));
}

TEST_F(BufferLimit, APacketCompletedByTheChunkThatPassesTheLimitIsDelivered) {
    const std::string first = "<" + std::string(1000, 'a');
    const std::string second = std::string(100, 'b') + ">";
    EXPECT_EQ(feed(first), Log{});
    EXPECT_EQ(feed(second), (Log{"P " + first.substr(1) + second.substr(0, 100)}));
    // The rest after a packet is checked against the limit too.
    framer.SetMaxBufferSize(4);
    EXPECT_EQ(feed("<A>xxxxx"), (Log{"P A", "D xxxxx"}));
    EXPECT_EQ(feed("<A>xxx"), (Log{"P A"}));
    EXPECT_EQ(framer.PendingText(), "xxx");
}

TEST_F(BufferLimit, TextWithoutStartGrowsUntilTheLimitAndNoLimitKeepsEverything) {
    framer.SetMaxBufferSize(8);
    EXPECT_EQ(feed("abcdefg"), Log{});
    EXPECT_EQ(feed("h"), (Log{"D abcdefgh"}));
    framer.SetMaxBufferSize(0);
    EXPECT_EQ(feed(std::string(5000, 'j')), Log{});
    EXPECT_EQ(framer.PendingLength(), 5000u);
    framer.SetMaxBufferSize(-3);
    EXPECT_EQ(feed(std::string(5000, 'k') + "<K>"),
              (Log{"D " + std::string(5000, 'j') + std::string(5000, 'k'), "P K"}));
}

TEST(NoStopRule, EveryChunkIsOnePacketUnchanged) {
    PacketFramer framer;
    Recorder recorder;
    recorder.attach(framer);
    framer.SetMaxBufferSize(2);
    for (const std::string& chunk : std::vector<std::string>{"ab<c>", "", std::string("x\0y", 3)}) {
        framer.Receive(chunk.data(), static_cast<int>(chunk.size()));
        EXPECT_EQ(recorder.take(), (Log{"P " + chunk}));
        EXPECT_EQ(framer.PendingText(), "");
    }
    // A start string alone is no rule to end a packet: no search, no stripping.
    framer.SetStartString("<");
    framer.AppendData("junk<A>");
    EXPECT_EQ(recorder.take(), (Log{"P junk<A>"}));
    EXPECT_FALSE(framer.InPacket());

    // A custom stop handler is such a rule, even one that never ends a packet.
    framer.OnCustomStop = [](PacketFramer&, const std::string&, int&) {};
    framer.SetMaxBufferSize(0);
    framer.AppendData("junk<A>");
    EXPECT_EQ(recorder.take(), (Log{"D junk"}));
    EXPECT_EQ(framer.PendingText(), "<A>");
}

TEST_F(PacketSize, SizeEndsAPacketCountingTheStartString) {
    framer.SetStopString("");
    framer.SetSize(4);
    EXPECT_EQ(feed("<abcdef"), (Log{"P abc"}));
    EXPECT_EQ(framer.PendingText(), "def");
    EXPECT_FALSE(framer.InPacket());
    EXPECT_EQ(feed("<"), (Log{"D def"}));
    EXPECT_TRUE(framer.InPacket());
    EXPECT_EQ(feed("12345"), (Log{"P 123"}));
}

TEST_F(PacketSize, WithoutStartStringSizeCutsTheStreamAndStopStringsEndShorterPackets) {
    framer.SetStartString("");
    framer.SetStopString("");
    framer.SetSize(3);
    EXPECT_EQ(feed("abcdefgh"), (Log{"P abc", "P def"}));
    EXPECT_EQ(framer.PendingText(), "gh");
    framer.SetStartString("<");
    framer.SetStopString(">");
    framer.SetSize(5);
    recorder.take();
    EXPECT_EQ(feed("<a>"), (Log{"P a"}));  // fewer than 5 characters: the stop string ends it
    EXPECT_EQ(feed("<bcdefgh>"), (Log{"P bcde"}));
    EXPECT_EQ(framer.PendingText(), "fgh>");
}

TEST_F(CustomHandlers, StartHandlerSeesThePendingTextAndItsZeroSuppressesTheStartSearch) {
    Log seen;
    framer.OnCustomStart = [&](PacketFramer&, const std::string& text, int& pos) {
        seen.push_back(text);
        EXPECT_EQ(pos, -1);
        pos = 0;
    };
    EXPECT_EQ(feed("<A>"), Log{});
    EXPECT_EQ(framer.PendingText(), "<A>");
    EXPECT_FALSE(framer.InPacket());
    EXPECT_EQ(seen, (Log{"<A>"}));

    // Leaving pos at -1 falls back to the start string; the handler sees the pending text of
    // each pass, the earlier packets of a chunk already gone.
    seen.clear();
    framer.OnCustomStart = [&](PacketFramer&, const std::string& text, int&) {
        seen.push_back(text);
    };
    EXPECT_EQ(feed("<B>x<C>"), (Log{"P A", "P B", "D x", "P C"}));
    EXPECT_EQ(seen, (Log{"<A><B>x<C>", "<B>x<C>", "x<C>", ""}));
}

TEST_F(CustomHandlers, StartHandlerBeginsThePacketAtItsPosition) {
    framer.OnCustomStart = [](PacketFramer&, const std::string& text, int& pos) {
        const auto at = text.find('#');
        pos = at == std::string::npos ? 0 : static_cast<int>(at) + 1;
    };
    // The stop string is looked for behind the first length(StartString) characters, and the
    // start string is not there to strip.
    EXPECT_EQ(feed("xx#abc>"), (Log{"D xx", "P #abc"}));
    // Behind a two-character start string the ">" right after "#" is not looked at; the one
    // at the end is not the first in the packet, so it stays.
    framer.SetStartString("<<");
    EXPECT_EQ(feed("#>a>"), (Log{"P #>a>"}));
    framer.SetStartString("<");
    // A position past the end discards everything and opens a packet.
    framer.OnCustomStart = [](PacketFramer&, const std::string&, int& pos) { pos = 100; };
    EXPECT_EQ(feed("abc"), (Log{"D abc"}));
    EXPECT_TRUE(framer.InPacket());
    EXPECT_EQ(feed("Q>"), (Log{"P Q"}));
    EXPECT_EQ(framer.PendingText(), "");
    EXPECT_TRUE(framer.InPacket());  // the handler opened the next packet on the empty rest
}

TEST_F(CustomHandlers, StopHandlerEndsThePacketOrKeepsItOpen) {
    framer.OnCustomStop = [](PacketFramer&, const std::string& text, int& pos) {
        const auto at = text.find(';');
        if (at != std::string::npos) {
            pos = static_cast<int>(at) + 1;
        } else if (text.find('!') != std::string::npos) {
            pos = 0;  // not yet, even though ">" is there
        }
    };
    EXPECT_EQ(feed("<a;b>"), (Log{"P a;"}));
    EXPECT_EQ(framer.PendingText(), "b>");
    EXPECT_EQ(feed("<c!>"), (Log{"D b>"}));
    EXPECT_EQ(framer.PendingText(), "<c!>");
    EXPECT_EQ(feed("d;"), (Log{"P c!>d;"}));

    // A position past the end takes the whole pending text.
    framer.OnCustomStop = [](PacketFramer&, const std::string&, int& pos) { pos = 50; };
    EXPECT_EQ(feed("<xy>"), (Log{"P xy"}));
}

TEST_F(CustomHandlers, AStopHandlerThatEndsEveryPacketDoesNotLoopForever) {
    framer.SetStartString("");
    framer.OnCustomStop = [](PacketFramer&, const std::string&, int& pos) { pos = 1; };
    EXPECT_EQ(feed("ab"), (Log{"P a", "P b", "P "}));
    EXPECT_EQ(feed("c"), (Log{"P c", "P "}));
}

TEST_F(CustomHandlers, TextDiscardedByAHandlersStartIsNotRememberedAsSearched) {
    // "xyzab" is searched for "<" in vain; the handler then discards it all by starting past
    // the end, and an empty packet ends at once. The "<" that follows must still be found.
    framer.OnCustomStart = [](PacketFramer&, const std::string& text, int& pos) {
        if (text.find('^') != std::string::npos) {
            pos = static_cast<int>(text.size()) + 1;
        }
    };
    framer.OnCustomStop = [](PacketFramer&, const std::string& text, int& pos) {
        if (text.empty()) {
            pos = 1;
        }
    };
    EXPECT_EQ(feed("xyzab"), Log{});
    EXPECT_EQ(feed("^"), (Log{"D xyzab^", "P "}));
    EXPECT_FALSE(framer.InPacket());
    EXPECT_EQ(feed("<A>"), (Log{"P A"}));
}

TEST_F(SettingChanges, DefaultsAreTheComponentsPublishedValues) {
    PacketFramer fresh;
    EXPECT_FALSE(fresh.CaseInsensitive());
    EXPECT_FALSE(fresh.IncludeStrings());
    EXPECT_EQ(fresh.MaxBufferSize(), 1024);
    EXPECT_EQ(fresh.StartString(), "");
    EXPECT_EQ(fresh.StopString(), "");
    EXPECT_EQ(fresh.Size(), 0);
    EXPECT_FALSE(fresh.InPacket());
    EXPECT_EQ(fresh.PendingText(), "");
}

TEST_F(SettingChanges, ChangingARuleDiscardsTheHalfReceivedPacket) {
    EXPECT_EQ(feed("<half"), Log{});
    framer.SetStopString(";");
    EXPECT_EQ(recorder.take(), (Log{"D <half"}));
    EXPECT_EQ(framer.PendingText(), "");
    EXPECT_FALSE(framer.InPacket());
    EXPECT_EQ(framer.StopString(), ";");

    feed("<p");
    framer.SetStartString("[");
    EXPECT_EQ(recorder.take(), (Log{"D <p"}));
    feed("[q");
    framer.SetSize(10);
    EXPECT_EQ(recorder.take(), (Log{"D [q"}));
    feed("[r");
    framer.SetCaseInsensitive(true);
    EXPECT_EQ(recorder.take(), (Log{"D [r"}));
    feed("[s");
    framer.ResetBuffer();
    EXPECT_EQ(recorder.take(), (Log{"D [s"}));
}

TEST_F(SettingChanges, TheSameValueIncludeStringsAndMaxBufferSizeKeepThePendingText) {
    feed("<half");
    framer.SetStartString("<");
    framer.SetStopString(">");
    framer.SetSize(0);
    framer.SetCaseInsensitive(false);
    framer.SetIncludeStrings(true);
    framer.SetMaxBufferSize(3);  // takes effect at the end of the next pass
    EXPECT_EQ(recorder.take(), Log{});
    EXPECT_EQ(framer.PendingText(), "<half");
    EXPECT_TRUE(framer.InPacket());
    EXPECT_EQ(feed("!"), (Log{"D <half!"}));
}

TEST_F(SettingChanges, DiscardingAnEmptyPendingTextChangesNothing) {
    framer.SetStartString("");
    EXPECT_EQ(feed(""), Log{});
    EXPECT_TRUE(framer.InPacket());  // without a start string a packet is always open
    framer.ResetBuffer();
    EXPECT_EQ(recorder.take(), Log{});
    EXPECT_TRUE(framer.InPacket());
}

TEST_F(HandlerExceptions, APacketHandlerThatThrowsEndsThePassAfterTheFinalStep) {
    framer.OnPacket = [this](PacketFramer&, const std::string& s) {
        recorder.log.push_back("P " + s);
        if (s == "A") {
            throw std::runtime_error("display failed");
        }
    };
    EXPECT_THROW(feed("<A><B><C>"), std::runtime_error);
    EXPECT_EQ(recorder.take(), (Log{"P A"}));
    EXPECT_EQ(framer.PendingText(), "<B><C>");
    EXPECT_EQ(feed(""), (Log{"P B", "P C"}));

    // The limit check still runs before the exception leaves.
    framer.SetMaxBufferSize(5);
    EXPECT_THROW(feed("<A><BBBBBB>"), std::runtime_error);
    EXPECT_EQ(recorder.take(), (Log{"P A", "D <BBBBBB>"}));
    EXPECT_EQ(framer.PendingText(), "");
}

TEST_F(HandlerExceptions, ADiscardHandlerThatThrowsStillEmptiesThePendingText) {
    framer.OnDiscard = [](PacketFramer&, const std::string& s) {
        throw std::runtime_error("discarded " + s);
    };
    feed("<open");
    EXPECT_THROW(framer.ResetBuffer(), std::runtime_error);
    EXPECT_EQ(framer.PendingText(), "");
    EXPECT_FALSE(framer.InPacket());

    // Thrown from the limit check after a packet handler threw, the later exception is the
    // one the caller sees, and the pending text is gone all the same.
    framer.OnPacket = [](PacketFramer&, const std::string&) { throw std::logic_error("packet"); };
    framer.SetMaxBufferSize(3);
    try {
        feed("<A>xyzw");
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "discarded xyzw");
    }
    EXPECT_EQ(framer.PendingText(), "");
}

// The framer should deliver the same packets whatever the size of the port's reads.
TEST_F(Chunking, ByteByByteAndOneBlockGiveTheSamePackets) {
    const std::string stream =
        "\r\n<GET_ALL 1 2>\r\nnoise><CNT=5;><><a<b>\xC1\xC2<R_POS=12,5;>\r\n<open";
    const Log block = feed(stream);
    const std::string pendingAfterBlock = framer.PendingText();
    framer.ResetBuffer();
    recorder.take();
    EXPECT_EQ(feedByteByByte(stream), block);
    EXPECT_EQ(framer.PendingText(), pendingAfterBlock);
    EXPECT_EQ(block.size(), 9u);
}

TEST_F(Chunking, OneChunkWithAMillionPacketsNeedsNoDeepStack) {
    std::string stream;
    for (int i = 0; i < 1000000; ++i) {
        stream += "<>";
    }
    int packets = 0;
    int nonEmpty = 0;
    framer.OnPacket = [&](PacketFramer&, const std::string& s) {
        ++packets;
        nonEmpty += s.empty() ? 0 : 1;
    };
    framer.AppendData(stream);
    EXPECT_EQ(packets, 1000000);
    EXPECT_EQ(nonEmpty, 0);
}

// A packet that arrives a byte at a time is searched once, not once a byte; a quadratic search
// would take minutes on a megabyte, beyond the test's time limit (the framer's speed itself is
// measured by its benchmark).
TEST_F(Chunking, ALongPacketReceivedByteByByteTakesLinearTime) {
    framer.SetMaxBufferSize(0);
    framer.SetStartString("<<");
    framer.SetStopString(">>");
    std::size_t delivered = 0;
    framer.OnPacket = [&](PacketFramer&, const std::string& s) { delivered = s.size(); };
    const char junk = 'j';
    const char open = '<';
    const char body = 'b';
    const char close = '>';
    for (int i = 0; i < (1 << 20); ++i) {
        framer.Receive(&junk, 1);  // no start string yet
    }
    framer.Receive(&open, 1);
    framer.Receive(&open, 1);
    for (int i = 0; i < (1 << 20); ++i) {
        framer.Receive(&body, 1);
        framer.Receive(&close, 1);  // a half stop string each time
        framer.Receive(&body, 1);
    }
    framer.Receive(&close, 1);
    framer.Receive(&close, 1);
    EXPECT_EQ(delivered, 3u << 20);
}

// The rules followed word for word, on whole strings and with recursion, against which the
// framer (with its remembered searches, offsets and loop) is checked on random streams.
class LiteralFramer {
  public:
    std::string start, stop;
    int size = 0;
    bool caseInsensitive = false, includeStrings = false;
    int maxBufferSize = 1024;
    std::string pending;
    bool inPacket = false;
    Log log;

    void append(const std::string& text) {
        if (size <= 0 && stop.empty()) {
            log.push_back("P " + text);
            return;
        }
        pending += text;
        process();
    }

  private:
    std::string cased(std::string s) const {
        if (caseInsensitive) {
            for (char& c : s) {
                if (c >= 'a' && c <= 'z') {
                    c = static_cast<char>(c - 'a' + 'A');
                }
            }
        }
        return s;
    }
    int pos(const std::string& needle, const std::string& text) const {
        if (needle.empty()) {
            return 0;
        }
        const auto at = cased(text).find(cased(needle));
        return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
    }
    void process() {
        if (!inPacket) {
            if (start.empty()) {
                inPacket = true;
            } else if (const int p = pos(start, pending); p > 0) {
                inPacket = true;
                if (p > 1) {
                    log.push_back("D " + pending.substr(0, p - 1));
                    pending.erase(0, p - 1);
                }
            }
        }
        if (inPacket) {
            int length = -1;
            if (size > 0 && static_cast<int>(pending.size()) >= size) {
                length = size;
            } else {
                const std::size_t l = start.size();
                const std::string rest = l < pending.size() ? pending.substr(l) : "";
                if (const int q = pos(stop, rest); q > 0) {
                    length = static_cast<int>(l) + q - 1 + static_cast<int>(stop.size());
                }
            }
            if (length >= 0) {
                inPacket = false;
                std::string packet = pending.substr(0, length);
                pending.erase(0, length);
                if (!includeStrings) {
                    if (pos(start, packet) == 1) {
                        packet.erase(0, start.size());
                    }
                    const int s = pos(stop, packet);
                    if (s > 0 && s == static_cast<int>(packet.size() - stop.size()) + 1) {
                        packet.erase(packet.size() - stop.size());
                    }
                }
                log.push_back("P " + packet);
                process();
            }
        }
        if (maxBufferSize > 0 && static_cast<int>(pending.size()) >= maxBufferSize &&
            !pending.empty()) {
            log.push_back("D " + pending);
            pending.clear();
            inPacket = false;
        }
    }
};

TEST(FramerAgainstTheWrittenRules, RandomStreamsSettingsAndChunkings) {
    std::mt19937 random(20240611);
    const std::vector<std::string> starts{"", "<", "<<", "ab", "STX", "<>"};
    const std::vector<std::string> stops{"", ">", ">>", "\r\n", "b", "<>", "ETX"};
    const std::vector<int> sizes{0, 0, 0, 1, 3, 7};
    const std::vector<int> limits{1024, 0, 5, 16, 40};
    const std::string alphabet("<>abAB\r\nSTXEtx \0", 16);
    auto pick = [&](const auto& values) { return values[random() % values.size()]; };
    for (int round = 0; round < 3000; ++round) {
        LiteralFramer expected;
        expected.start = pick(starts);
        expected.stop = pick(stops);
        expected.size = pick(sizes);
        expected.maxBufferSize = pick(limits);
        expected.caseInsensitive = random() % 2;
        expected.includeStrings = random() % 2;

        PacketFramer framer;
        Recorder recorder;
        recorder.attach(framer);
        framer.SetStartString(expected.start);
        framer.SetStopString(expected.stop);
        framer.SetSize(expected.size);
        framer.SetMaxBufferSize(expected.maxBufferSize);
        framer.SetCaseInsensitive(expected.caseInsensitive);
        framer.SetIncludeStrings(expected.includeStrings);

        std::string stream;
        const int length = static_cast<int>(random() % 200);
        for (int i = 0; i < length; ++i) {
            stream += alphabet[random() % alphabet.size()];
        }
        std::size_t at = 0;
        while (at < stream.size()) {
            const std::size_t chunk = std::min<std::size_t>(1 + random() % 9, stream.size() - at);
            const std::string part = stream.substr(at, chunk);
            expected.append(part);
            framer.AppendData(part);
            at += chunk;
            ASSERT_EQ(recorder.log, expected.log)
                << "round " << round << " start '" << expected.start << "' stop '" << expected.stop
                << "' size " << expected.size << " limit " << expected.maxBufferSize << " ci "
                << expected.caseInsensitive << " stream '" << stream << "' after " << at;
            ASSERT_EQ(framer.PendingText(), expected.pending) << "round " << round;
            ASSERT_EQ(framer.InPacket(), expected.inPacket) << "round " << round;
        }
    }
}

// The component's receive slot is what the port calls with the bytes it read. The slot never
// looks at the port it is handed, so the tests hand it storage of a port's size and alignment
// rather than a port.
TCustomComPort& portStandIn() {
    alignas(TCustomComPort) static unsigned char storage[sizeof(TCustomComPort)];
    return *reinterpret_cast<TCustomComPort*>(storage);
}

TEST(DataPacketComponent, TheLinksReceiveSlotFeedsTheFramer) {
    TComDataPacket component;
    EXPECT_EQ(component.ComPort(), nullptr);
    Recorder recorder;
    recorder.attach(component.Framer());
    component.Framer().SetStartString("<");
    component.Framer().SetStopString(">");

    TComLink& link = component.Link();
    ASSERT_TRUE(static_cast<bool>(link.LinkRxBuf));
    const std::string first("\r\n<GET_A", 8);
    const std::string second("LL\x00>\r\n<", 7);
    link.LinkRxBuf(portStandIn(), first.data(), static_cast<int>(first.size()));
    link.LinkRxBuf(portStandIn(), second.data(), static_cast<int>(second.size()));
    link.LinkRxBuf(portStandIn(), nullptr, 0);
    EXPECT_EQ(recorder.take(), (Log{"D \r\n", std::string("P GET_ALL\x00", 10), "D \r\n"}));
    EXPECT_EQ(component.Framer().PendingText(), "<");
    // Exactly `count` bytes are taken, not up to a zero byte and not past the count.
    link.LinkRxBuf(portStandIn(), "X>junk", 2);
    EXPECT_EQ(recorder.take(), (Log{"P X"}));
}

TEST(DataPacketComponent, OnlyTheReceiveSlotIsAssignedAndNoPortIsNeeded) {
    TComDataPacket component;
    const TComLink& link = component.Link();
    // The port counts a link with a receive slot as its receive link and sends the other
    // notifications only to links that want them.
    EXPECT_FALSE(link.LinkConn || link.LinkTxBuf || link.LinkTxEmpty || link.LinkRxFlag ||
                 link.LinkCTS || link.LinkDSR || link.LinkRLSD || link.LinkRing || link.LinkTx ||
                 link.LinkRx);
    component.SetComPort(nullptr);
    EXPECT_EQ(component.ComPort(), nullptr);
    // Without a stop rule every read is one packet.
    std::string got;
    component.Framer().OnPacket = [&](PacketFramer&, const std::string& s) { got = s; };
    component.Link().LinkRxBuf(portStandIn(), "abc", 3);
    EXPECT_EQ(got, "abc");
}

}  // namespace
}  // namespace velkor
