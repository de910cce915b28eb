#include "SettingsPush.h"

#include "ControllerProtocol.h"

namespace velkor {

namespace {

// The fourteen settings in the order the controller takes them; each goes under its own key as
// the command word.
constexpr std::string_view kPushedSettings[] = {
    "SH_S",     "setSpeed", "setAccel",   "S_SH_S",  "stToR",     "L1headPaz",  "STP_OUT",
    "setS_OUT", "setA_OUT", "head_DELTA", "R_DELTA", "uporDelay", "SbrosDelay", "n_uporDelay",
};

}  // namespace

std::vector<std::string> settingsPushCommands(const MachineVariables& v) {
    requireVariables(v, {"Qty_Imp_mm"});
    requireVariables(v, kPushedSettings);
    std::vector<std::string> commands;
    for (const std::string_view key : kPushedSettings) {
        const auto member = findMachineVariable(key)->member;
        if (const auto* length = std::get_if<long double MachineVariables::*>(&member)) {
            // A length goes through the text the settings window would show, as it always has.
            commands.push_back(
                command(key, impulseTextOf(generalText(v.*(*length)), v.Qty_Imp_mm)));
        } else {
            commands.push_back(command(
                key, std::to_string(v.*std::get<std::int32_t MachineVariables::*>(member))));
        }
    }
    return commands;
}

void runSettingsPush(ConfirmedSender& sender, ConsoleState& state) {
    sender.clock().pause(300);
    const std::vector<std::string> commands = settingsPushCommands(state.variables);
    bool completed = false;
    sender.runSequence([&] {
        for (const auto& c : commands) {
            sender.send(c, 100);
        }
        completed = true;
    });
    if (!completed) {
        return;  // ended by the operator; the event log says where
    }
    state.eventLog.clear();
    state.eventLog.append("IMPORT GOOD!!!");
    sender.clock().pause(150);
}

}  // namespace velkor
