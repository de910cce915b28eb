#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "RecordBook.h"

namespace velkor {

// What the dispatch queue tells the production record of each dispatch, as it goes.
class DispatchLedger {
  public:
    // A dispatch about to send its first command: a scan (with its barcode and the piece it
    // found, when it is one and found one) or "Import size" (nothing).
    struct Begun {
        std::optional<std::string> scan;
        std::optional<std::int64_t> barcode;
        std::optional<std::int64_t> piece;
    };

    DispatchLedger() = default;
    virtual ~DispatchLedger() = default;
    DispatchLedger(const DispatchLedger&) = delete;
    DispatchLedger& operator=(const DispatchLedger&) = delete;

    // On record before it returns, for as long as the workstation's disk keeps it; returns the
    // dispatch's key.
    virtual std::string begin(Begun dispatch) = 0;
    virtual void sent(const std::string& key, const std::string& command) = 0;
    // `stoppedAt` is the field (1 to 8) a stopped dispatch ended at.
    virtual void end(const std::string& key, DispatchOutcome outcome, int stoppedAt,
                     const std::string& message) = 0;
    // A dispatch that waited in the queue and never began, and why.
    virtual void dropped(const std::optional<std::string>& scan, const std::string& why) = 0;
};

}  // namespace velkor
