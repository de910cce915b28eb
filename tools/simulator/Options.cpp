#include "Options.h"

#include <charconv>

#include "CommandLine.h"

namespace velkor::simulator {

const char* const kUsage =
    R"(usage: velkor-simulator [OPTION]...

Stands in for the screw-driving machine's controller at the other end of the
operator console's serial line. Without --device it opens a pseudo-terminal and
prints the path of its slave side (such as /dev/pts/3) as the first line of
standard output; give that path (or the --link path) to the console as its port.
It runs until it gets SIGTERM, SIGINT (Ctrl-C) or SIGHUP.

The console sends bare commands, a word and its argument with no terminator
(SH_S4890); a command ends when the line has been quiet for the idle gap. The
controller answers in packets "<...>":
  any command    echoed: <SH_S4890>, or <SH_S=4890> with --equals
  GET_ALL        <GET_ALL;CNT=n;setOut=m;> instead of the echo
  GET_CNT        the echo, then <CNT=n>
  GET_STEP       the echo, then <STEP=k>: 1 after R_POS, 2 after R2_POS ... 7
  CLR_CNT        sets the piece count n to 0
  R_POS<imp>     the first position of a piece: counts one piece
  SaveFlash      writes the settings to the --state file
Settings (SH_S, head_DELTA, setSpeed, setAccel, SAM_DEL, STP_OUT, L1headPaz,
setS_OUT, stToR, setA_OUT, R_DELTA, uporDelay, n_uporDelay, SbrosDelay, S_SH_S,
VOZVRAT) and the mode (Lamin1, Lamin0) keep their last value; unknown commands
are echoed too.

Options:
  --device PATH    use the serial device PATH (raw, 115200 8N1) instead of a
                   pseudo-terminal; the first output line is then PATH
  --link PATH      keep a symbolic link PATH to the line while running
                   (an old link there is replaced; removed on exit)
  --gap MS         quiet time that ends a command, 1-10000 ms (default 20)
  --equals         acknowledge in the "=" form: <SH_S=4890>, <Lamin=1>
  --withhold WORD  never answer commands whose word (SH_S) or whole text
                   (SH_S4890) is WORD; they still take effect. Repeatable
  --delay MS       wait MS ms before each reply, 0-60000 (default 0)
  --junk           write a few junk bytes (never "<") before each packet
  --split          write each packet in two or three pieces a few ms apart
  --count N        piece count at start (default 0)
  --set-out M      output state that GET_ALL reports (default 0)
  --state FILE     settings file: read at start when it exists, written by
                   SaveFlash (WORD=VALUE lines)
  --log FILE       append the log to FILE instead of standard error
  -h, --help       print this text and exit
  --version        print the version and exit

An option's value may also follow it after "=" (--gap=30).

Log lines: "<ms> recv <command>" for each command, stamped with the arrival
of its first byte; "<ms> send <packet>" for each packet and "<ms> send junk
<bytes>" for junk as they go out; "<ms> info <text>" for the rest. <ms> is the
monotonic clock (CLOCK_MONOTONIC) in milliseconds; bytes outside printable
ASCII are written as \xHH.

Exit status: 0 after a stop signal, --help or --version, 1 when the line
cannot be set up, 2 for a bad command line.
)";

namespace {

template <typename Number>
bool readNumber(const std::string& text, Number low, Number high, Number& value) {
    Number parsed{};
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, parsed);
    if (error != std::errc() || stop != end || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

}  // namespace

ParsedOptions parseOptions(const std::vector<std::string>& arguments) {
    ParsedOptions result;
    Options& options = result.options;
    const auto milliseconds = [](std::chrono::milliseconds& target, long long low, long long high) {
        return [&target, low, high](const std::string& text) {
            long long value = 0;
            if (!readNumber(text, low, high, value)) {
                return false;
            }
            target = std::chrono::milliseconds(value);
            return true;
        };
    };
    CommandLine line;
    line.option("--device", options.device)
        .option("--link", options.link)
        .option("--log", options.logFile)
        .option("--state", options.stateFile)
        .option("--gap", milliseconds(options.gap, 1, 10000))
        .option("--delay", milliseconds(options.delay, 0, 60000))
        .option("--withhold",
                [&options](const std::string& text) {
                    if (text.empty()) {
                        return false;
                    }
                    options.withheld.insert(text);
                    return true;
                })
        .option("--count",
                [&options](const std::string& text) {
                    return readNumber(text, 0LL, 999999999999LL, options.count);
                })
        .option("--set-out",
                [&options](const std::string& text) {
                    return readNumber(text, 0, 65535, options.setOut);
                })
        .flag("--equals", options.equalsForm)
        .flag("--junk", options.junk)
        .flag("--split", options.split);
    const CommandLine::Outcome outcome = line.read(arguments);
    result.help = outcome.help;
    result.version = outcome.version;
    result.error = outcome.error;
    return result;
}

}  // namespace velkor::simulator
