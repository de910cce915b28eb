// Throughput of the packet framer on 64 MiB of received text: the controller's answers mixed
// with line ends and noise, handed over in reads of varying size as the port delivers them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "PacketFramer.h"

namespace {

using velkor::PacketFramer;

constexpr std::size_t kStreamSize = std::size_t{64} << 20;

struct Stream {
    std::string bytes;
    std::vector<std::size_t> chunks;  // read sizes, adding up to bytes.size()
};

// Answers between `start` and `stop` of 1 to `maxBody` characters, and between them now and
// then a line end or noise that holds no start string.
Stream makeStream(const std::string& start, const std::string& stop, std::size_t maxBody,
                  std::uint32_t seed) {
    std::mt19937 random(seed);
    Stream s;
    s.bytes.reserve(kStreamSize + maxBody + 64);
    const std::string answers[] = {"GET_ALL 1 2", "CNT=", "R_POS=", "SH_S=", "ERR "};
    while (s.bytes.size() < kStreamSize) {
        switch (random() % 8) {
            case 0:
                s.bytes += "\r\n";
                break;
            case 1:
                for (std::uint32_t n = random() % 40; n > 0; --n) {
                    s.bytes += static_cast<char>('a' + random() % 26);  // noise, no start
                }
                break;
            default: {
                s.bytes += start;
                s.bytes += answers[random() % 5];
                for (std::size_t n = random() % maxBody; n > 0; --n) {
                    s.bytes += static_cast<char>('0' + random() % 10);
                }
                s.bytes += stop;
            }
        }
    }
    s.bytes.resize(kStreamSize);
    for (std::size_t at = 0; at < s.bytes.size();) {
        // Mostly the short reads of a busy line, sometimes a full input buffer.
        std::size_t length = random() % 4 == 0 ? 1 + random() % 4096 : 1 + random() % 64;
        length = std::min(length, s.bytes.size() - at);
        s.chunks.push_back(length);
        at += length;
    }
    return s;
}

void runFramer(benchmark::State& state, const Stream& stream, PacketFramer& framer) {
    std::size_t packets = 0;
    std::size_t packetBytes = 0;
    std::size_t discarded = 0;
    framer.OnPacket = [&](PacketFramer&, const std::string& text) {
        ++packets;
        packetBytes += text.size();
    };
    framer.OnDiscard = [&](PacketFramer&, const std::string& text) { discarded += text.size(); };
    for (auto _ : state) {
        packets = packetBytes = discarded = 0;
        const char* at = stream.bytes.data();
        for (std::size_t length : stream.chunks) {
            framer.Receive(at, static_cast<int>(length));
            at += length;
        }
        framer.ResetBuffer();
        benchmark::DoNotOptimize(packetBytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.bytes.size()));
    state.counters["packets"] = static_cast<double>(packets);
    state.counters["discarded_bytes"] = static_cast<double>(discarded);
}

// The console's framing: "<" and ">", default limit.
void BM_FramerConsoleFraming(benchmark::State& state) {
    static const Stream stream = makeStream("<", ">", 48, 1);
    PacketFramer framer;
    framer.SetStartString("<");
    framer.SetStopString(">");
    runFramer(state, stream, framer);
}
BENCHMARK(BM_FramerConsoleFraming)->Unit(benchmark::kMillisecond);

// Multi-character strings compared without case.
void BM_FramerCaseInsensitive(benchmark::State& state) {
    static const Stream stream = makeStream("Stx", "eTX", 48, 2);
    PacketFramer framer;
    framer.SetStartString("STX");
    framer.SetStopString("ETX");
    framer.SetCaseInsensitive(true);
    runFramer(state, stream, framer);
}
BENCHMARK(BM_FramerCaseInsensitive)->Unit(benchmark::kMillisecond);

// Packets of up to 16 KiB, each spread over many reads, without a limit.
void BM_FramerLongPackets(benchmark::State& state) {
    static const Stream stream = makeStream("<", ">", 16384, 3);
    PacketFramer framer;
    framer.SetStartString("<");
    framer.SetStopString(">");
    framer.SetMaxBufferSize(0);
    runFramer(state, stream, framer);
}
BENCHMARK(BM_FramerLongPackets)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
