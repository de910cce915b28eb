// The real velkor-simulator program, used as the console uses it: started as a process, talked to
// through the pseudo-terminal whose path it prints, stopped with a signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace velkor::simulator {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kReplyTimeout = 3s;

long long monotonicMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

class TemporaryFolder {
  public:
    TemporaryFolder() {
        char pattern[] = "/tmp/velkor-simulator-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (made == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = made;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct LogLine {
    long long ms = 0;
    std::string kind;
    std::string text;
};

std::vector<LogLine> readLog(const std::string& path) {
    std::vector<LogLine> lines;
    std::istringstream in(readFile(path));
    std::string line;
    while (std::getline(in, line)) {
        LogLine parsed;
        std::istringstream fields(line);
        fields >> parsed.ms >> parsed.kind;
        std::getline(fields >> std::ws, parsed.text);
        EXPECT_FALSE(parsed.kind.empty()) << "log line without a kind: " << line;
        lines.push_back(parsed);
    }
    return lines;
}

std::vector<std::string> logged(const std::vector<LogLine>& log, const std::string& kind) {
    std::vector<std::string> texts;
    for (const LogLine& line : log) {
        if (line.kind == kind) {
            texts.push_back(line.text);
        }
    }
    return texts;
}

// Waits until the log file holds `text`.
bool waitForLogText(const std::string& log, const std::string& text) {
    const auto deadline = Clock::now() + 5s;
    while (Clock::now() < deadline) {
        if (readFile(log).find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// The number of complete packets "<...>" in `bytes`.
int countPackets(const std::string& bytes) {
    int packets = 0;
    std::size_t start = bytes.find('<');
    while (start != std::string::npos) {
        const std::size_t end = bytes.find('>', start);
        if (end == std::string::npos) {
            break;
        }
        ++packets;
        start = bytes.find('<', end);
    }
    return packets;
}

// A velkor-simulator process. Its standard output is a pipe; its standard error is the test's,
// or nothing when the test expects it to complain.
class SimulatorProcess {
  public:
    explicit SimulatorProcess(const std::vector<std::string>& arguments,
                              bool silenceErrors = false) {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        ::posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        ::posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
        if (silenceErrors) {
            ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        }
        std::vector<std::string> all{VELKOR_SIMULATOR};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : all) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        const int error =
            ::posix_spawn(&pid_, VELKOR_SIMULATOR, &actions, nullptr, argv.data(), environ);
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        output_ = pipeFds[0];
        if (error != 0) {
            ::close(output_);
            throw std::runtime_error("cannot start " VELKOR_SIMULATOR);
        }
    }
    ~SimulatorProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(output_);
    }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    pid_t pid() const { return pid_; }

    // The first line of its output, without the line end; empty if none came in time.
    std::string firstLine() {
        std::string line;
        const auto deadline = Clock::now() + 5s;
        while (Clock::now() < deadline) {
            pollfd watched{output_, POLLIN, 0};
            if (::poll(&watched, 1, 100) <= 0) {
                continue;
            }
            char c;
            if (::read(output_, &c, 1) != 1) {
                break;  // it ended
            }
            if (c == '\n') {
                return line;
            }
            line += c;
        }
        return {};
    }

    // Everything it prints until it closes its output (it has ended then).
    std::string allOutput() {
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(output_, buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    // Sends `signal` and waits at most `limit` for the process to end; its wait status, or
    // nullopt if it was still running (it is killed then).
    std::optional<int> stop(int signal, std::chrono::milliseconds limit = 3000ms) {
        ::kill(pid_, signal);
        return waitForExit(limit);
    }

    std::optional<int> waitForExit(std::chrono::milliseconds limit = 3000ms) {
        const auto deadline = Clock::now() + limit;
        int status = 0;
        while (Clock::now() < deadline) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            std::this_thread::sleep_for(5ms);
        }
        return std::nullopt;
    }

    // Processor time used so far, in clock ticks (user + system).
    long cpuTicks() const {
        const std::string stat = readFile("/proc/" + std::to_string(pid_) + "/stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        long user = 0;
        long system = 0;
        // After the command name: state is field 3, utime 14 and stime 15.
        for (int number = 3; number <= 15 && fields >> field; ++number) {
            if (number == 14) {
                user = std::stol(field);
            } else if (number == 15) {
                system = std::stol(field);
            }
        }
        return user + system;
    }

  private:
    pid_t pid_ = -1;
    int output_ = -1;
};

// The console's end of the line: opened raw, as the console opens its port.
class ConsolePort {
  public:
    enum class Settings { Raw, AsFound };

    explicit ConsolePort(const std::string& path, Settings setup = Settings::Raw) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) {
            throw std::runtime_error("cannot open " + path);
        }
        if (setup == Settings::AsFound) {
            return;
        }
        termios settings{};
        ::tcgetattr(fd_, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(fd_, TCSANOW, &settings);
    }
    explicit ConsolePort(int fd) : fd_(fd) {}
    ~ConsolePort() { ::close(fd_); }
    ConsolePort(const ConsolePort&) = delete;
    ConsolePort& operator=(const ConsolePort&) = delete;

    // A bare command in one write, as the console sends it.
    void send(const std::string& command) {
        ASSERT_EQ(::write(fd_, command.data(), command.size()),
                  static_cast<ssize_t>(command.size()));
    }

    // The next packet "<...>", skipping whatever comes before its "<"; empty if none in time.
    std::string packet(std::chrono::milliseconds timeout = kReplyTimeout) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const std::size_t start = received_.find('<');
            const std::size_t end =
                start == std::string::npos ? std::string::npos : received_.find('>', start);
            if (end != std::string::npos) {
                std::string packet = received_.substr(start, end - start + 1);
                received_.erase(0, end + 1);
                return packet;
            }
            if (!readSome(deadline)) {
                return {};
            }
        }
    }

    // Every byte that came in, junk included; read until `count` packets ended or time ran out.
    std::string rawUntilPackets(int count, std::chrono::milliseconds timeout = kReplyTimeout) {
        const auto deadline = Clock::now() + timeout;
        while (countPackets(received_) < count && readSome(deadline)) {
        }
        std::string raw;
        raw.swap(received_);
        return raw;
    }

    int fd() const { return fd_; }

  private:
    bool readSome(Clock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) {
            return false;
        }
        pollfd watched{fd_, POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char buffer[256];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        received_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    int fd_ = -1;
    std::string received_;
};

// A pseudo-terminal made by the test, standing for a serial adapter and its cable: the
// simulator opens the slave as its device, the test talks through the master.
struct Adapter {
    Adapter() {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            throw std::runtime_error("cannot make a pseudo-terminal");
        }
        device = ::ptsname(master);
        cable = std::make_unique<ConsolePort>(master);
    }
    std::string device;
    std::unique_ptr<ConsolePort> cable;
};

void expectEndedNormally(const std::optional<int>& status) {
    ASSERT_TRUE(status.has_value()) << "the simulator did not end within the time limit";
    ASSERT_TRUE(WIFEXITED(*status)) << "wait status " << *status;
    EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST(SimulatorProgram, AnswersTheConsoleOnItsPseudoTerminalAndLogsEveryCommand) {
    TemporaryFolder folder;
    const std::string log = folder.file("simulator.log");
    const long long started = monotonicMilliseconds();
    SimulatorProcess simulator({"--log", log, "--count", "5", "--set-out", "1"});
    const std::string path = simulator.firstLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << "first line: " << path;

    ConsolePort port(path);
    // Each command goes out once the previous reply is in: the reply comes only after the
    // simulator has seen the idle gap, so the commands are apart by more than the gap.
    const std::vector<std::pair<std::string, std::vector<std::string>>> dialogue = {
        {"SH_S4890", {"<SH_S4890>"}},
        {"Lamin1", {"<Lamin1>"}},
        {"R_POS1500", {"<R_POS1500>"}},
        {"R2_POS2500", {"<R2_POS2500>"}},
        {"GET_ALL", {"<GET_ALL;CNT=6;setOut=1;>"}},
        {"GET_STEP", {"<GET_STEP>", "<STEP=2>"}},
        {"CLR_CNT", {"<CLR_CNT>"}},
        {"GET_CNT", {"<GET_CNT>", "<CNT=0>"}},
        {"NEW_THING7", {"<NEW_THING7>"}},
    };
    std::vector<std::string> sent;
    std::vector<std::string> received;
    for (const auto& [command, replies] : dialogue) {
        port.send(command);
        sent.push_back(command);
        for (const std::string& expected : replies) {
            const std::string packet = port.packet();
            EXPECT_EQ(packet, expected) << "after " << command;
            received.push_back(packet);
        }
    }
    // Nothing more than that.
    EXPECT_EQ(port.packet(200ms), "");

    expectEndedNormally(simulator.stop(SIGTERM));
    const long long ended = monotonicMilliseconds();

    const std::vector<LogLine> lines = readLog(log);
    EXPECT_EQ(logged(lines, "recv"), sent);
    EXPECT_EQ(logged(lines, "send"), received);
    long long previous = started;
    for (const LogLine& line : lines) {
        EXPECT_GE(line.ms, previous) << line.kind << " " << line.text;
        EXPECT_LE(line.ms, ended) << line.kind << " " << line.text;
        previous = line.ms;
    }
    const std::vector<std::string> info = logged(lines, "info");
    EXPECT_NE(std::find(info.begin(), info.end(), "setting SH_S = 4890"), info.end());
    EXPECT_NE(std::find(info.begin(), info.end(), "stopped by SIGTERM"), info.end());
}

TEST(SimulatorProgram, ItsPseudoTerminalIsRawBeforeTheConsoleSetsItUp) {
    TemporaryFolder folder;
    const std::string log = folder.file("simulator.log");
    SimulatorProcess simulator({"--log", log});
    // Opened with the settings it has: a console that does not set up its port, or does it
    // late, must not find a terminal in cooked mode with echo.
    ConsolePort port(simulator.firstLine(), ConsolePort::Settings::AsFound);
    termios settings{};
    ASSERT_EQ(::tcgetattr(port.fd(), &settings), 0);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_iflag & (ICRNL | IXON), 0u);

    port.send("SH_S1");
    EXPECT_EQ(port.packet(), "<SH_S1>");
    // An echoing terminal would hand the reply back to the simulator as a command of its own.
    EXPECT_EQ(port.packet(300ms), "");
    expectEndedNormally(simulator.stop(SIGTERM));
    EXPECT_EQ(logged(readLog(log), "recv"), std::vector<std::string>{"SH_S1"});
}

TEST(SimulatorProgram, OnlyAnIdleGapSeparatesCommands) {
    TemporaryFolder folder;
    const std::string log = folder.file("simulator.log");
    // A long gap, so that the test's own pauses below stay far from it on a busy machine.
    SimulatorProcess simulator({"--log", log, "--gap", "300"});
    ConsolePort port(simulator.firstLine());

    // Two writes 30 ms apart are one command.
    port.send("SH_");
    std::this_thread::sleep_for(30ms);
    port.send("S77");
    EXPECT_EQ(port.packet(), "<SH_S77>");
    // Two commands without a pause run together.
    port.send("Lamin1");
    port.send("Lamin0");
    EXPECT_EQ(port.packet(), "<Lamin1Lamin0>");

    expectEndedNormally(simulator.stop(SIGTERM));
    EXPECT_EQ(logged(readLog(log), "recv"), (std::vector<std::string>{"SH_S77", "Lamin1Lamin0"}));
}

TEST(SimulatorProgram, AWithheldCommandGetsNoReply) {
    TemporaryFolder folder;
    const std::string log = folder.file("simulator.log");
    SimulatorProcess simulator({"--log", log, "--withhold", "L1headPaz", "--withhold", "GET_ALL"});
    ConsolePort port(simulator.firstLine());

    // Without a reply to wait for, the log tells when the simulator has taken a command as
    // complete, after the idle gap; only then does the next one go out.
    port.send("L1headPaz5");
    ASSERT_TRUE(waitForLogText(log, "recv L1headPaz5\n"));
    port.send("GET_ALL");
    ASSERT_TRUE(waitForLogText(log, "recv GET_ALL\n"));
    port.send("SH_S1");
    // The first packet to come is the answer to the command that is not withheld.
    EXPECT_EQ(port.packet(), "<SH_S1>");
    EXPECT_EQ(port.packet(200ms), "");

    expectEndedNormally(simulator.stop(SIGTERM));
    const std::vector<LogLine> lines = readLog(log);
    EXPECT_EQ(logged(lines, "recv"), (std::vector<std::string>{"L1headPaz5", "GET_ALL", "SH_S1"}));
    EXPECT_EQ(logged(lines, "send"), std::vector<std::string>{"<SH_S1>"});
}

TEST(SimulatorProgram, AcknowledgesInTheEqualsFormOnRequest) {
    SimulatorProcess simulator({"--equals", "--log", "/dev/null"});
    ConsolePort port(simulator.firstLine());
    port.send("SH_S4890");
    EXPECT_EQ(port.packet(), "<SH_S=4890>");
    port.send("Lamin1");
    EXPECT_EQ(port.packet(), "<Lamin=1>");
    port.send("GET_ALL");
    EXPECT_EQ(port.packet(), "<GET_ALL;CNT=0;setOut=0;>");
    expectEndedNormally(simulator.stop(SIGINT));
}

TEST(SimulatorProgram, DelayedJunkyAndSplitRepliesStillCarryThePackets) {
    SimulatorProcess simulator({"--delay", "150", "--junk", "--split", "--log", "/dev/null"});
    ConsolePort port(simulator.firstLine());
    const auto sentAt = Clock::now();
    port.send("SH_S4890");
    const std::string raw = port.rawUntilPackets(1);
    const auto elapsed = Clock::now() - sentAt;
    EXPECT_GE(elapsed, 150ms);
    ASSERT_NE(raw.find('<'), std::string::npos) << "no packet came";
    // Junk came first: the bytes do not start with the packet.
    EXPECT_GT(raw.find('<'), 0u);
    EXPECT_EQ(raw.substr(raw.find('<')), "<SH_S4890>");

    port.send("GET_CNT");
    const std::string replies = port.rawUntilPackets(2);
    const std::size_t first = replies.find("<GET_CNT>");
    ASSERT_NE(first, std::string::npos) << replies;
    EXPECT_NE(replies.find("<CNT=0>", first), std::string::npos) << replies;
    expectEndedNormally(simulator.stop(SIGTERM));
}

TEST(SimulatorProgram, StopsOnASignalAndRemovesItsLink) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGINT");
        TemporaryFolder folder;
        const std::string link = folder.file("ttyVELKOR");
        SimulatorProcess simulator({"--link", link, "--log", "/dev/null"});
        const std::string path = simulator.firstLine();
        ASSERT_FALSE(path.empty());
        // The link is there as soon as the path is printed, and leads to the same line.
        ASSERT_EQ(std::filesystem::read_symlink(link).string(), path);
        {
            ConsolePort port(link);
            port.send("SH_S3");
            EXPECT_EQ(port.packet(), "<SH_S3>");
        }
        expectEndedNormally(simulator.stop(signal, 5000ms));
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    }
}

TEST(SimulatorProgram, AStaleLinkIsReplacedAndAFileInTheWayIsRefused) {
    TemporaryFolder folder;
    const std::string link = folder.file("port");
    std::filesystem::create_symlink("/dev/pts/nonexistent", link);
    {
        SimulatorProcess simulator({"--link", link, "--log", "/dev/null"});
        const std::string path = simulator.firstLine();
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), path);
        expectEndedNormally(simulator.stop(SIGTERM));
    }
    std::ofstream(folder.file("file")) << "not a link";
    SimulatorProcess refused({"--link", folder.file("file"), "--log", folder.file("log")}, true);
    EXPECT_EQ(refused.allOutput(), "");  // no path: the line is not offered
    const std::optional<int> status = refused.waitForExit();
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 1);
    EXPECT_EQ(readFile(folder.file("file")), "not a link");
    EXPECT_NE(readFile(folder.file("log")).find("is not a symbolic link"), std::string::npos);
}

TEST(SimulatorProgram, TheLineSurvivesTheConsoleClosingAndReopeningItWithoutBusyWaiting) {
    SimulatorProcess simulator({"--log", "/dev/null"});
    const std::string path = simulator.firstLine();
    {
        ConsolePort port(path);
        port.send("SH_S1");
        EXPECT_EQ(port.packet(), "<SH_S1>");
    }
    // Nobody but the simulator has the line open now. It must sleep, not spin.
    const long ticksBefore = simulator.cpuTicks();
    std::this_thread::sleep_for(500ms);
    const long ticksIdle = simulator.cpuTicks() - ticksBefore;
    EXPECT_LE(ticksIdle, 5) << "processor time used in 0.5 s idle, in ticks of 1/"
                            << ::sysconf(_SC_CLK_TCK) << " s";
    {
        ConsolePort port(path);
        port.send("SH_S2");
        EXPECT_EQ(port.packet(), "<SH_S2>");
    }
    expectEndedNormally(simulator.stop(SIGTERM));
}

TEST(SimulatorProgram, SaveFlashStoresTheSettingsThatTheNextStartRestores) {
    TemporaryFolder folder;
    const std::string state = folder.file("flash.txt");
    {
        SimulatorProcess simulator({"--state", state, "--log", "/dev/null"});
        ConsolePort port(simulator.firstLine());
        for (const std::string command : {"SH_S4890", "Lamin1", "SH_S5000", "SaveFlash"}) {
            port.send(command);
            EXPECT_EQ(port.packet(), "<" + command + ">");
        }
        expectEndedNormally(simulator.stop(SIGTERM));
    }
    const std::string stored = readFile(state);
    EXPECT_NE(stored.find("\nLamin=1\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("\nSH_S=5000\n"), std::string::npos) << stored;
    EXPECT_EQ(stored.find("4890"), std::string::npos) << stored;

    SimulatorProcess simulator({"--state", state, "--log", "/dev/null"});
    ConsolePort port(simulator.firstLine());
    port.send("setSpeed80");
    EXPECT_EQ(port.packet(), "<setSpeed80>");
    port.send("SaveFlash");
    EXPECT_EQ(port.packet(), "<SaveFlash>");
    expectEndedNormally(simulator.stop(SIGTERM));
    const std::string restoredAndStored = readFile(state);
    for (const char* line : {"\nLamin=1\n", "\nSH_S=5000\n", "\nsetSpeed=80\n"}) {
        EXPECT_NE(restoredAndStored.find(line), std::string::npos) << restoredAndStored;
    }
}

TEST(SimulatorProgram, ServesASerialDeviceGivenByPath) {
    Adapter adapter;
    const std::string& device = adapter.device;
    ConsolePort& cable = *adapter.cable;

    SimulatorProcess simulator({"--device", device, "--log", "/dev/null"});
    EXPECT_EQ(simulator.firstLine(), device);
    cable.send("R_POS100");
    EXPECT_EQ(cable.packet(), "<R_POS100>");
    cable.send("GET_ALL");
    EXPECT_EQ(cable.packet(), "<GET_ALL;CNT=1;setOut=0;>");
    // The device was set up raw, 115200 baud, 8 data bits, no parity, one stop bit.
    const int slave = ::open(device.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios settings{};
    ASSERT_EQ(::tcgetattr(slave, &settings), 0);
    ::close(slave);
    EXPECT_EQ(::cfgetospeed(&settings), static_cast<speed_t>(B115200));
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO), 0u);
    expectEndedNormally(simulator.stop(SIGTERM));
}

TEST(SimulatorProgram, ADeviceThatHangsUpIsTriedAgainWithoutBusyWaiting) {
    TemporaryFolder folder;
    const std::string log = folder.file("simulator.log");
    // The simulator is given a link, so that no other program's terminal can turn up under the
    // device's name while the adapter is away.
    const std::string device = folder.file("ttyUSB0");
    auto adapter = std::make_unique<Adapter>();
    std::filesystem::create_symlink(adapter->device, device);
    SimulatorProcess simulator({"--device", device, "--log", log});
    ASSERT_EQ(simulator.firstLine(), device);
    adapter->cable->send("SH_S1");
    EXPECT_EQ(adapter->cable->packet(), "<SH_S1>");

    // The adapter is pulled out: the device hangs up and is gone.
    std::filesystem::remove(device);
    adapter.reset();
    ASSERT_TRUE(waitForLogText(log, "trying again every 500 ms"));
    const long ticksBefore = simulator.cpuTicks();
    std::this_thread::sleep_for(600ms);
    EXPECT_LE(simulator.cpuTicks() - ticksBefore, 5);

    // Plugged in again: the simulator finds it and answers.
    Adapter replugged;
    std::filesystem::create_symlink(replugged.device, device);
    ASSERT_TRUE(waitForLogText(log, "reopened"));
    replugged.cable->send("SH_S2");
    EXPECT_EQ(replugged.cable->packet(), "<SH_S2>");
    expectEndedNormally(simulator.stop(SIGTERM));
}

TEST(SimulatorProgram, PrintsItsUsageOnHelpAndOnABadOption) {
    {
        SimulatorProcess help({"--help"});
        const std::string usage = help.allOutput();
        EXPECT_EQ(usage.rfind("usage: velkor-simulator", 0), 0u) << usage;
        EXPECT_NE(usage.find("--withhold WORD"), std::string::npos);
        const std::optional<int> status = help.waitForExit();
        ASSERT_TRUE(status.has_value());
        ASSERT_TRUE(WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), 0);
    }
    SimulatorProcess bad({"--no-such-option"}, true);
    EXPECT_EQ(bad.allOutput(), "");  // the usage goes to standard error
    const std::optional<int> status = bad.waitForExit();
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 2);
}

}  // namespace
}  // namespace velkor::simulator
