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
                              DispatchSteps* steps) {
    DispatchSteps unwatched;
    DispatchSteps& watch = steps != nullptr ? *steps : unwatched;
    clock.pauseUntil(begun + std::chrono::milliseconds(150));
    // Every field is read and converted once, before the first command: a piece must never
    // start with some of its holes sent and the rest refused, nor end with another piece's.
    std::array<std::optional<std::string>, kPositionFields> impulses;
    for (watch.field = 0; watch.field < fields.size(); ++watch.field) {
        if (const std::optional<long double> position = positionOf(fields[watch.field])) {
            impulses[watch.field] = positionImpulses(*position, variables);
        }
    }
    for (watch.field = 0; watch.field < impulses.size(); ++watch.field) {
        const std::optional<std::string>& fieldImpulses = impulses[watch.field];
        if (watch.field < kPositionCommands.size()) {
            if (fieldImpulses && watch.stopped && watch.stopped()) {
                return static_cast<std::size_t>(std::count_if(
                    impulses.begin() + static_cast<std::ptrdiff_t>(watch.field),
                    impulses.begin() + static_cast<std::ptrdiff_t>(kPositionCommands.size()),
                    [](const auto& unsent) { return unsent.has_value(); }));
            }
            if (fieldImpulses) {
                const std::string sent = command(kPositionCommands[watch.field], *fieldImpulses);
                line.send(sent);
                if (watch.sent) {
                    watch.sent(sent);
                }
            }
            clock.pause(200);
        } else {
            clock.pause(150);
        }
    }
    return 0;
}

}  // namespace velkor
