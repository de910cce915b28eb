// Serial link figures over a pseudo-terminal:
//  - latency from the controller's side writing a packet to the console's OnPacket running on
//    the user-interface thread, against the raw latency of the same kind of pseudo-terminal
//    measured in the same run by a bare poll loop;
//  - processor time of an open, idle port.
//
//   velkor_serial_bench [packets] [idle-seconds]      (defaults 2000 and 10)

#include <sys/resource.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "ComDataPacket.h"
#include "ComPort.h"
#include "PseudoTerminal.h"
#include "PumpingDelay.h"

namespace {

using Clock = std::chrono::steady_clock;

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

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

double idleProcessorShare(int seconds) {
    velkor::test::PseudoTerminal controller;
    velkor::TComPort port;
    port.SetPort(controller.path());
    port.OpenPort();
    const double before = processorSeconds();
    const auto start = Clock::now();
    velkor::pumpingDelay(seconds * 1000);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    return (processorSeconds() - before) / wall;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int packets = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;

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
    std::printf("open idle port, %d s:           %.3f %% of one core\n", idleSeconds,
                100.0 * idleProcessorShare(idleSeconds));
    return 0;
}
