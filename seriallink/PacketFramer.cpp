#include "PacketFramer.h"

#include <algorithm>
#include <cstring>

namespace velkor {
namespace {

constexpr std::size_t kNotFound = std::string_view::npos;
// The consumed front of the buffer is dropped once it is at least this long and at least as
// long as what is left, so that every byte is moved a bounded number of times.
constexpr std::size_t kCompactThreshold = 4096;

inline unsigned char upper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

std::string folded(const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        c = static_cast<char>(upper(static_cast<unsigned char>(c)));
    }
    return result;
}

// Whether `text` begins with the folded needle, folding the text as it compares.
inline bool foldedMatchAt(const char* text, std::string_view needle) {
    for (std::size_t k = 0; k < needle.size(); ++k) {
        if (upper(static_cast<unsigned char>(text[k])) != static_cast<unsigned char>(needle[k])) {
            return false;
        }
    }
    return true;
}

}  // namespace

void PacketFramer::SetCaseInsensitive(bool value) {
    if (value == caseInsensitive_) {
        return;
    }
    caseInsensitive_ = value;
    forgetSearches();
    DiscardBuffer();
}

void PacketFramer::SetStartString(const std::string& value) {
    if (value == startString_) {
        return;
    }
    startString_ = value;
    foldedStart_ = folded(value);
    forgetSearches();
    DiscardBuffer();
}

void PacketFramer::SetStopString(const std::string& value) {
    if (value == stopString_) {
        return;
    }
    stopString_ = value;
    foldedStop_ = folded(value);
    forgetSearches();
    DiscardBuffer();
}

void PacketFramer::SetSize(std::int32_t value) {
    if (value == size_) {
        return;
    }
    size_ = value;
    DiscardBuffer();
}

bool PacketFramer::hasStopRule() const {
    return size_ > 0 || !stopString_.empty() || static_cast<bool>(OnCustomStop);
}

void PacketFramer::Receive(const char* bytes, int count) {
    const std::string_view text =
        (bytes != nullptr && count > 0) ? std::string_view(bytes, count) : std::string_view();
    if (!hasStopRule()) {
        if (OnPacket) {
            OnPacket(*this, std::string(text));
        }
        return;
    }
    appendAndProcess(text);
}

void PacketFramer::AppendData(const std::string& text) {
    if (!hasStopRule()) {
        if (OnPacket) {
            OnPacket(*this, text);
        }
        return;
    }
    appendAndProcess(text);
}

void PacketFramer::appendAndProcess(std::string_view text) {
    buffer_.append(text);
    ProcessBuffer();
}

// A pass finds the packet's beginning and end and delivers it; when it has delivered a packet,
// another pass follows for the rest. The passes run as a loop rather than one inside the other,
// since a single chunk may hold a great many packets. Every pass ends with the limit check, but
// after the last pass's check the pending text is below the limit (or gone), so the checks of the
// passes before it would find nothing to do: the loop checks once, after the last pass, also
// when a handler throws.
void PacketFramer::ProcessBuffer() {
    try {
        for (;;) {
            if (!inPacket_) {
                findStart();
            }
            if (!inPacket_) {
                break;
            }
            std::size_t length = 0;
            if (!findEnd(length)) {
                break;
            }
            const bool nothingPending = PendingLength() == 0;
            deliverPacket(length);
            // Only a custom stop handler can end a packet on an empty pending text; another
            // pass would see the same empty text and deliver the same empty packet forever.
            if (nothingPending) {
                break;
            }
        }
    } catch (...) {
        finishPass();
        throw;
    }
    finishPass();
}

void PacketFramer::findStart() {
    int pos = -1;
    if (OnCustomStart) {
        compact();
        OnCustomStart(*this, buffer_, pos);
    }
    if (pos > 0) {
        beginPacketAt(static_cast<std::size_t>(pos));
        return;
    }
    if (pos != -1) {
        return;  // the handler says no packet begins yet
    }
    if (startString_.empty()) {
        inPacket_ = true;  // every character begins a packet
        return;
    }
    const std::string_view text = pending();
    const std::string& needle = caseInsensitive_ ? foldedStart_ : startString_;
    const std::size_t at = find(text, needle, startSearchFrom_);
    if (at == kNotFound) {
        // An occurrence may still begin in the last needle.size() - 1 characters.
        if (text.size() >= needle.size()) {
            startSearchFrom_ = std::max(startSearchFrom_, text.size() - needle.size() + 1);
        }
        return;
    }
    beginPacketAt(at + 1);
}

bool PacketFramer::findEnd(std::size_t& length) {
    int pos = -1;
    if (OnCustomStop) {
        compact();
        OnCustomStop(*this, buffer_, pos);
    }
    if (pos > 0) {
        length = static_cast<std::size_t>(pos);
        inPacket_ = false;
        return true;
    }
    if (pos != -1) {
        return false;
    }
    const std::string_view text = pending();
    if (size_ > 0 && text.size() >= static_cast<std::size_t>(size_)) {
        length = static_cast<std::size_t>(size_);
        inPacket_ = false;
        return true;
    }
    // The stop string is looked for behind the start string, so that a start string that
    // overlaps the stop string (or equals it) does not end the packet at once.
    const std::string& needle = caseInsensitive_ ? foldedStop_ : stopString_;
    if (needle.empty()) {
        return false;
    }
    const std::size_t from = std::max(startString_.size(), stopSearchFrom_);
    const std::size_t at = find(text, needle, from);
    if (at == kNotFound) {
        if (text.size() >= needle.size()) {
            stopSearchFrom_ = std::max(from, text.size() - needle.size() + 1);
        }
        return false;
    }
    length = at + needle.size();
    inPacket_ = false;
    return true;
}

void PacketFramer::beginPacketAt(std::size_t position) {
    inPacket_ = true;
    const std::size_t junkLength = std::min(position - 1, PendingLength());
    if (junkLength == 0) {
        return;
    }
    std::string junk(pending().substr(0, junkLength));
    head_ += junkLength;
    forgetSearches();
    if (OnDiscard) {
        OnDiscard(*this, junk);
    }
}

void PacketFramer::deliverPacket(std::size_t length) {
    const std::size_t taken = std::min(length, PendingLength());
    const std::string_view raw = pending().substr(0, taken);
    std::string packet(includeStrings_ ? raw : stripFrame(raw));
    head_ += taken;
    if (taken > 0) {
        forgetSearches();
    }
    if (OnPacket) {
        OnPacket(*this, packet);
    }
}

// Drops a start string at the packet's very beginning and a stop string at its very end. A
// stop string is dropped only when its first occurrence in the packet is the one at the end: a
// packet cut by Size may hold stop strings inside, and then the end is left alone.
std::string_view PacketFramer::stripFrame(std::string_view packet) const {
    const std::string& start = caseInsensitive_ ? foldedStart_ : startString_;
    if (!start.empty() && packet.size() >= start.size() &&
        find(packet.substr(0, start.size()), start, 0) == 0) {
        packet.remove_prefix(start.size());
    }
    const std::string& stop = caseInsensitive_ ? foldedStop_ : stopString_;
    if (!stop.empty() && packet.size() >= stop.size() &&
        find(packet, stop, 0) == packet.size() - stop.size()) {
        packet.remove_suffix(stop.size());
    }
    return packet;
}

void PacketFramer::finishPass() {
    if (maxBufferSize_ > 0 && PendingLength() >= static_cast<std::size_t>(maxBufferSize_)) {
        DiscardBuffer();
    }
    compactIfWorthwhile();
}

void PacketFramer::DiscardBuffer() {
    if (PendingLength() == 0) {
        return;  // InPacket stays as it is
    }
    const std::string text(pending());
    struct Clear {
        PacketFramer& framer;
        ~Clear() {
            framer.buffer_.clear();
            framer.head_ = 0;
            framer.inPacket_ = false;
            framer.forgetSearches();
        }
    } clear{*this};
    if (OnDiscard) {
        OnDiscard(*this, text);
    }
}

void PacketFramer::compact() {
    if (head_ > 0) {
        buffer_.erase(0, head_);
        head_ = 0;
    }
}

void PacketFramer::compactIfWorthwhile() {
    if (head_ == buffer_.size()) {
        buffer_.clear();
        head_ = 0;
    } else if (head_ >= kCompactThreshold && head_ >= buffer_.size() - head_) {
        compact();
    }
}

void PacketFramer::forgetSearches() {
    startSearchFrom_ = 0;
    stopSearchFrom_ = 0;
}

std::size_t PacketFramer::find(std::string_view text, std::string_view needle,
                               std::size_t from) const {
    const std::size_t n = needle.size();
    if (n == 0 || text.size() < n || from > text.size() - n) {
        return kNotFound;
    }
    const char* base = text.data();
    const std::size_t last = text.size() - n;  // the last place an occurrence can begin
    const unsigned char first = static_cast<unsigned char>(needle[0]);
    const bool firstIsLetter = caseInsensitive_ && first >= 'A' && first <= 'Z';
    std::size_t i = from;
    while (i <= last) {
        if (firstIsLetter) {
            // Both cases of the letter match: step through the text.
            while (i <= last && upper(static_cast<unsigned char>(base[i])) != first) {
                ++i;
            }
            if (i > last) {
                return kNotFound;
            }
        } else {
            // Only the byte itself folds to a byte that is not a letter.
            const void* hit = std::memchr(base + i, first, last - i + 1);
            if (hit == nullptr) {
                return kNotFound;
            }
            i = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
        }
        const bool rest = caseInsensitive_
                              ? foldedMatchAt(base + i + 1, needle.substr(1))
                              : std::memcmp(base + i + 1, needle.data() + 1, n - 1) == 0;
        if (rest) {
            return i;
        }
        ++i;
    }
    return kNotFound;
}

}  // namespace velkor
