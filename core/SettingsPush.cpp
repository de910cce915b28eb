#include "SettingsPush.h"

#include "ControllerProtocol.h"
#include "PumpingDelay.h"

namespace velkor {

std::vector<std::string> settingsPushCommands(const MachineVariables& v) {
    // A length goes through the text the settings window would show, as it always has.
    auto length = [&](const char* word, long double millimetres) {
        return command(word, impulseTextOf(generalText(millimetres), v.Qty_Imp_mm));
    };
    auto whole = [](const char* word, std::int32_t value) {
        return command(word, std::to_string(value));
    };
    return {
        length("SH_S", v.SH_S),
        whole("setSpeed", v.setSpeed),
        whole("setAccel", v.setAccel),
        length("S_SH_S", v.S_SH_S),
        length("stToR", v.stToR),
        length("L1headPaz", v.L1headPaz),
        length("STP_OUT", v.STP_OUT),
        whole("setS_OUT", v.setS_OUT),
        whole("setA_OUT", v.setA_OUT),
        length("head_DELTA", v.head_DELTA),
        length("R_DELTA", v.R_DELTA),
        whole("uporDelay", v.uporDelay),
        whole("SbrosDelay", v.SbrosDelay),
        whole("n_uporDelay", v.n_uporDelay),
    };
}

void runSettingsPush(ConfirmedSender& sender, ConsoleState& state) {
    pumpingDelay(300);
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
    pumpingDelay(150);
}

}  // namespace velkor
