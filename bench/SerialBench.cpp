// Serial link figures over a pseudo-terminal:
//  - latency from the controller's side writing a packet to the console's OnPacket running on
//    the user-interface thread, against the raw latency of the same kind of pseudo-terminal
//    measured in the same run by a bare poll loop;
//  - the worst delay from a packet's last byte to OnPacket when the controller writes byte by
//    byte, and for a packet that follows a burst of 8 or 64 KB without ">", against the same
//    traffic read by the bare poll loop; no packet may be lost;
//  - the time from a lost device's return to the line being open again;
//  - processor time of an open, idle port, of a port whose device has gone (lost, retrying
//    four times a second) and of a bare pumping delay.
//
//   velkor_serial_bench [packets] [idle-seconds] [bytewise-packets]   (defaults 2000, 10, 10000)

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

struct Summary {
    double median;
    double p99;
};

Summary summarize(std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

// Packets written one at a time, each after the previous one has been seen, with a pause
// between them so that every packet meets an idle line.
std::vector<double> consoleLatency(int packets, velkor::TSyncMethod sync) {
    velkor::test::PseudoTerminal controller;
    velkor::TComPort port;
    port.SetBaudRate(velkor::br115200);
    port.SetDiscardNull(true);
    port.SetTriggersOnRxChar(false);
    port.SetSyncMethod(sync);
    port.SetPort(controller.path());
    velkor::TComDataPacket framer;
    framer.Framer().SetStartString("<");
    framer.Framer().SetStopString(">");
    framer.SetComPort(&port);
    std::atomic<int> seen{0};
    std::atomic<Clock::time_point> arrived;
    framer.Framer().OnPacket = [&](velkor::PacketFramer&, const std::string&) {
        arrived = Clock::now();
        seen.fetch_add(1);
    };
    port.OpenPort();

    std::vector<double> micros;
    for (int i = 0; i < packets; ++i) {
        const auto sent = Clock::now();
        controller.write("<GET_ALL;CNT=" + std::to_string(i) + ";setOut=0;>");
        while (seen.load() <= i) {
            if (sync != velkor::smNone) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
            }
        }
        micros.push_back(std::chrono::duration<double, std::micro>(arrived.load() - sent).count());
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return micros;
}

// The same traffic read by a bare poll loop on a thread of its own, blocked in poll as the
// port's event thread is: the least any reader of this line can take.
std::vector<double> rawLatency(int packets) {
    velkor::test::PseudoTerminal controller;
    const int fd = ::open(controller.path().c_str(), O_RDWR | O_NOCTTY);
    std::atomic<int> seen{0};
    std::atomic<Clock::time_point> arrived;
    std::thread reader([&] {
        std::string pending;
        char buffer[128];
        while (seen.load() < packets) {
            pollfd in{fd, POLLIN, 0};
            if (::poll(&in, 1, 1000) <= 0) {
                continue;
            }
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                continue;
            }
            pending.append(buffer, static_cast<std::size_t>(n));
            if (pending.back() == '>') {
                pending.clear();
                arrived = Clock::now();
                seen.fetch_add(1);
            }
        }
    });
    std::vector<double> micros;
    for (int i = 0; i < packets; ++i) {
        const auto sent = Clock::now();
        controller.write("<GET_ALL;CNT=" + std::to_string(i) + ";setOut=0;>");
        while (seen.load() <= i) {
        }
        micros.push_back(std::chrono::duration<double, std::micro>(arrived.load() - sent).count());
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    reader.join();
    ::close(fd);
    return micros;
}

// A packet that says which one it is: "<GET_ALL;CNT=i;setOut=0;>".
std::string numberedPacket(int i) {
    return "<GET_ALL;CNT=" + std::to_string(i) + ";setOut=0;>";
}
int numberOf(const std::string& text) {
    return std::atoi(text.c_str() + text.find("CNT=") + 4);
}

// What a reader made of one run: for each packet, the delay from its last byte leaving the
// controller's side to the reader having it whole; -1 for a packet that never came.
struct Delays {
    std::vector<double> micros;
    int lost() const { return static_cast<int>(std::count(micros.begin(), micros.end(), -1.0)); }
    double worst() const { return *std::max_element(micros.begin(), micros.end()); }
};

// The controller's side of the runs below, on a thread of its own: each packet byte by byte
// with a pause after every byte, or whole after a burst of `burst` bytes without ">".
// `lastByte[i]` is when packet i's last byte was written.
void writeTraffic(velkor::test::PseudoTerminal& controller, int packets, std::size_t burst,
                  std::vector<Clock::time_point>& lastByte) {
    for (int i = 0; i < packets; ++i) {
        const std::string packet = numberedPacket(i);
        if (burst > 0) {
            controller.write(std::string(burst, 'b') + packet.substr(0, packet.size() - 1), 30000);
            lastByte[static_cast<std::size_t>(i)] = Clock::now();
            controller.write(">");
        } else {
            for (std::size_t k = 0; k < packet.size(); ++k) {
                if (k + 1 == packet.size()) {
                    lastByte[static_cast<std::size_t>(i)] = Clock::now();
                }
                controller.write(std::string(1, packet[k]));
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(burst > 0 ? 20 : 1));
    }
}

Delays delaysOf(const std::vector<Clock::time_point>& lastByte,
                const std::vector<Clock::time_point>& arrived) {
    Delays delays;
    for (std::size_t i = 0; i < lastByte.size(); ++i) {
        delays.micros.push_back(
            arrived[i] == Clock::time_point{}
                ? -1.0
                : std::chrono::duration<double, std::micro>(arrived[i] - lastByte[i]).count());
    }
    return delays;
}

Delays consoleDelays(int packets, std::size_t burst) {
    velkor::test::PseudoTerminal controller;
    velkor::TComPort port;
    port.SetBaudRate(velkor::br115200);
    port.SetTriggersOnRxChar(false);
    port.SetPort(controller.path());
    velkor::TComDataPacket framer;
    framer.Framer().SetStartString("<");
    framer.Framer().SetStopString(">");
    framer.SetComPort(&port);
    std::vector<Clock::time_point> lastByte(static_cast<std::size_t>(packets));
    std::vector<Clock::time_point> arrived(static_cast<std::size_t>(packets));
    std::atomic<int> seen{0};
    framer.Framer().OnPacket = [&](velkor::PacketFramer&, const std::string& packet) {
        const int i = numberOf(packet);
        if (i >= 0 && i < packets) {
            arrived[static_cast<std::size_t>(i)] = Clock::now();
        }
        seen.fetch_add(1);
    };
    port.OpenPort();
    std::atomic<bool> written{false};
    std::thread writer([&] {
        writeTraffic(controller, packets, burst, lastByte);
        written = true;
    });
    const auto end = Clock::now() + std::chrono::seconds(2);
    while (seen.load() < packets && (!written || Clock::now() < end)) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    writer.join();
    return delaysOf(lastByte, arrived);
}

Delays rawDelays(int packets, std::size_t burst) {
    velkor::test::PseudoTerminal controller;
    const int fd = ::open(controller.path().c_str(), O_RDWR | O_NOCTTY);
    std::vector<Clock::time_point> lastByte(static_cast<std::size_t>(packets));
    std::vector<Clock::time_point> arrived(static_cast<std::size_t>(packets));
    std::atomic<bool> written{false};
    std::thread reader([&] {
        std::string pending;
        char buffer[4096];
        int seen = 0;
        while (seen < packets && !written) {
            pollfd in{fd, POLLIN, 0};
            if (::poll(&in, 1, 100) <= 0) {
                continue;
            }
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            for (ssize_t k = 0; k < n; ++k) {
                pending += buffer[k];
                if (buffer[k] == '>') {
                    const int i = numberOf(pending);
                    if (i >= 0 && i < packets) {
                        arrived[static_cast<std::size_t>(i)] = Clock::now();
                    }
                    pending.clear();
                    ++seen;
                } else if (buffer[k] == 'b') {
                    pending.clear();  // burst bytes are not kept
                }
            }
        }
    });
    writeTraffic(controller, packets, burst, lastByte);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    written = true;
    reader.join();
    ::close(fd);
    return delaysOf(lastByte, arrived);
}

// The device of an open port goes away and comes back on the same path (a link, as a replugged
// adapter's name): the time from its return to the port being open again, worst of `rounds`.
double worstReopenMilliseconds(int rounds) {
    velkor::test::LinkedLine line((std::filesystem::temp_directory_path() /
                                   ("velkor-bench-line-" + std::to_string(::getpid())))
                                      .string());
    velkor::TComPort port;
    port.SetPort(line.path());
    port.OpenPort();
    double worst = 0;
    for (int round = 0; round < rounds; ++round) {
        line.unplug();
        while (port.LineStatus() != velkor::TLineStatus::Lost) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        }
        // Returns at a different moment of the retry timer's period each round.
        velkor::pumpingDelay(37 * round % velkor::LineRecovery::kRetryMilliseconds);
        line.plugIn();
        const auto back = Clock::now();
        while (!port.Connected()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        }
        worst =
            std::max(worst, std::chrono::duration<double, std::milli>(Clock::now() - back).count());
    }
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
    port.OpenPort();
    line.unplug();
    while (port.LineStatus() != velkor::TLineStatus::Lost) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return processorShareWhileWaiting(seconds);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int packets = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int bytewisePackets = argc > 3 ? std::atoi(argv[3]) : 10000;

    const Summary raw = summarize(rawLatency(packets));
    const Summary console = summarize(consoleLatency(packets, velkor::smThreadSync));
    const Summary eventThread = summarize(consoleLatency(packets, velkor::smNone));
    std::printf("packets: %d\n", packets);
    std::printf("raw pseudo-terminal latency:   median %.1f us, 99th percentile %.1f us\n",
                raw.median, raw.p99);
    std::printf("write to OnPacket latency:     median %.1f us, 99th percentile %.1f us\n",
                console.median, console.p99);
    std::printf("  same, handled on the event thread: median %.1f us, 99th percentile %.1f us\n",
                eventThread.median, eventThread.p99);
    std::printf("ratio to raw:                  median %.2f, 99th percentile %.2f\n",
                console.median / raw.median, console.p99 / raw.p99);
    auto report = [](const char* what, const Delays& viaPort, const Delays& viaLoop) {
        std::printf("%s: worst %.2f ms (%d lost), raw worst %.2f ms (%d lost)\n", what,
                    viaPort.worst() / 1000, viaPort.lost(), viaLoop.worst() / 1000, viaLoop.lost());
    };
    report("byte by byte, last byte to OnPacket", consoleDelays(bytewisePackets, 0),
           rawDelays(bytewisePackets, 0));
    for (const std::size_t kilobytes : {8, 64}) {
        const std::string what = "after " + std::to_string(kilobytes) + " KB bursts (50 packets)";
        report(what.c_str(), consoleDelays(50, kilobytes * 1024), rawDelays(50, kilobytes * 1024));
    }
    std::printf("device back to line open:      worst %.0f ms of 20\n",
                worstReopenMilliseconds(20));
    std::printf("open idle port, %d s:           %.3f %% of one core\n", idleSeconds,
                100.0 * idleProcessorShare(idleSeconds));
    std::printf("lost line, retrying, %d s:      %.3f %% of one core\n", idleSeconds,
                100.0 * lostProcessorShare(idleSeconds));
    std::printf("bare pumping delay, %d s:       %.3f %% of one core\n", idleSeconds,
                100.0 * processorShareWhileWaiting(idleSeconds));
    return 0;
}
