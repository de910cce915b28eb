#include "ProfileMode.h"

#include <string>
#include <vector>

#include "ControllerProtocol.h"
#include "MachineParameters.h"

namespace velkor {

std::optional<SequenceEnd> ProfileMode::toggle(std::vector<std::string>& acknowledged) {
    if (toggling_) {
        return std::nullopt;
    }
    const MachineVariables& v = variables_;
    const int target = shownMode_ == 1 ? 0 : 1;
    const bool toLaminated = target == 1;
    const long double stroke = toLaminated ? v.Step_pnevmo : 0;
    const int wait = toLaminated ? 500 : 100;
    // Made before the first is sent: a value the controller cannot hold sends nothing.
    std::vector<std::string> commands{toLaminated ? "Lamin1" : "Lamin0"};
    for (const MachineParameter* parameter : strokeShiftedParameters()) {
        commands.push_back(
            command(parameter->commandWord,
                    impulseText(lengthValue(v, *parameter) + parameter->strokeShift * stroke,
                                v.Qty_Imp_mm)));
    }
    toggling_ = true;
    show(target);
    // However the toggle ends (confirmed, ended by Esc or closing, a send error), the next
    // one may start; unconfirmed, the mode goes back to the last confirmed one.
    struct Ending {
        ProfileMode& mode;
        ~Ending() {
            mode.toggling_ = false;
            if (mode.shownMode_ != mode.confirmed_) {
                mode.show(mode.confirmed_);
            }
        }
    } ending{*this};
    const SequenceEnd end = sender_.runSequence(
        [&] {
            for (const std::string& c : commands) {
                sender_.send(c, wait);
            }
        },
        &acknowledged);
    if (end != SequenceEnd::Completed) {
        return end;
    }
    confirmed_ = target;
    log_.append(toLaminated ? "IMPORT lam!!!" : "IMPORT White!!!");
    return end;
}

void ProfileMode::show(int mode) {
    shownMode_ = mode;
    if (shown_) {
        shown_(mode);
    }
}

}  // namespace velkor
