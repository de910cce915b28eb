#pragma once

#include "ComPort.h"

namespace velkor::test {

// The console's port as its main window configures it.
inline void configureAsTheConsole(TCustomComPort& port) {
    port.SetPort("COM3");
    port.SetBaudRate(br115200);
    port.SetDiscardNull(true);
    port.FlowControl().SetControlDTR(dtrEnable);
    port.FlowControl().SetControlRTS(rtsDisable);
    port.SetTriggersOnRxChar(false);
}

}  // namespace velkor::test
