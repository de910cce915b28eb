#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace velkor {

// Cuts the bytes the controller sends over the serial line into packets. The controller frames
// every answer between a start string and a stop string ("<CNT=5;>"); the line also carries
// noise between answers (line ends, echoes, the tail of an answer that began before the port
// was opened), which the framer reports as discarded instead of mixing it into a packet.
//
// The framer keeps the received text that is neither delivered nor discarded yet (the pending
// text) and whether a packet has begun in it. Each chunk of received bytes is appended to the
// pending text and the pending text is then cut in passes: a pass finds the packet's beginning,
// then its end, delivers the packet and goes on with the rest; at the end of the last pass the
// pending text is thrown away if it has reached MaxBufferSize characters.
//
// Positions handed to and taken from the custom handlers are 1-based positions in the whole
// pending text; 0 means "not found" and -1 (the value a handler receives) means "use the
// strings". Texts are byte strings: any byte, zero included.
//
// The framer depends on nothing but the standard library, so that a fuzzing target can compile
// it alone; TComDataPacket connects it to a port.
class PacketFramer {
  public:
    using TextEvent = std::function<void(PacketFramer& sender, const std::string& str)>;
    using PositionEvent =
        std::function<void(PacketFramer& sender, const std::string& str, int& pos)>;

    PacketFramer() = default;
    PacketFramer(const PacketFramer&) = delete;
    PacketFramer& operator=(const PacketFramer&) = delete;

    // Settings. Changing StartString, StopString, Size or CaseInsensitive to a different value
    // throws the pending text away (through OnDiscard), since it was cut by the old rules.
    // IncludeStrings and MaxBufferSize only take effect from the next packet or pass.

    // Compare with a-z taken as A-Z (nothing else is folded: the controller's Cyrillic bytes
    // stay as they are). Delivered and discarded texts keep the case they were received in.
    bool CaseInsensitive() const { return caseInsensitive_; }
    void SetCaseInsensitive(bool value);
    // Deliver packets with their start and stop strings.
    bool IncludeStrings() const { return includeStrings_; }
    void SetIncludeStrings(bool value) { includeStrings_ = value; }
    // Pending text of this many characters or more is discarded at the end of a pass; 0 or less
    // means no limit.
    std::int32_t MaxBufferSize() const { return maxBufferSize_; }
    void SetMaxBufferSize(std::int32_t value) { maxBufferSize_ = value; }
    const std::string& StartString() const { return startString_; }
    void SetStartString(const std::string& value);
    const std::string& StopString() const { return stopString_; }
    void SetStopString(const std::string& value);
    // When positive, a packet ends after this many characters counted from its first character
    // (the start string included), unless the stop string ends it earlier.
    std::int32_t Size() const { return size_; }
    void SetSize(std::int32_t value);

    // Events; each fires only when assigned. OnCustomStart and OnCustomStop receive the whole
    // pending text and pos = -1; setting pos > 0 begins (ends) the packet at that position,
    // leaving it at -1 falls back to the start and stop strings, anything else means "not yet".
    // A handler may throw: the pass still runs its final step (the limit check), then the
    // exception reaches the caller of Receive or AppendData.
    TextEvent OnDiscard;
    TextEvent OnPacket;
    PositionEvent OnCustomStart;
    PositionEvent OnCustomStop;

    // Throws the pending text away (through OnDiscard) and waits for a new packet.
    void ResetBuffer() { DiscardBuffer(); }

    // Takes `count` received bytes (the port's receive handler).
    void Receive(const char* bytes, int count);
    // Takes a received text. With no rule to end a packet (no Size, no StopString and no
    // OnCustomStop) every text is delivered at once as one packet, unchanged.
    void AppendData(const std::string& text);

    // The state, for the component's users and for tests.
    std::string PendingText() const { return std::string(pending()); }
    std::size_t PendingLength() const { return buffer_.size() - head_; }
    bool InPacket() const { return inPacket_; }

  private:
    bool hasStopRule() const;
    void appendAndProcess(std::string_view text);
    // One run of passes over the pending text, with the limit check at its end.
    void ProcessBuffer();
    void findStart();
    // Returns true when the packet is complete; `length` is then its length in characters.
    bool findEnd(std::size_t& length);
    void beginPacketAt(std::size_t position);
    void deliverPacket(std::size_t length);
    std::string_view stripFrame(std::string_view packet) const;
    void finishPass();
    void DiscardBuffer();

    std::string_view pending() const { return std::string_view(buffer_).substr(head_); }
    // Drops the consumed front of the buffer, so that buffer_ is exactly the pending text.
    void compact();
    void compactIfWorthwhile();
    void forgetSearches();
    // First occurrence of `needle` in `text` at or after `from`, npos when none; an empty
    // needle is never found. Honours CaseInsensitive.
    std::size_t find(std::string_view text, std::string_view needle, std::size_t from) const;

    bool caseInsensitive_ = false;
    bool includeStrings_ = false;
    std::int32_t maxBufferSize_ = 1024;
    std::string startString_;
    std::string stopString_;
    std::int32_t size_ = 0;
    // The strings with a-z folded to A-Z, used when CaseInsensitive is set.
    std::string foldedStart_;
    std::string foldedStop_;

    // The pending text is buffer_ from head_ on: delivering a packet only moves head_, and the
    // consumed front is dropped now and then (compactIfWorthwhile), so that cutting a chunk
    // into many packets stays linear.
    std::string buffer_;
    std::size_t head_ = 0;
    bool inPacket_ = false;
    // How far earlier passes searched the pending text in vain, as offsets into the pending
    // text from which a new search has to start. A long packet that arrives in many chunks is
    // thus searched once, not once a chunk. Both are reset whenever the pending text loses its
    // front or the strings change.
    std::size_t startSearchFrom_ = 0;
    std::size_t stopSearchFrom_ = 0;
};

}  // namespace velkor
