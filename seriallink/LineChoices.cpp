#include "LineChoices.h"

namespace velkor {

LineChoices lineChoicesOf(const TCustomComPort& port) {
    return {port.Port(),     port.BaudRate(),      port.DataBits(),
            port.StopBits(), port.Parity().Bits(), port.FlowControl().FlowControl()};
}

void setLineChoices(TCustomComPort& port, const LineChoices& choices) {
    const LineChoices current = lineChoicesOf(port);
    port.SetPort(choices.port);
    port.SetBaudRate(choices.baudRate);
    port.SetDataBits(choices.dataBits);
    port.SetStopBits(choices.stopBits);
    port.Parity().SetBits(choices.parity);
    // A preset rewrites several flow settings: only a different one is set, so that custom
    // settings stay as they are when the choice is the one the port already reports.
    if (choices.flowControl != current.flowControl) {
        port.FlowControl().SetFlowControl(choices.flowControl);
    }
}

void applyLineChoices(TCustomComPort& port, const LineChoices& choices) {
    port.BeginSettingsUpdate();
    try {
        setLineChoices(port, choices);
    } catch (...) {
        port.EndSettingsUpdate();
        throw;
    }
    port.EndSettingsUpdate();
}

}  // namespace velkor
