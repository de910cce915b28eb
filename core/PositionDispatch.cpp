#include "PositionDispatch.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "ControllerProtocol.h"
#include "Numbers.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {
namespace {

// A field's position in millimetres, or nothing for an empty field.
std::optional<long double> positionOf(std::string_view fieldText) {
    const std::string text = trimmed(fieldText);
    return text.empty() ? std::nullopt : std::optional(readReal(text));
}

// A position as the impulses of its distance from the stop. The distance is taken as the window
// would show it, as the operator sees the difference.
std::string positionImpulses(long double position, const MachineVariables& variables) {
    return impulseText(shownValue(position - variables.L_upor), variables.Qty_Imp_mm);
}

}  // namespace

std::string barcodeOfScan(std::string_view scan) {
    std::string barcode = trimmed(scan);
    // The barcode column holds a 64-bit number: a longer run of digits is no barcode either.
    std::int64_t value = 0;
    const auto [end, error] =
        std::from_chars(barcode.data(), barcode.data() + barcode.size(), value);
    if (barcode.empty() || error != std::errc() || end != barcode.data() + barcode.size() ||
        barcode.front() == '-' || barcode.front() == '+') {
        throw VelkorError("'" + std::string(scan) + "' is not a valid integer value");
    }
    return barcode;
}

std::size_t dispatchPositions(const PositionFields& fields, const MachineVariables& variables,
                              ControllerLine& line, Clock& clock, Clock::TimePoint begun,
                              const std::function<bool()>& stopped) {
    clock.pauseUntil(begun + std::chrono::milliseconds(150));
    // Every field is read and converted once, before the first command: a piece must never
    // start with some of its holes sent and the rest refused, nor end with another piece's.
    std::array<std::optional<std::string>, kPositionFields> impulses;
    for (std::size_t field = 0; field < fields.size(); ++field) {
        if (const std::optional<long double> position = positionOf(fields[field])) {
            impulses[field] = positionImpulses(*position, variables);
        }
    }
    for (std::size_t field = 0; field < impulses.size(); ++field) {
        if (field < kPositionCommands.size()) {
            if (impulses[field] && stopped && stopped()) {
                return static_cast<std::size_t>(std::count_if(
                    impulses.begin() + static_cast<std::ptrdiff_t>(field),
                    impulses.begin() + static_cast<std::ptrdiff_t>(kPositionCommands.size()),
                    [](const auto& sent) { return sent.has_value(); }));
            }
            if (impulses[field]) {
                line.send(command(kPositionCommands[field], *impulses[field]));
            }
            clock.pause(200);
        } else {
            clock.pause(150);
        }
    }
    return 0;
}

}  // namespace velkor
