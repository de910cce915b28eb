// Serial link figures over a pseudo-terminal:
//  - latency from the controller's side writing a packet to the console's OnPacket running on
//    the user-interface thread (and, for comparison, with OnPacket on the port's event thread),
//    against the raw latency of the same kind of pseudo-terminal measured in the same run by a
//    bare poll loop;
//  - the worst delay from a packet's last byte to OnPacket when the controller writes byte by
//    byte, and for a packet that follows a burst of 8 or 64 KB without ">", against the same
//    traffic read by the bare poll loop; no packet may be lost;
//  - the time from a lost device's return to the line being open again;
//  - processor time of an open, idle port, of a port whose device has gone (lost, retrying
//    four times a second) and of a bare pumping delay.
//
// The latency and delay figures run in three rounds, the console and the bare loop taking turns
// at going first, each round on fresh pseudo-terminals; every round is printed, then each figure
// as min / median / max over the rounds with its goal met or not. While it waits, the console's
// side sleeps in an event loop as the console's user-interface thread does, and the bare loop
// sleeps in poll(): neither spins. Beside each side's figures is what the machine did meanwhile
// (the other programs' processor use, the kernel's processor pressure, how long this process's
// threads waited for a core), which is what bounds the worst delays on a shared machine.
//
//   velkor_serial_bench [packets] [idle-seconds] [bytewise-packets]   (defaults 2000, 10, 10000)

#include <sys/eventfd.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ComDataPacket.h"
#include "ComPort.h"
#include "LineRecovery.h"
#include "LinkedLine.h"
#include "ProcessorTime.h"
#include "PseudoTerminal.h"
#include "PumpingDelay.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

constexpr int kRounds = 3;
constexpr int kBurstPackets = 50;
constexpr double kLatencyRatioGoal = 1.5;
constexpr double kWorstDelayGoalMs = 5.0;
// How long a side waits for a packet (latency) or for the last packets of a run (delays)
// before it counts them lost.
constexpr Milliseconds kGiveUp{2000};

double microsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

// A packet that says which one it is: "<GET_ALL;CNT=i;setOut=0;>".
std::string numberedPacket(int i) {
    return "<GET_ALL;CNT=" + std::to_string(i) + ";setOut=0;>";
}
int numberOf(const std::string& text) {
    const auto at = text.find("CNT=");
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 4);
}

// ---- What the machine did meanwhile ----------------------------------------------------------

// A reading of the machine's and this process's processor use, to tell a slow path from a busy
// machine: the kernel's totals over all cores, this process's own time and preemptions, the
// kernel's processor pressure (time during which some task was ready but had no core) and how
// long each of this process's threads has waited for a core so far.
struct Load {
    Clock::time_point at;
    long long machineBusy = 0;  // clock ticks, all cores
    long long machineAll = 0;
    long long steal = 0;
    double processSeconds = 0;
    long long preemptions = 0;
    long long pressureMicros = -1;               // -1 where the kernel has no pressure figures
    std::map<std::string, long long> waitNanos;  // by thread id
};

Load loadNow() {
    Load load;
    load.at = Clock::now();
    {
        std::ifstream stat("/proc/stat");
        std::string cpu;
        long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0,
                  steal = 0;
        stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
        load.machineBusy = user + nice + system + irq + softirq + steal;
        load.machineAll = load.machineBusy + idle + iowait;
        load.steal = steal;
    }
    load.processSeconds = velkor::test::processorSeconds();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    load.preemptions = usage.ru_nivcsw;
    {
        std::ifstream pressure("/proc/pressure/cpu");
        std::string line;
        if (std::getline(pressure, line)) {
            const auto at = line.find("total=");
            if (at != std::string::npos) {
                load.pressureMicros = std::atoll(line.c_str() + at + 6);
            }
        }
    }
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        long long running = 0, waiting = 0;
        if (schedstat >> running >> waiting) {
            load.waitNanos[task.path().filename().string()] = waiting;
        }
    }
    return load;
}

// What happened between two readings, for threads that lived through both.
struct LoadDelta {
    double othersCores = 0;  // processor use of everything but this process
    double stealCores = 0;
    double pressureMs = -1;
    double threadsWaitedMs = 0;
    long long preemptions = 0;
};

LoadDelta loadBetween(const Load& from, const Load& to) {
    LoadDelta delta;
    const double wall = std::chrono::duration<double>(to.at - from.at).count();
    const double cores = static_cast<double>(std::max(1u, std::thread::hardware_concurrency()));
    const long long all = to.machineAll - from.machineAll;
    if (all > 0 && wall > 0) {
        const double busyCores = cores * static_cast<double>(to.machineBusy - from.machineBusy) /
                                 static_cast<double>(all);
        delta.othersCores =
            std::max(0.0, busyCores - (to.processSeconds - from.processSeconds) / wall);
        delta.stealCores =
            cores * static_cast<double>(to.steal - from.steal) / static_cast<double>(all);
    }
    if (from.pressureMicros >= 0 && to.pressureMicros >= 0) {
        delta.pressureMs = static_cast<double>(to.pressureMicros - from.pressureMicros) / 1000;
    }
    for (const auto& [thread, waited] : to.waitNanos) {
        const auto before = from.waitNanos.find(thread);
        if (before != from.waitNanos.end()) {
            delta.threadsWaitedMs += static_cast<double>(waited - before->second) / 1e6;
        }
    }
    delta.preemptions = to.preemptions - from.preemptions;
    return delta;
}

std::string describe(const LoadDelta& load) {
    char stolen[40] = "";
    if (load.stealCores > 0.005) {
        std::snprintf(stolen, sizeof stolen, " (%.2f stolen)", load.stealCores);
    }
    char text[200];
    std::snprintf(text, sizeof text,
                  "others %.2f cores%s, pressure %.1f ms, own threads waited %.1f ms for a core, "
                  "%lld preemptions",
                  load.othersCores, stolen, load.pressureMs, load.threadsWaitedMs,
                  load.preemptions);
    return text;
}

// ---- Waiting without spinning ----------------------------------------------------------------

// The user-interface thread's wait: blocked in an event loop, as the console's own thread is
// between events, until `done()` holds or the time is up. Whatever may have made `done()` true
// calls wake(), from any thread; received packets are delivered inside the loop.
class EventLoopWait {
  public:
    void wake() {
        if (QThread::currentThread() == loop_.thread()) {
            if (loop_.isRunning()) {
                loop_.quit();
            }
        } else {
            QMetaObject::invokeMethod(
                &loop_,
                [this] {
                    if (loop_.isRunning()) {
                        loop_.quit();
                    }
                },
                Qt::QueuedConnection);
        }
    }

    // Returns done() as it stands at the end.
    template <typename Done>
    bool waitUntil(Done done, Milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (!done()) {
            const auto left = std::chrono::ceil<Milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return done();
            }
            QTimer timer;
            timer.setSingleShot(true);
            timer.setTimerType(Qt::PreciseTimer);
            QObject::connect(&timer, &QTimer::timeout, &loop_, &QEventLoop::quit);
            timer.start(static_cast<int>(left.count()));
            loop_.exec();
        }
        return true;
    }

    // Sleeps in the event loop for `time`, handling whatever comes meanwhile.
    void pause(Milliseconds time) {
        waitUntil([] { return false; }, time);
    }

  private:
    QEventLoop loop_;
};

// A plain thread's wait: blocked in poll() on an event descriptor that wake() counts up.
class PollWait {
  public:
    PollWait() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (fd_ < 0) {
            std::perror("eventfd");
            std::exit(1);
        }
    }
    ~PollWait() { ::close(fd_); }
    PollWait(const PollWait&) = delete;
    PollWait& operator=(const PollWait&) = delete;

    int fd() const { return fd_; }
    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
    }
    void drain() {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
    }

    template <typename Done>
    bool waitUntil(Done done, Milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (!done()) {
            const auto left = std::chrono::ceil<Milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return done();
            }
            pollfd in{fd_, POLLIN, 0};
            if (::poll(&in, 1, static_cast<int>(left.count())) > 0) {
                drain();
            }
        }
        return true;
    }

  private:
    int fd_;
};

// ---- The two readers ---------------------------------------------------------------------

// For each packet, when the reader had it whole (the epoch for one that never came), with the
// number of the latest one seen. Written by the reading thread, read by the measuring one.
class Arrivals {
  public:
    explicit Arrivals(int packets) : at_(static_cast<std::size_t>(packets)) {}
    void note(const std::string& packet) {
        const int i = numberOf(packet);
        if (i >= 0 && i < static_cast<int>(at_.size())) {
            at_[static_cast<std::size_t>(i)] = Clock::now();
            latest_.store(i, std::memory_order_release);
            count_.fetch_add(1, std::memory_order_release);
        }
    }
    bool has(int i) const { return latest_.load(std::memory_order_acquire) >= i; }
    int count() const { return count_.load(std::memory_order_acquire); }
    Clock::time_point at(int i) const { return at_[static_cast<std::size_t>(i)]; }

  private:
    std::vector<Clock::time_point> at_;
    std::atomic<int> latest_{-1};
    std::atomic<int> count_{0};
};

// The console's side: its port and packet framer on the controller's pseudo-terminal, set up as
// the console sets up the controller's line, OnPacket noting each packet's arrival.
class ConsoleReader {
  public:
    ConsoleReader(const std::string& path, int packets, velkor::TSyncMethod sync)
        : arrivals_(packets) {
        port_.SetBaudRate(velkor::br115200);
        port_.SetDiscardNull(true);
        port_.SetTriggersOnRxChar(false);
        port_.SetSyncMethod(sync);
        port_.SetPort(path);
        framer_.Framer().SetStartString("<");
        framer_.Framer().SetStopString(">");
        framer_.SetComPort(&port_);
        framer_.Framer().OnPacket = [this](velkor::PacketFramer&, const std::string& packet) {
            arrivals_.note(packet);
            wait_.wake();
        };
        port_.OpenPort();
    }
    Arrivals& arrivals() { return arrivals_; }
    EventLoopWait& wait() { return wait_; }

  private:
    EventLoopWait wait_;
    Arrivals arrivals_;
    velkor::TComPort port_;
    velkor::TComDataPacket framer_;
};

// The bare poll loop: a thread of its own blocked in poll() on the same kind of line, as the
// port's event thread is, that takes the packets out of what it reads: the least any reader of
// this line can take.
class BareReader {
  public:
    BareReader(const std::string& path, int packets)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)), arrivals_(packets) {
        if (fd_ < 0) {
            std::perror("open");
            std::exit(1);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~BareReader() {
        stop();
        ::close(fd_);
    }
    BareReader(const BareReader&) = delete;
    BareReader& operator=(const BareReader&) = delete;

    Arrivals& arrivals() { return arrivals_; }
    PollWait& wait() { return arrived_; }
    void stop() {
        if (thread_.joinable()) {
            stop_.wake();
            thread_.join();
        }
    }

  private:
    void run() {
        std::string pending;
        char buffer[4096];
        for (;;) {
            pollfd in[2] = {{fd_, POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
            if (::poll(in, 2, -1) < 0 || (in[1].revents & POLLIN) != 0) {
                return;
            }
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            for (ssize_t k = 0; k < n; ++k) {
                pending += buffer[k];
                if (buffer[k] == '>') {
                    arrivals_.note(pending);
                    arrived_.wake();
                    pending.clear();
                } else if (buffer[k] == 'b') {
                    pending.clear();  // burst bytes are not kept
                }
            }
        }
    }

    int fd_;
    Arrivals arrivals_;
    PollWait arrived_;
    PollWait stop_;
    std::thread thread_;
};

// ---- Latency ---------------------------------------------------------------------------------

struct Latency {
    double median = 0;
    double p99 = 0;
    double worst = 0;
    int lost = 0;
    LoadDelta load;
};

Latency summarize(std::vector<double> micros, int lost, const LoadDelta& load) {
    Latency latency;
    latency.lost = lost;
    latency.load = load;
    if (!micros.empty()) {
        std::sort(micros.begin(), micros.end());
        latency.median = micros[micros.size() / 2];
        latency.p99 = micros[micros.size() * 99 / 100];
        latency.worst = micros.back();
    }
    return latency;
}

// Packets written one at a time, each once the previous one has been seen, with a pause of a
// millisecond between them so that every packet meets an idle line. `reader` has arrivals()
// and a wait(); `pause` is how the writing side sleeps between packets.
template <typename Reader, typename Pause>
Latency measureLatency(velkor::test::PseudoTerminal& controller, Reader& reader, int packets,
                       Pause pause) {
    std::vector<double> micros;
    int lost = 0;
    const Load before = loadNow();
    for (int i = 0; i < packets; ++i) {
        const auto sent = Clock::now();
        controller.write(numberedPacket(i));
        if (reader.wait().waitUntil([&] { return reader.arrivals().has(i); }, kGiveUp) &&
            reader.arrivals().at(i) != Clock::time_point{}) {
            micros.push_back(microsBetween(sent, reader.arrivals().at(i)));
        } else {
            ++lost;
        }
        pause();
    }
    return summarize(std::move(micros), lost, loadBetween(before, loadNow()));
}

Latency consoleLatency(int packets, velkor::TSyncMethod sync) {
    velkor::test::PseudoTerminal controller;
    ConsoleReader console(controller.path(), packets, sync);
    return measureLatency(controller, console, packets,
                          [&] { console.wait().pause(Milliseconds(1)); });
}

Latency bareLatency(int packets) {
    velkor::test::PseudoTerminal controller;
    BareReader bare(controller.path(), packets);
    return measureLatency(controller, bare, packets, [] { ::poll(nullptr, 0, 1); });
}

// ---- Delays under byte-by-byte writing and after bursts --------------------------------------

// What a reader made of one run: for each packet, the delay from its last byte leaving the
// controller's side to the reader having it whole (-1 for a packet that never came), and how
// long the controller's write of that last byte took.
struct Delays {
    std::vector<double> micros;
    std::vector<double> writeMicros;
    LoadDelta load;
    int lost() const { return static_cast<int>(std::count(micros.begin(), micros.end(), -1.0)); }
    std::size_t worstIndex() const {
        return static_cast<std::size_t>(std::max_element(micros.begin(), micros.end()) -
                                        micros.begin());
    }
    double worst() const { return micros.empty() ? 0 : micros[worstIndex()]; }
    double median() const {
        std::vector<double> sorted = micros;
        std::sort(sorted.begin(), sorted.end());
        return sorted.empty() ? 0 : sorted[sorted.size() / 2];
    }
    int over(double limitMicros) const {
        return static_cast<int>(
            std::count_if(micros.begin(), micros.end(), [&](double m) { return m > limitMicros; }));
    }
};

// The controller's side of the runs below: each packet byte by byte with a pause after every
// byte, or whole after a burst of `burst` bytes without ">". `lastByte[i]` is when packet i's
// last byte was handed to the line, `written[i]` when that write returned.
struct Traffic {
    std::vector<Clock::time_point> lastByte;
    std::vector<Clock::time_point> written;
};

void writeTraffic(velkor::test::PseudoTerminal& controller, int packets, std::size_t burst,
                  Traffic& traffic) {
    traffic.lastByte.assign(static_cast<std::size_t>(packets), {});
    traffic.written.assign(static_cast<std::size_t>(packets), {});
    for (int i = 0; i < packets; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        const std::string packet = numberedPacket(i);
        if (burst > 0) {
            controller.write(std::string(burst, 'b') + packet.substr(0, packet.size() - 1), 30000);
            traffic.lastByte[slot] = Clock::now();
            controller.write(">");
            traffic.written[slot] = Clock::now();
        } else {
            for (std::size_t k = 0; k < packet.size(); ++k) {
                if (k + 1 == packet.size()) {
                    traffic.lastByte[slot] = Clock::now();
                }
                controller.write(std::string(1, packet[k]));
                if (k + 1 == packet.size()) {
                    traffic.written[slot] = Clock::now();
                }
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
        }
        std::this_thread::sleep_for(Milliseconds(burst > 0 ? 20 : 1));
    }
}

Delays delaysOf(const Traffic& traffic, const Arrivals& arrivals, const LoadDelta& load) {
    Delays delays;
    delays.load = load;
    for (std::size_t i = 0; i < traffic.lastByte.size(); ++i) {
        const auto at = arrivals.at(static_cast<int>(i));
        delays.micros.push_back(at == Clock::time_point{} ? -1.0
                                                          : microsBetween(traffic.lastByte[i], at));
        delays.writeMicros.push_back(microsBetween(traffic.lastByte[i], traffic.written[i]));
    }
    return delays;
}

// The controller writes from a thread of its own while the user-interface thread sleeps in its
// event loop, handling the port's deliveries, until every packet is in or two seconds after the
// last one was written.
Delays consoleDelays(int packets, std::size_t burst) {
    velkor::test::PseudoTerminal controller;
    ConsoleReader console(controller.path(), packets, velkor::smThreadSync);
    Traffic traffic;
    std::atomic<bool> done{false};
    std::promise<void> go;
    std::promise<void> release;
    std::thread writer([&] {
        go.get_future().wait();
        writeTraffic(controller, packets, burst, traffic);
        done = true;
        console.wait().wake();
        release.get_future().wait();  // stays until the load is read, to count its waits
    });
    const Load before = loadNow();
    go.set_value();
    const auto all = [&] { return console.arrivals().count() >= packets; };
    console.wait().waitUntil([&] { return all() || done.load(); }, Milliseconds(24 * 3600 * 1000));
    console.wait().waitUntil(all, kGiveUp);
    const Load after = loadNow();
    release.set_value();
    writer.join();
    return delaysOf(traffic, console.arrivals(), loadBetween(before, after));
}

// The same traffic read by the bare poll loop; the controller writes from this thread, which
// then sleeps in poll() until every packet is in or two seconds have passed.
Delays bareDelays(int packets, std::size_t burst) {
    velkor::test::PseudoTerminal controller;
    BareReader bare(controller.path(), packets);
    Traffic traffic;
    const Load before = loadNow();
    writeTraffic(controller, packets, burst, traffic);
    bare.wait().waitUntil([&] { return bare.arrivals().count() >= packets; }, kGiveUp);
    const Load after = loadNow();
    bare.stop();
    return delaysOf(traffic, bare.arrivals(), loadBetween(before, after));
}

// ---- Line recovery and processor time ---------------------------------------------------------

// The device of an open port goes away and comes back on the same path (a link, as a replugged
// adapter's name): the time from its return to the port being open again, worst of `rounds`;
// -1 if it did not come back within ten seconds.
double worstReopenMilliseconds(int rounds) {
    velkor::test::LinkedLine line((std::filesystem::temp_directory_path() /
                                   ("velkor-bench-line-" + std::to_string(::getpid())))
                                      .string());
    velkor::TComPort port;
    port.SetPort(line.path());
    EventLoopWait wait;
    const int listener = port.addLineStatusListener([&] { wait.wake(); });
    port.OpenPort();
    double worst = 0;
    for (int round = 0; round < rounds && worst >= 0; ++round) {
        line.unplug();
        if (!wait.waitUntil([&] { return port.LineStatus() == velkor::TLineStatus::Lost; },
                            Milliseconds(10000))) {
            worst = -1;
            break;
        }
        // Returns at a different moment of the retry timer's period each round.
        wait.pause(Milliseconds(37 * round % velkor::LineRecovery::kRetryMilliseconds));
        line.plugIn();
        const auto back = Clock::now();
        if (!wait.waitUntil([&] { return port.Connected(); }, Milliseconds(10000))) {
            worst = -1;
            break;
        }
        worst = std::max(worst, microsBetween(back, Clock::now()) / 1000);
    }
    port.removeLineStatusListener(listener);
    port.ClosePort();
    return worst;
}

// The share of one core that this process uses while it waits in a pumping delay.
double processorShareWhileWaiting(int seconds) {
    const double before = velkor::test::processorSeconds();
    const auto start = Clock::now();
    velkor::pumpingDelay(seconds * 1000);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    return (velkor::test::processorSeconds() - before) / wall;
}

double idleProcessorShare(int seconds) {
    velkor::test::PseudoTerminal controller;
    velkor::TComPort port;
    port.SetPort(controller.path());
    port.OpenPort();
    return processorShareWhileWaiting(seconds);
}

// The device went away and stays away: the port retries, the event thread is gone.
double lostProcessorShare(int seconds) {
    velkor::test::LinkedLine line((std::filesystem::temp_directory_path() /
                                   ("velkor-bench-lost-" + std::to_string(::getpid())))
                                      .string());
    velkor::TComPort port;
    port.SetPort(line.path());
    EventLoopWait wait;
    const int listener = port.addLineStatusListener([&] { wait.wake(); });
    port.OpenPort();
    line.unplug();
    const bool lost = wait.waitUntil([&] { return port.LineStatus() == velkor::TLineStatus::Lost; },
                                     Milliseconds(10000));
    port.removeLineStatusListener(listener);
    return lost ? processorShareWhileWaiting(seconds) : -1;
}

// ---- Reporting -------------------------------------------------------------------------------

struct Spread {
    double min;
    double median;
    double max;
};

Spread spreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {values.front(), median, values.back()};
}

std::string spreadText(const std::vector<double>& values, const char* format) {
    const Spread s = spreadOf(values);
    char text[160];
    const std::string three = std::string(format) + " / " + format + " / " + format;
    std::snprintf(text, sizeof text, three.c_str(), s.min, s.median, s.max);
    return text;
}

const char* metText(bool met) {
    return met ? "met" : "NOT met";
}

void printLatency(const char* who, const Latency& l) {
    std::printf("    %-34s median %7.1f us, 99th percentile %7.1f us, worst %8.1f us, %d lost\n",
                who, l.median, l.p99, l.worst, l.lost);
    std::printf("    %-34s   meanwhile: %s\n", "", describe(l.load).c_str());
}

void printDelays(const char* who, const Delays& d) {
    const std::size_t w = d.worstIndex();
    std::printf(
        "    %-34s worst %6.2f ms (packet %zu; its last byte's write took %.2f ms), median %.3f "
        "ms, %d over %.0f ms, %d lost\n",
        who, d.worst() / 1000, w, d.writeMicros.empty() ? 0 : d.writeMicros[w] / 1000,
        d.median() / 1000, d.over(kWorstDelayGoalMs * 1000), kWorstDelayGoalMs, d.lost());
    std::printf("    %-34s   meanwhile: %s\n", "", describe(d.load).c_str());
}

bool delaysMeetGoal(const Delays& d) {
    return d.lost() == 0 && d.worst() <= kWorstDelayGoalMs * 1000;
}

// One delay figure over the rounds: the console's and the bare loop's run in each.
struct DelayFigure {
    std::string name;
    int packets;
    std::size_t burst;
    std::vector<Delays> console;
    std::vector<Delays> bare;

    void runRound(int round) {
        std::printf("  %s, %d packets (%s first)\n", name.c_str(), packets,
                    round % 2 == 0 ? "console" : "bare loop");
        if (round % 2 == 0) {
            console.push_back(consoleDelays(packets, burst));
            bare.push_back(bareDelays(packets, burst));
        } else {
            bare.push_back(bareDelays(packets, burst));
            console.push_back(consoleDelays(packets, burst));
        }
        printDelays("console (user-interface thread)", console.back());
        printDelays("bare poll loop", bare.back());
        const bool met = delaysMeetGoal(console.back());
        std::printf("    goal, worst within %.0f ms and none lost: %s", kWorstDelayGoalMs,
                    metText(met));
        if (!met) {
            std::printf(" (the bare loop in the same round: worst %.2f ms, %d lost, %s)",
                        bare.back().worst() / 1000, bare.back().lost(),
                        delaysMeetGoal(bare.back()) ? "within the goal" : "missing it too");
        }
        std::printf("\n");
    }

    void printSummary() const {
        std::vector<double> consoleWorst, bareWorst, consoleMedian, bareMedian;
        int consoleLost = 0, bareLost = 0, met = 0;
        for (std::size_t r = 0; r < console.size(); ++r) {
            consoleWorst.push_back(console[r].worst() / 1000);
            bareWorst.push_back(bare[r].worst() / 1000);
            consoleMedian.push_back(console[r].median() / 1000);
            bareMedian.push_back(bare[r].median() / 1000);
            consoleLost += console[r].lost();
            bareLost += bare[r].lost();
            met += delaysMeetGoal(console[r]) ? 1 : 0;
        }
        std::printf("  %s, worst: console %s ms, bare loop %s ms; lost: console %d, bare loop %d\n",
                    name.c_str(), spreadText(consoleWorst, "%.2f").c_str(),
                    spreadText(bareWorst, "%.2f").c_str(), consoleLost, bareLost);
        std::printf("  %s, median: console %s ms, bare loop %s ms\n", name.c_str(),
                    spreadText(consoleMedian, "%.3f").c_str(),
                    spreadText(bareMedian, "%.3f").c_str());
        std::printf(
            "    goal, worst within %.0f ms and none lost, in every round: %s (%d of %zu)\n",
            kWorstDelayGoalMs, metText(met == static_cast<int>(console.size())), met,
            console.size());
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // in order with the port's log lines on stderr
    const int packets = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int bytewisePackets = argc > 3 ? std::atoi(argv[3]) : 10000;

    std::printf(
        "%d rounds; latency: %d packets a side; byte by byte: %d packets; bursts: %d "
        "packets; %u cores\n",
        kRounds, packets, bytewisePackets, kBurstPackets, std::thread::hardware_concurrency());

    // The latency's three sides go first, second and third in turn.
    enum Side { Console, EventThread, Bare };
    const char* sideNames[] = {"console (user-interface thread)", "console, on the event thread",
                               "bare poll loop"};
    std::vector<Latency> latencies[3];
    std::vector<DelayFigure> figures = {
        {"byte by byte, last byte to OnPacket", bytewisePackets, 0, {}, {}},
        {"after 8 KB bursts", kBurstPackets, 8 * 1024, {}, {}},
        {"after 64 KB bursts", kBurstPackets, 64 * 1024, {}, {}},
    };
    int latencyMet = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::printf("round %d\n", round + 1);
        std::printf("  latency, write to OnPacket (order:");
        for (int k = 0; k < 3; ++k) {
            std::printf(" %s%s", k == 0 ? "" : "then ", sideNames[(round + k) % 3]);
        }
        std::printf(")\n");
        for (int k = 0; k < 3; ++k) {
            const int side = (round + k) % 3;
            latencies[side].push_back(side == Bare ? bareLatency(packets)
                                      : side == Console
                                          ? consoleLatency(packets, velkor::smThreadSync)
                                          : consoleLatency(packets, velkor::smNone));
        }
        for (int side = 0; side < 3; ++side) {
            printLatency(sideNames[side], latencies[side].back());
        }
        const Latency& console = latencies[Console].back();
        const Latency& bare = latencies[Bare].back();
        const double ratio = console.median / bare.median;
        const bool met = ratio <= kLatencyRatioGoal && console.lost == 0;
        latencyMet += met ? 1 : 0;
        std::printf(
            "    median ratio console / bare %.2f; goal, within %.1f times and none lost: "
            "%s\n",
            ratio, kLatencyRatioGoal, metText(met));
        for (DelayFigure& figure : figures) {
            figure.runRound(round);
        }
    }

    std::printf("summary over %d rounds, min / median / max of the rounds' figures\n", kRounds);
    std::vector<double> values[3][3];  // side, then median / 99th percentile / worst
    std::vector<double> ratios;
    for (int side = 0; side < 3; ++side) {
        for (const Latency& l : latencies[side]) {
            values[side][0].push_back(l.median);
            values[side][1].push_back(l.p99);
            values[side][2].push_back(l.worst);
        }
    }
    for (int r = 0; r < kRounds; ++r) {
        ratios.push_back(latencies[Console][static_cast<std::size_t>(r)].median /
                         latencies[Bare][static_cast<std::size_t>(r)].median);
    }
    const char* measures[] = {"median", "99th percentile", "worst"};
    for (int m = 0; m < 3; ++m) {
        std::printf("  latency %s: console %s us, on the event thread %s us, bare loop %s us\n",
                    measures[m], spreadText(values[Console][m], "%.1f").c_str(),
                    spreadText(values[EventThread][m], "%.1f").c_str(),
                    spreadText(values[Bare][m], "%.1f").c_str());
    }
    std::printf("  latency median ratio console / bare: %s\n", spreadText(ratios, "%.2f").c_str());
    std::printf(
        "    goal, median within %.1f times the bare loop's and none lost, in every round: "
        "%s (%d of %d)\n",
        kLatencyRatioGoal, metText(latencyMet == kRounds), latencyMet, kRounds);
    for (const DelayFigure& figure : figures) {
        figure.printSummary();
    }

    const double reopen = worstReopenMilliseconds(20);
    if (reopen < 0) {
        std::printf("device back to line open:      not open again within 10 s\n");
    } else {
        std::printf("device back to line open:      worst %.0f ms of 20\n", reopen);
    }
    std::printf("open idle port, %d s:           %.3f %% of one core\n", idleSeconds,
                100.0 * idleProcessorShare(idleSeconds));
    const double lost = lostProcessorShare(idleSeconds);
    if (lost < 0) {
        std::printf("lost line, retrying:           the line was not seen lost within 10 s\n");
    } else {
        std::printf("lost line, retrying, %d s:      %.3f %% of one core\n", idleSeconds,
                    100.0 * lost);
    }
    std::printf("bare pumping delay, %d s:       %.3f %% of one core\n", idleSeconds,
                100.0 * processorShareWhileWaiting(idleSeconds));
    return 0;
}
