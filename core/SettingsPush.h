#pragma once

#include <string>
#include <vector>

#include "ConfirmedSend.h"
#include "EventLog.h"
#include "MachineVariables.h"

namespace velkor {

// The fourteen white-profile settings the push loads into the controller, in order: lengths as
// impulse texts, the others in plain decimal.
std::vector<std::string> settingsPushCommands(const MachineVariables& variables);

// The settings push, on the sender's clock: 300 ms, the fourteen commands as confirmed sends of 100
// ms each (built once, before the first is written), then the event log cleared down to "IMPORT
// GOOD!!!" and 150 ms. Ends early, without "IMPORT GOOD!!!", when a write fails (throwing) or
// the operator ends it. The commands the controller acknowledged go to `acknowledged`.
SequenceEnd runSettingsPush(ConfirmedSender& sender, const MachineVariables& variables,
                            EventLog& log, std::vector<std::string>& acknowledged);

}  // namespace velkor
