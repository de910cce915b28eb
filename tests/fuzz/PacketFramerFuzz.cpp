// Fuzzing target for the packet framer (libFuzzer). The first input bytes choose the framing
// settings, the chunking and the handlers; the rest is the received stream, fed to the framer in
// chunks of varying size. On every input it checks that:
//  - every received byte is accounted for exactly once and in order: delivered in a packet,
//    reported to OnDiscard, or still pending (so nothing is delivered twice or lost);
//  - with IncludeStrings off, each packet is the framed packet less a start string at its
//    beginning and a stop string at its end, and nothing else changes;
//  - after each chunk the pending text is shorter than MaxBufferSize;
//  - where the framing cannot depend on how the stream was cut (no limit, no handlers, not both
//    Size and a stop string), one block gives the same packets as the chunks;
//  - on streams of up to 2 KiB without throwing handlers, the packets, discards and pending text
//    are those of the rules followed word for word (whole-string searches, recursion).
// A violated check aborts, which libFuzzer reports with the input that caused it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "PacketFramer.h"

namespace {

using velkor::PacketFramer;

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "packet framer check failed: %s\n", what);
        std::abort();
    }
}

struct Settings {
    std::string start;
    std::string stop;
    std::int32_t size = 0;
    std::int32_t limit = 1024;
    bool caseInsensitive = false;
    bool customStart = false;
    bool customStop = false;
    bool throwing = false;
    // Received bytes taken from a few that the strings and handlers react to, so that framing
    // strings, split across reads, turn up often.
    bool fewBytes = false;

    bool hasStopRule() const { return size > 0 || !stop.empty() || customStop; }
};

struct HandlerFailure {};

// The event a framer reported: a packet ('P') or discarded text ('D').
struct Event {
    char kind;
    std::string text;
    bool operator==(const Event&) const = default;
};

// Takes bytes from the front of the input, zero once it is used up.
struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t next() {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
};

Settings chooseSettings(Reader& in) {
    Settings s;
    const std::uint8_t preset = in.next();
    if (preset < 48) {
        // The console's own framing, on any bytes.
        s.start = "<";
        s.stop = ">";
        return s;
    }
    static const char* const kStarts[] = {"", "<", "<<", "ab", "STX", "<>"};
    static const char* const kStops[] = {"", ">", ">>", "\r\n", "b", "<>", "ETX", "a"};
    static const std::int32_t kSizes[] = {0, 0, 0, 1, 2, 5, 16, -1};
    static const std::int32_t kLimits[] = {1024, 0, 1, 2, 7, 64, -5, 3};
    const std::uint8_t strings = in.next();
    const std::uint8_t numbers = in.next();
    const std::uint8_t flags = in.next();
    s.start = kStarts[strings % 6];
    s.stop = kStops[(strings / 6) % 8];
    s.size = kSizes[numbers % 8];
    s.limit = kLimits[(numbers / 8) % 8];
    s.caseInsensitive = flags & 1;
    s.fewBytes = flags & 2;
    s.customStart = (flags >> 2) & 1;
    s.customStop = (flags >> 3) & 1;
    s.throwing = ((flags >> 4) & 3) == 3;
    // A start string with a zero byte in it now and then.
    if (((flags >> 6) & 3) == 3 && !s.start.empty()) {
        s.start[0] = '\0';
    }
    return s;
}

// The custom handlers look only at the text they are handed, so that every run of the same
// input makes the same decisions. They begin (end) a packet at a brace, hold it back at "~"
// ("!"), and point past the end at "^" ("$").
void customStart(const std::string& text, int& pos) {
    const std::size_t brace = text.find('{');
    if (brace != std::string::npos) {
        pos = static_cast<int>(brace) + 1;
    } else if (text.find('~') != std::string::npos) {
        pos = 0;
    } else if (text.find('^') != std::string::npos) {
        pos = static_cast<int>(text.size()) + 2;
    }
}

void customStop(const std::string& text, int& pos) {
    const std::size_t brace = text.find('}');
    if (brace != std::string::npos) {
        pos = static_cast<int>(brace) + 1;
    } else if (text.find('!') != std::string::npos) {
        pos = 0;
    } else if (text.find('$') != std::string::npos) {
        pos = static_cast<int>(text.size()) + 3;
    }
}

// A framer fed chunk by chunk. A run with IncludeStrings on delivers the received text itself,
// so it accounts for every byte; a run with it off is compared with such a run.
class Run {
  public:
    Run(const Settings& settings, bool includeStrings, const std::string& stream)
        : settings_(settings), stream_(stream), accounting_(includeStrings) {
        framer_.SetStartString(settings.start);
        framer_.SetStopString(settings.stop);
        framer_.SetSize(settings.size);
        framer_.SetMaxBufferSize(settings.limit);
        framer_.SetCaseInsensitive(settings.caseInsensitive);
        framer_.SetIncludeStrings(includeStrings);
        framer_.OnPacket = [this](PacketFramer&, const std::string& text) { record('P', text); };
        framer_.OnDiscard = [this](PacketFramer&, const std::string& text) { record('D', text); };
        if (settings.customStart) {
            framer_.OnCustomStart = [](PacketFramer&, const std::string& text, int& pos) {
                customStart(text, pos);
            };
        }
        if (settings.customStop) {
            framer_.OnCustomStop = [](PacketFramer&, const std::string& text, int& pos) {
                customStop(text, pos);
            };
        }
    }

    void feed(std::size_t length) {
        const char* bytes = stream_.data() + fed_;
        fed_ += length;
        try {
            framer_.Receive(bytes, static_cast<int>(length));
        } catch (const HandlerFailure&) {
            check(settings_.throwing, "an exception nobody threw");
        }
        if (accounting_) {
            check(framer_.PendingLength() == fed_ - reported_,
                  "received bytes neither delivered, discarded nor pending (or counted twice)");
        }
        if (settings_.limit > 0 && settings_.hasStopRule()) {
            check(framer_.PendingLength() < static_cast<std::size_t>(settings_.limit),
                  "pending text at or over the limit after a pass");
        }
    }

    void finish() {
        check(fed_ == stream_.size(), "not all of the stream was fed");
        if (accounting_) {
            check(framer_.PendingText() == stream_.substr(reported_),
                  "the pending text is not the received text after the reported text");
        }
    }

    const std::vector<Event>& events() const { return events_; }
    const PacketFramer& framer() const { return framer_; }

  private:
    void record(char kind, const std::string& text) {
        events_.push_back(Event{kind, text});
        if (accounting_) {
            check(reported_ + text.size() <= fed_, "reported more than was received");
            check(stream_.compare(reported_, text.size(), text) == 0,
                  "reported text is not the next received text");
            reported_ += text.size();
        }
        if (settings_.throwing) {
            const char trigger = kind == 'P' ? '@' : '`';
            if (text.find(trigger) != std::string::npos) {
                throw HandlerFailure{};
            }
        }
    }

    PacketFramer framer_;
    Settings settings_;
    const std::string& stream_;
    const bool accounting_;
    std::vector<Event> events_;
    std::size_t fed_ = 0;
    std::size_t reported_ = 0;
};

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

// The packet the framer should deliver, stripped, for a framed packet.
std::string stripped(const Settings& s, const std::string& raw) {
    const std::string start = s.caseInsensitive ? upper(s.start) : s.start;
    const std::string stop = s.caseInsensitive ? upper(s.stop) : s.stop;
    std::string packet = raw;
    if (!start.empty() && (s.caseInsensitive ? upper(packet) : packet).find(start) == 0) {
        packet.erase(0, start.size());
    }
    if (!stop.empty() && packet.size() >= stop.size()) {
        const std::size_t at = (s.caseInsensitive ? upper(packet) : packet).find(stop);
        if (at == packet.size() - stop.size()) {
            packet.erase(at);
        }
    }
    return packet;
}

// The framing rules followed word for word on whole strings, with recursion and without the
// remembered searches of the real framer; affordable on short streams only.
class Literal {
  public:
    explicit Literal(const Settings& s) : s_(s) {}

    void append(const std::string& text) {
        if (!s_.hasStopRule()) {
            events.push_back(Event{'P', text});
            return;
        }
        pending += text;
        process();
    }

    std::string pending;
    bool inPacket = false;
    std::vector<Event> events;

  private:
    int pos(const std::string& needle, const std::string& text) const {
        if (needle.empty()) {
            return 0;
        }
        const std::size_t at =
            s_.caseInsensitive ? upper(text).find(upper(needle)) : text.find(needle);
        return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
    }

    void process() {
        if (!inPacket) {
            int p = -1;
            if (s_.customStart) {
                customStart(pending, p);
            }
            if (p == -1) {
                p = s_.start.empty() ? 1 : pos(s_.start, pending);
            }
            if (p > 0) {
                inPacket = true;
                const std::size_t junk = std::min<std::size_t>(p - 1, pending.size());
                if (junk > 0) {
                    events.push_back(Event{'D', pending.substr(0, junk)});
                    pending.erase(0, junk);
                }
            }
        }
        if (inPacket) {
            int length = -1;
            if (s_.customStop) {
                customStop(pending, length);
                if (length == 0 || length < -1) {
                    length = -2;  // held back
                }
            }
            if (length == -1 && s_.size > 0 && pending.size() >= std::size_t(s_.size)) {
                length = s_.size;
            } else if (length == -1) {
                const std::size_t l = s_.start.size();
                const int q = pos(s_.stop, l < pending.size() ? pending.substr(l) : "");
                if (q > 0) {
                    length = static_cast<int>(l + q - 1 + s_.stop.size());
                }
            }
            if (length > 0) {
                inPacket = false;
                const std::string packet = pending.substr(0, length);
                pending.erase(0, std::min<std::size_t>(length, pending.size()));
                events.push_back(Event{'P', stripped(s_, packet)});
                process();
            }
        }
        if (s_.limit > 0 && pending.size() >= std::size_t(s_.limit)) {
            events.push_back(Event{'D', pending});
            pending.clear();
            inPacket = false;
        }
    }

    const Settings& s_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in{data, size};
    const Settings settings = chooseSettings(in);
    std::uint32_t chunking = in.next();
    chunking |= static_cast<std::uint32_t>(in.next()) << 8 | 1u;
    std::string stream(reinterpret_cast<const char*>(in.data), in.size);
    if (settings.fewBytes) {
        static const char kFew[] = "<>abAB\r\nSTXEtx{}~^!$@`";
        for (char& c : stream) {
            c = kFew[static_cast<unsigned char>(c) % (sizeof kFew - 1)];
        }
    }

    // Chunk sizes from a small generator seeded by the input: mostly short reads, now and then
    // an empty one or a long one, as a port delivers them.
    std::vector<std::size_t> chunks;
    for (std::size_t at = 0; at < stream.size();) {
        chunking ^= chunking << 13;
        chunking ^= chunking >> 17;
        chunking ^= chunking << 5;
        std::size_t length = chunking % 8 == 0 ? 0 : 1 + (chunking >> 8) % 24;
        if (chunking % 16 == 1) {
            length = 1 + (chunking >> 8) % 700;
        }
        length = std::min(length, stream.size() - at);
        chunks.push_back(length);
        at += length;
    }

    Run raw(settings, true, stream);
    Run plain(settings, false, stream);
    for (std::size_t length : chunks) {
        raw.feed(length);
        plain.feed(length);
        check(raw.framer().PendingLength() == plain.framer().PendingLength() &&
                  raw.framer().InPacket() == plain.framer().InPacket(),
              "stripping changed what is pending");
    }
    raw.finish();
    plain.finish();
    check(raw.framer().PendingText() == plain.framer().PendingText(),
          "stripping changed the pending text");

    // The plain run made the same cuts; only the packets lost their framing strings.
    check(raw.events().size() == plain.events().size(), "stripping changed the cuts");
    for (std::size_t i = 0; i < raw.events().size(); ++i) {
        const Event& r = raw.events()[i];
        const Event& p = plain.events()[i];
        check(r.kind == p.kind, "stripping changed the order of events");
        if (r.kind == 'D' || !settings.hasStopRule()) {
            check(r.text == p.text, "discarded or unframed text differs between runs");
        } else {
            check(p.text == stripped(settings, r.text), "packet stripped wrongly");
        }
    }

    if (!settings.throwing && stream.size() <= 2048) {
        Literal literal(settings);
        std::size_t at = 0;
        for (std::size_t length : chunks) {
            literal.append(stream.substr(at, length));
            at += length;
        }
        check(literal.events == plain.events(), "packets differ from the rules word for word");
        check(literal.pending == plain.framer().PendingText() &&
                  literal.inPacket == plain.framer().InPacket(),
              "pending text differs from the rules word for word");
    }

    const bool cutIndependent = settings.hasStopRule() && settings.limit <= 0 &&
                                !settings.customStart && !settings.customStop &&
                                !settings.throwing &&
                                !(settings.size > 0 && !settings.stop.empty());
    if (cutIndependent) {
        Run block(settings, false, stream);
        block.feed(stream.size());
        check(block.events() == plain.events(), "one block and chunks gave different packets");
    }
    return 0;
}
