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

namespace velkor {

void ControllerLine::send(const std::string& command) {
    // Looked at afresh after every wait: a command sent meanwhile moves the quiet on.
    while (clock_.now() < quietAt_) {
        clock_.pauseUntil(quietAt_);
    }
    port_.SendText(command);
    quietAt_ = clock_.now() + wireTime(command.size()) + kQuietGap;
}

std::chrono::microseconds ControllerLine::wireTime(std::size_t bytes) const {
    const LineState line = port_.BuildLineState();
    if (line.baudRate == 0) {
        return {};
    }
    // A start bit, the data bits, a parity bit and two stop bits at most.
    const std::uint64_t bitsPerByte = 1U + line.byteSize + (line.parity != 0 ? 1U : 0U) + 2U;
    return std::chrono::microseconds(bytes * bitsPerByte * 1'000'000U / line.baudRate);
}

}  // namespace velkor
