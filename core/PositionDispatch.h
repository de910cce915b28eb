#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "Clock.h"
#include "ControllerLine.h"
#include "MachineVariables.h"

namespace velkor {

// The position fields: the first seven each have a position command; the eighth is read and
// converted like them, but the controller has no command for it.
inline constexpr int kPositionFields = 8;
inline constexpr std::array<const char*, 7> kPositionCommands = {
    "R_POS", "R2_POS", "R3_POS", "R4_POS", "R5_POS", "R6_POS", "R7_POS"};

// The barcode of a scan, for the piece lookup: the scanned text without blanks around it. A
// barcode is a number; anything else throws "'<scan>' is not a valid integer value".
std::string barcodeOfScan(std::string_view scan);

// The position fields' texts, as the window shows them.
using PositionFields = std::array<std::string, kPositionFields>;

// What a dispatch tells its caller as it goes: `stopped` says when no further position may go
// out (the console is closing), `sent` hears every command once it is on the line, and `field`
// is the field (0 to 7) being read or sent, where a dispatch that ends early ended.
struct DispatchSteps {
    std::function<bool()> stopped;
    std::function<void(const std::string&)> sent;
    std::size_t field = 0;
};

// Sends the positions in the fields to the controller: each filled field's length, less the
// distance from the stop to the head (L_upor), as an impulse text behind its command, with
// 150 ms from `begun` (when the dispatch began: the piece's lookup runs inside them) to the
// first field, 200 ms after each of the first seven and 150 ms after the eighth, on `clock`.
// The fields are read once, after the first pause (the operator may still correct one then),
// and every one is checked before anything is sent: a field that is not a
// number, or whose impulses the controller cannot hold, stops the dispatch there with its error.
// Once `steps` says it is stopped (the console is closing), no further position goes out: the
// dispatch ends before its next command and returns how many of the piece's commands it left
// unsent.
std::size_t dispatchPositions(const PositionFields& fields, const MachineVariables& variables,
                              ControllerLine& line, Clock& clock, Clock::TimePoint begun,
                              DispatchSteps* steps = nullptr);

}  // namespace velkor
