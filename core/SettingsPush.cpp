#include "SettingsPush.h"

#include "ControllerProtocol.h"
#include "MachineParameters.h"

namespace velkor {

std::vector<std::string> settingsPushCommands(const MachineVariables& v) {
    std::vector<std::string_view> keys;
    for (const MachineParameter* parameter : pushedParameters()) {
        keys.push_back(parameter->key);
    }
    requireVariables(v, {"Qty_Imp_mm"});
    requireVariables(v, keys);
    std::vector<std::string> commands;
    for (const MachineParameter* parameter : pushedParameters()) {
        // A length goes as the settings window shows it, as it always has.
        commands.push_back(command(parameter->commandWord,
                                   parameter->isLength()
                                       ? impulseTextOf(shownText(v, *parameter), v.Qty_Imp_mm)
                                       : shownText(v, *parameter)));
    }
    return commands;
}

SequenceEnd runSettingsPush(ConfirmedSender& sender, const MachineVariables& variables,
                            EventLog& log, std::vector<std::string>& acknowledged) {
    sender.clock().pause(300);
    const std::vector<std::string> commands = settingsPushCommands(variables);
    const SequenceEnd end = sender.runSequence(
        [&] {
            for (const auto& c : commands) {
                sender.send(c, 100);
            }
        },
        &acknowledged);
    if (end != SequenceEnd::Completed) {
        return end;  // the event log says where
    }
    log.clear();
    log.append("IMPORT GOOD!!!");
    sender.clock().pause(150);
    return end;
}

}  // namespace velkor
