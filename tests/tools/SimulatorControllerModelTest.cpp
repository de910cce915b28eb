// What the simulated controller makes of each command and what it answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ControllerModel.h"
#include "LineText.h"

namespace velkor::simulator {
namespace {

using Packets = std::vector<std::string>;

// The console's own comparison: it drops every "=" and ";" from a packet's text and compares
// what remains with the command it sent.
bool consoleTakesAsAcknowledgement(const std::string& packet, const std::string& command) {
    if (packet.size() < 2 || packet.front() != '<' || packet.back() != '>') {
        return false;
    }
    std::string text;
    for (const char c : packet.substr(1, packet.size() - 2)) {
        if (c != '=' && c != ';') {
            text += c;
        }
    }
    return text == command;
}

TEST(ParseCommand, KnownWordsAreFoundAtTheStartAndTheRestIsTheArgument) {
    const ParsedCommand speed = parseCommand("SH_S4890");
    EXPECT_EQ(speed.word, "SH_S");
    EXPECT_EQ(speed.argument, "4890");
    EXPECT_EQ(speed.kind, CommandKind::Setting);

    // Words that contain other words, or digits of their own.
    EXPECT_EQ(parseCommand("S_SH_S120").word, "S_SH_S");
    EXPECT_EQ(parseCommand("n_uporDelay30").word, "n_uporDelay");
    EXPECT_EQ(parseCommand("uporDelay30").word, "uporDelay");
    const ParsedCommand paz = parseCommand("L1headPaz12");
    EXPECT_EQ(paz.word, "L1headPaz");
    EXPECT_EQ(paz.argument, "12");
    EXPECT_EQ(parseCommand("setS_OUT3").word, "setS_OUT");
    EXPECT_EQ(parseCommand("setSpeed3").word, "setSpeed");

    // A text argument and a signed one.
    const ParsedCommand text = parseCommand("VOZVRATon");
    EXPECT_EQ(text.word, "VOZVRAT");
    EXPECT_EQ(text.argument, "on");
    EXPECT_EQ(parseCommand("head_DELTA-15").argument, "-15");

    const ParsedCommand mode = parseCommand("Lamin1");
    EXPECT_EQ(mode.word, "Lamin");
    EXPECT_EQ(mode.argument, "1");
    EXPECT_EQ(mode.kind, CommandKind::Mode);
}

TEST(ParseCommand, PositionCommandsAreNumberedInTheirSet) {
    const ParsedCommand first = parseCommand("R_POS15000");
    EXPECT_EQ(first.kind, CommandKind::Position);
    EXPECT_EQ(first.position, 1);
    EXPECT_EQ(first.argument, "15000");
    EXPECT_EQ(parseCommand("R2_POS1").position, 2);
    EXPECT_EQ(parseCommand("R7_POS1").position, 7);
    EXPECT_EQ(parseCommand("R7_POS1").word, "R7_POS");
    EXPECT_EQ(parseCommand("R_DELTA5").kind, CommandKind::Setting);
}

TEST(ParseCommand, CommandsWithoutArgumentAreRecognisedOnlyExactly) {
    EXPECT_EQ(parseCommand("GET_ALL").kind, CommandKind::StateReport);
    EXPECT_EQ(parseCommand("CLR_CNT").kind, CommandKind::ClearCount);
    EXPECT_EQ(parseCommand("GET_STEP").kind, CommandKind::GetStep);
    EXPECT_EQ(parseCommand("GET_CNT").kind, CommandKind::GetCount);
    EXPECT_EQ(parseCommand("SaveFlash").kind, CommandKind::SaveFlash);

    const ParsedCommand extended = parseCommand("GET_ALL2");
    EXPECT_EQ(extended.kind, CommandKind::Unknown);
    EXPECT_EQ(extended.word, "GET_ALL");
    EXPECT_EQ(extended.argument, "2");
    EXPECT_EQ(parseCommand("get_all").kind, CommandKind::Unknown);
}

TEST(ParseCommand, UnknownCommandsLoseTheirTrailingNumber) {
    const ParsedCommand signedNumber = parseCommand("FOO_BAR-12.5");
    EXPECT_EQ(signedNumber.word, "FOO_BAR");
    EXPECT_EQ(signedNumber.argument, "-12.5");
    EXPECT_EQ(signedNumber.kind, CommandKind::Unknown);

    // Nothing to strip, or nothing would remain: the whole command is the word.
    EXPECT_EQ(parseCommand("HELLO").word, "HELLO");
    EXPECT_EQ(parseCommand("HELLO").argument, "");
    EXPECT_EQ(parseCommand("VERSION.").word, "VERSION.");
    EXPECT_EQ(parseCommand("12345").word, "12345");
    EXPECT_EQ(parseCommand("12345").argument, "");
}

TEST(ControllerReplies, EveryCommandButGetAllIsEchoedFramed) {
    ControllerModel controller;
    for (const std::string command :
         {"SH_S4890", "head_DELTA-15", "Lamin1", "Lamin0", "R_POS100", "R3_POS7", "CLR_CNT",
          "SaveFlash", "L1headPaz2", "SOMETHING_NEW7"}) {
        const Reply reply = controller.handle(command);
        EXPECT_EQ(reply.packets, Packets{"<" + command + ">"}) << command;
        EXPECT_FALSE(reply.withheld);
    }
}

TEST(ControllerReplies, TheEqualsFormSeparatesTheArgumentAndStillAcknowledges) {
    ControllerModel controller(ControllerConfig{.equalsForm = true});
    EXPECT_EQ(controller.handle("SH_S4890").packets, Packets{"<SH_S=4890>"});
    EXPECT_EQ(controller.handle("Lamin1").packets, Packets{"<Lamin=1>"});
    EXPECT_EQ(controller.handle("R_POS-20").packets, Packets{"<R_POS=-20>"});
    EXPECT_EQ(controller.handle("MYSTERY9").packets, Packets{"<MYSTERY=9>"});
    // Nothing to separate.
    EXPECT_EQ(controller.handle("CLR_CNT").packets, Packets{"<CLR_CNT>"});

    ControllerModel plain;
    for (const std::string command : {"SH_S4890", "Lamin0", "R7_POS12", "stToR5", "SaveFlash"}) {
        EXPECT_TRUE(
            consoleTakesAsAcknowledgement(controller.handle(command).packets.at(0), command))
            << command;
        EXPECT_TRUE(consoleTakesAsAcknowledgement(plain.handle(command).packets.at(0), command))
            << command;
    }
}

TEST(ControllerReplies, GetAllReportsTheCountAndOutputStateWithoutAnEcho) {
    ControllerModel controller(ControllerConfig{.count = 17, .setOut = 3});
    EXPECT_EQ(controller.handle("GET_ALL").packets, Packets{"<GET_ALL;CNT=17;setOut=3;>"});
    // Not an acknowledgement of GET_ALL by the console's comparison: a report.
    EXPECT_FALSE(
        consoleTakesAsAcknowledgement(controller.handle("GET_ALL").packets.at(0), "GET_ALL"));
    ControllerModel fresh;
    EXPECT_EQ(fresh.handle("GET_ALL").packets, Packets{"<GET_ALL;CNT=0;setOut=0;>"});
}

TEST(ControllerReplies, OnePieceIsCountedPerPositionSetAtItsRPos) {
    ControllerModel controller(ControllerConfig{.count = 5});
    for (const char* command : {"R_POS100", "R2_POS200", "R3_POS300", "R4_POS400", "R5_POS500",
                                "R6_POS600", "R7_POS700"}) {
        controller.handle(command);
    }
    EXPECT_EQ(controller.count(), 6);
    controller.handle("R_POS50");
    controller.handle("R2_POS60");
    EXPECT_EQ(controller.count(), 7);
    // The later positions of a set never count.
    controller.handle("R2_POS60");
    controller.handle("R7_POS60");
    EXPECT_EQ(controller.count(), 7);
    EXPECT_EQ(controller.handle("GET_ALL").packets, Packets{"<GET_ALL;CNT=7;setOut=0;>"});
}

TEST(ControllerReplies, ClrCntClearsTheCount) {
    ControllerModel controller(ControllerConfig{.count = 41});
    controller.handle("R_POS1");
    EXPECT_EQ(controller.count(), 42);
    const Reply reply = controller.handle("CLR_CNT");
    EXPECT_EQ(reply.packets, Packets{"<CLR_CNT>"});
    EXPECT_EQ(controller.count(), 0);
    EXPECT_EQ(controller.handle("GET_ALL").packets, Packets{"<GET_ALL;CNT=0;setOut=0;>"});
    controller.handle("R_POS1");
    EXPECT_EQ(controller.count(), 1);
}

TEST(ControllerReplies, GetCntAndGetStepAddAMessageAfterTheEcho) {
    ControllerModel controller(ControllerConfig{.count = 9});
    EXPECT_EQ(controller.handle("GET_STEP").packets, (Packets{"<GET_STEP>", "<STEP=0>"}));
    controller.handle("R_POS10");
    controller.handle("R2_POS20");
    controller.handle("R3_POS30");
    EXPECT_EQ(controller.handle("GET_STEP").packets, (Packets{"<GET_STEP>", "<STEP=3>"}));
    EXPECT_EQ(controller.handle("GET_CNT").packets, (Packets{"<GET_CNT>", "<CNT=10>"}));
    EXPECT_EQ(controller.step(), 3);
}

TEST(ControllerReplies, WithheldCommandsGetNoReplyButStillTakeEffect) {
    ControllerModel controller(ControllerConfig{.withheld = {"L1headPaz", "Lamin1", "R_POS"}});
    // By word: any argument.
    for (const char* command : {"L1headPaz5", "L1headPaz7"}) {
        const Reply reply = controller.handle(command);
        EXPECT_TRUE(reply.packets.empty()) << command;
        EXPECT_TRUE(reply.withheld) << command;
    }
    EXPECT_EQ(controller.settings().at("L1headPaz"), "7");
    // By whole command: only that one.
    EXPECT_TRUE(controller.handle("Lamin1").packets.empty());
    EXPECT_EQ(controller.handle("Lamin0").packets, Packets{"<Lamin0>"});
    // Not answered, but counted.
    EXPECT_TRUE(controller.handle("R_POS5").packets.empty());
    EXPECT_EQ(controller.count(), 1);
    EXPECT_EQ(controller.handle("R2_POS5").packets, Packets{"<R2_POS5>"});
    EXPECT_EQ(controller.handle("SH_S1").packets, Packets{"<SH_S1>"});

    ControllerModel silentReport(ControllerConfig{.withheld = {"GET_ALL"}});
    EXPECT_TRUE(silentReport.handle("GET_ALL").packets.empty());
    EXPECT_EQ(silentReport.handle("GET_CNT").packets.size(), 2u);
}

TEST(ControllerReplies, SettingsKeepTheirLastValueAndSaveFlashAsksToStoreThem) {
    ControllerModel controller;
    controller.handle("SH_S4890");
    controller.handle("SH_S5000");
    controller.handle("setAccel12");
    controller.handle("Lamin1");
    controller.handle("R_POS100");        // a position is no setting
    controller.handle("SOMETHING_NEW1");  // neither is an unknown command
    controller.handle("GET_CNT");
    EXPECT_EQ(controller.settings(), (std::map<std::string, std::string>{
                                         {"Lamin", "1"}, {"SH_S", "5000"}, {"setAccel", "12"}}));
    EXPECT_FALSE(controller.handle("SH_S1").saveSettings);
    const Reply save = controller.handle("SaveFlash");
    EXPECT_TRUE(save.saveSettings);
    EXPECT_EQ(save.packets, Packets{"<SaveFlash>"});
}

TEST(ControllerReplies, EveryReplyTellsTheLogWhatHappened) {
    ControllerModel controller(ControllerConfig{.withheld = {"SH_S"}});
    const auto notes = [&](const char* command) {
        std::string all;
        for (const std::string& note : controller.handle(command).notes) {
            all += note + "|";
        }
        return all;
    };
    EXPECT_EQ(notes("setSpeed80"), "setting setSpeed = 80|");
    EXPECT_EQ(notes("Lamin0"), "mode Lamin = 0|");
    EXPECT_EQ(notes("R_POS15"), "piece 1 started at 15|");
    EXPECT_EQ(notes("R4_POS16"), "position 4 at 16|");
    EXPECT_EQ(notes("CLR_CNT"), "count cleared (was 1)|");
    EXPECT_EQ(notes("WHAT"), "unknown command, echoed|");
    EXPECT_EQ(notes("SH_S1"), "setting SH_S = 1|withheld: no reply|");
}

TEST(SettingsFile, WhatSaveFlashWritesIsReadBackUnchanged) {
    const std::map<std::string, std::string> settings = {
        {"SH_S", "4890"},
        {"VOZVRAT", std::string("a=b\nc\\d\xc0\0", 9)},
        {"Lamin", ""},
    };
    const std::string text = formatSettingsFile(settings);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    std::vector<std::string> problems;
    EXPECT_EQ(parseSettingsFile(text, problems), settings);
    EXPECT_TRUE(problems.empty());
    EXPECT_NE(text.find("\nSH_S=4890\n"), std::string::npos);
}

TEST(SettingsFile, LinesThatCannotBeReadAreReportedAndSkipped) {
    std::vector<std::string> problems;
    const auto settings = parseSettingsFile(
        "# comment\r\n\nSH_S=1\r\nno equals sign\n=5\nsetSpeed=bad\\x4\nsetAccel=7", problems);
    EXPECT_EQ(settings, (std::map<std::string, std::string>{{"SH_S", "1"}, {"setAccel", "7"}}));
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0], "line 4 is not WORD=VALUE: no equals sign");
    EXPECT_NE(problems[1].find("line 5"), std::string::npos);
    EXPECT_NE(problems[2].find("line 6"), std::string::npos);
}

TEST(SettingsFile, OnlyStoredWordsAreRestored) {
    ControllerModel controller;
    const std::vector<std::string> refused = controller.restoreSettings(
        {{"SH_S", "4890"}, {"Lamin", "1"}, {"R_POS", "5"}, {"CNT", "100"}});
    EXPECT_EQ(refused, (std::vector<std::string>{"CNT", "R_POS"}));
    EXPECT_EQ(controller.settings(),
              (std::map<std::string, std::string>{{"Lamin", "1"}, {"SH_S", "4890"}}));
    EXPECT_EQ(controller.count(), 0);
    EXPECT_TRUE(isStoredWord("SbrosDelay"));
    EXPECT_FALSE(isStoredWord("GET_ALL"));
}

TEST(LineText, PrintableAsciiStaysAndEverythingElseIsEscaped) {
    EXPECT_EQ(escapeBytes("SH_S4890 <ok>"), "SH_S4890 <ok>");
    EXPECT_EQ(escapeBytes(std::string("a\\b\r\n\0\x7f\xc0", 8)),
              "a\\x5Cb\\x0D\\x0A\\x00\\x7F\\xC0");
    const std::string allBytes = [] {
        std::string bytes;
        for (int i = 0; i < 256; ++i) {
            bytes += static_cast<char>(i);
        }
        return bytes;
    }();
    EXPECT_EQ(unescapeBytes(escapeBytes(allBytes)), allBytes);
    EXPECT_EQ(unescapeBytes("x\\xc0y"), std::string("x\xc0y"));
    EXPECT_FALSE(unescapeBytes("\\").has_value());
    EXPECT_FALSE(unescapeBytes("\\x4").has_value());
    EXPECT_FALSE(unescapeBytes("\\xG0").has_value());
    EXPECT_FALSE(unescapeBytes("\\n").has_value());
}

}  // namespace
}  // namespace velkor::simulator
