// The simulator's command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Options.h"

namespace velkor::simulator {
namespace {

using namespace std::chrono_literals;

ParsedOptions parse(std::vector<std::string> arguments) {
    return parseOptions(arguments);
}

TEST(SimulatorOptions, WithoutOptionsItServesAPseudoTerminalWithTheUsualGap) {
    const ParsedOptions parsed = parse({});
    EXPECT_TRUE(parsed.error.empty());
    EXPECT_FALSE(parsed.help);
    const Options& options = parsed.options;
    EXPECT_FALSE(options.device.has_value());
    EXPECT_FALSE(options.link.has_value());
    EXPECT_FALSE(options.logFile.has_value());
    EXPECT_FALSE(options.stateFile.has_value());
    EXPECT_EQ(options.gap, 20ms);
    EXPECT_EQ(options.delay, 0ms);
    EXPECT_FALSE(options.equalsForm || options.junk || options.split);
    EXPECT_TRUE(options.withheld.empty());
    EXPECT_EQ(options.count, 0);
    EXPECT_EQ(options.setOut, 0);
}

TEST(SimulatorOptions, EveryOptionIsRead) {
    const ParsedOptions parsed =
        parse({"--device",    "/dev/ttyUSB0",      "--link",    "/tmp/port", "--log",
               "sim.log",     "--state",           "flash.txt", "--gap",     "35",
               "--delay=250", "--equals",          "--junk",    "--split",   "--withhold",
               "L1headPaz",   "--withhold=Lamin1", "--count",   "1234",      "--set-out=2"});
    ASSERT_TRUE(parsed.error.empty()) << parsed.error;
    const Options& options = parsed.options;
    EXPECT_EQ(options.device, "/dev/ttyUSB0");
    EXPECT_EQ(options.link, "/tmp/port");
    EXPECT_EQ(options.logFile, "sim.log");
    EXPECT_EQ(options.stateFile, "flash.txt");
    EXPECT_EQ(options.gap, 35ms);
    EXPECT_EQ(options.delay, 250ms);
    EXPECT_TRUE(options.equalsForm);
    EXPECT_TRUE(options.junk);
    EXPECT_TRUE(options.split);
    EXPECT_EQ(options.withheld, (std::set<std::string>{"L1headPaz", "Lamin1"}));
    EXPECT_EQ(options.count, 1234);
    EXPECT_EQ(options.setOut, 2);
}

TEST(SimulatorOptions, HelpWinsOverEverythingAfterIt) {
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"-h"}).help);
    EXPECT_TRUE(parse({"--junk", "--help", "--no-such-option"}).help);
}

TEST(SimulatorOptions, BadCommandLinesAreRefusedWithAReason) {
    const struct {
        std::vector<std::string> arguments;
        std::string error;
    } cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"/dev/pts/3"}, "unknown option /dev/pts/3"},
        {{"--gap"}, "option --gap needs a value"},
        {{"--gap", "0"}, "bad value for --gap: \"0\""},
        {{"--gap", "10001"}, "bad value for --gap: \"10001\""},
        {{"--gap", "20ms"}, "bad value for --gap: \"20ms\""},
        {{"--delay", "-1"}, "bad value for --delay: \"-1\""},
        {{"--count", "many"}, "bad value for --count: \"many\""},
        {{"--count", "-3"}, "bad value for --count: \"-3\""},
        {{"--set-out", "70000"}, "bad value for --set-out: \"70000\""},
        {{"--withhold", ""}, "bad value for --withhold: \"\""},
        {{"--log="}, "bad value for --log: \"\""},
        {{"--junk=yes"}, "option --junk takes no value"},
    };
    for (const auto& [arguments, error] : cases) {
        EXPECT_EQ(parse(arguments).error, error) << arguments.front();
    }
}

TEST(SimulatorOptions, TheUsageTextNamesEveryOption) {
    const std::string usage = kUsage;
    for (const char* option : {"--device PATH", "--link PATH", "--gap MS", "--equals",
                               "--withhold WORD", "--delay MS", "--junk", "--split", "--count N",
                               "--set-out M", "--state FILE", "--log FILE", "--help"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(usage.rfind("usage: velkor-simulator", 0), 0u);
}

}  // namespace
}  // namespace velkor::simulator
