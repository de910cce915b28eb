#include "ControllerLine.h"

namespace velkor {

void configureControllerLine(TCustomComPort& port) {
    port.SetPort("COM3");
    port.SetBaudRate(br115200);
    port.SetDataBits(dbEight);
    port.Parity().SetBits(prNone);
    port.SetStopBits(sbOneStopBit);
    port.SetDiscardNull(true);
    port.FlowControl().SetOutCTSFlow(false);
    port.FlowControl().SetOutDSRFlow(false);
    port.FlowControl().SetControlDTR(dtrEnable);
    port.FlowControl().SetControlRTS(rtsDisable);
    port.FlowControl().SetXonXoffOut(false);
    port.FlowControl().SetXonXoffIn(false);
    port.SetTriggersOnRxChar(false);
}

}  // namespace velkor
