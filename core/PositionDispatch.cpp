#include "PositionDispatch.h"

#include <algorithm>
#include <charconv>

#include "ControllerProtocol.h"
#include "Numbers.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {
namespace {

// The field's position as an impulse text, or nothing for an empty field.
std::string positionImpulses(std::string_view fieldText, const MachineVariables& variables) {
    const std::string text = trimmed(fieldText);
    if (text.empty()) {
        return {};
    }
    // Through the text the window would show, as the operator sees the difference.
    const std::string fromStop = generalText(readReal(text) - variables.L_upor);
    return impulseTextOf(fromStop, variables.Qty_Imp_mm);
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

void dispatchPositions(const std::function<std::string(int field)>& fieldText,
                       const MachineVariables& variables, TCustomComPort& port, Clock& clock) {
    clock.pause(150);
    // Every field is read and converted once, before the first command: a piece must never
    // start with some of its holes sent and the rest refused, nor end with another piece's.
    std::array<std::string, kPositionFields> impulses;
    for (int field = 0; field < kPositionFields; ++field) {
        impulses[static_cast<std::size_t>(field)] = positionImpulses(fieldText(field), variables);
    }
    for (std::size_t field = 0; field < impulses.size(); ++field) {
        if (field < kPositionCommands.size()) {
            if (!impulses[field].empty()) {
                port.SendText(command(kPositionCommands[field], impulses[field]));
            }
            clock.pause(200);
        } else {
            clock.pause(150);
        }
    }
}

}  // namespace velkor
