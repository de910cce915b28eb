// Fuzzing target for the reply handling: the input is a run of packets separated by NUL bytes,
// handled one after the other as the line delivers them. No packet may let an exception out
// (it would end the port's event thread); a counter shown is always a number.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

#include "FuzzCheck.h"
#include "Numbers.h"
#include "ReplyHandler.h"
#include "VelkorError.h"

using velkor::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = [] {
        const std::string path = "/tmp/velkor-reply-fuzz-" + std::to_string(::getpid());
        std::filesystem::create_directories(path);
        return path;
    }();
    velkor::EventLog log;
    const velkor::IniFile ini(folder + "/Morvel.INI");
    velkor::ProductionCounter* shown = nullptr;
    velkor::ProductionCounter counter(log, [&shown] {
        bool number = true;
        try {
            velkor::readInteger64(shown->text());  // as the next start-up reads it back
        } catch (const velkor::VelkorError&) {
            number = false;
        }
        check(number, "a counter shown is a number");
    });
    shown = &counter;
    if (size % 2 == 0) {  // half the runs count on a saved base, and save what they count
        ini.write("Main", "CNT", "1000");
        counter.readAtStartUp(ini, std::tm{});
    }
    velkor::ReplyHandler handler(log, counter, velkor::systemClock());
    const std::string stream(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (start <= stream.size()) {
        const std::size_t end = std::min(stream.find('\0', start), stream.size());
        handler.handle(stream.substr(start, end - start));
        start = end + 1;
    }
    return 0;
}
