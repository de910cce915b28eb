#include "ComPort.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

#include "ComThread.h"
#include "LineRecovery.h"
#include "Text.h"

namespace velkor {
namespace {

constexpr const char* kMessages[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

std::string errorText(int errorNumber, int osError) {
    std::string text = ComErrorMessage(errorNumber);
    if (osError > 0) {
        text += " (Error: " + std::to_string(osError) + ")";
    }
    return text;
}

constexpr std::uint32_t kBaudRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                        14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

}  // namespace

const char* ComErrorMessage(int errorNumber) {
    if (errorNumber < 1 || errorNumber > 24) {
        return "";
    }
    return kMessages[errorNumber - 1];
}

EComPort::EComPort(int errorNumber, int osError)
    : VelkorError(errorText(errorNumber, osError)),
      errorNumber_(errorNumber),
      osError_(osError > 0 ? osError : -1) {}

EComPort::EComPort(int errorNumber, const std::string& message)
    : VelkorError(message), errorNumber_(errorNumber), osError_(-1) {}

ELineLost::ELineLost(const std::string& port)
    : EComPort(CEPortNotOpen,
               cp1251("Связь с контроллером потеряна (порт ") + port +
                   cp1251("): команда не отправлена. Консоль подключится снова сама, как только "
                          "порт вернётся")) {}

// --- settings groups -------------------------------------------------------------------------

template <typename T>
void TComParity::change(T& field, T value) {
    if (field != value) {
        field = value;
        if (port_ != nullptr) {
            port_->ApplyDeviceState();
        }
    }
}
void TComParity::SetBits(TParityBits v) {
    change(bits_, v);
}
void TComParity::SetCheck(bool v) {
    change(check_, v);
}
void TComParity::SetReplace(bool v) {
    change(replace_, v);
}
void TComParity::SetReplaceChar(char v) {
    change(replaceChar_, v);
}
void TComParity::Assign(const TComParity& other) {
    bits_ = other.bits_;
    check_ = other.check_;
    replace_ = other.replace_;
    replaceChar_ = other.replaceChar_;
    if (port_ != nullptr) {
        port_->ApplyDeviceState();
    }
}

template <typename T>
void TComFlowControl::change(T& field, T value) {
    if (field != value) {
        field = value;
        if (port_ != nullptr) {
            port_->ApplyDeviceState();
        }
    }
}
void TComFlowControl::SetOutCTSFlow(bool v) {
    change(outCTSFlow_, v);
}
void TComFlowControl::SetOutDSRFlow(bool v) {
    change(outDSRFlow_, v);
}
void TComFlowControl::SetControlDTR(TDTRFlowControl v) {
    change(controlDTR_, v);
}
void TComFlowControl::SetControlRTS(TRTSFlowControl v) {
    change(controlRTS_, v);
}
void TComFlowControl::SetXonXoffOut(bool v) {
    change(xonXoffOut_, v);
}
void TComFlowControl::SetXonXoffIn(bool v) {
    change(xonXoffIn_, v);
}
void TComFlowControl::SetDSRSensitivity(bool v) {
    change(dsrSensitivity_, v);
}
void TComFlowControl::SetTxContinueOnXoff(bool v) {
    change(txContinueOnXoff_, v);
}
void TComFlowControl::SetXonChar(char v) {
    change(xonChar_, v);
}
void TComFlowControl::SetXoffChar(char v) {
    change(xoffChar_, v);
}

TFlowControl TComFlowControl::FlowControl() const {
    if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) {
        return fcHardware;
    }
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_) {
        return fcSoftware;
    }
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) {
        return fcNone;
    }
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl preset) {
    if (preset != fcCustom) {
        controlRTS_ = rtsDisable;
        outCTSFlow_ = false;
        xonXoffIn_ = false;
        xonXoffOut_ = false;
        if (preset == fcHardware) {
            controlRTS_ = rtsHandshake;
            outCTSFlow_ = true;
        } else if (preset == fcSoftware) {
            xonXoffIn_ = true;
            xonXoffOut_ = true;
        }
    }
    if (port_ != nullptr) {
        port_->ApplyDeviceState();
    }
}

void TComFlowControl::Assign(const TComFlowControl& other) {
    TCustomComPort* port = port_;
    *this = other;
    port_ = port;
    if (port_ != nullptr) {
        port_->ApplyDeviceState();
    }
}

void TComTimeouts::change(std::int32_t& field, std::int32_t value) {
    if (field != value) {
        field = value;
        if (port_ != nullptr) {
            port_->ApplyTimeoutSettings();
        }
    }
}
void TComTimeouts::SetReadInterval(std::int32_t v) {
    change(readInterval_, v);
}
void TComTimeouts::SetReadTotalMultiplier(std::int32_t v) {
    change(readTotalMultiplier_, v);
}
void TComTimeouts::SetReadTotalConstant(std::int32_t v) {
    change(readTotalConstant_, v);
}
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t v) {
    change(writeTotalMultiplier_, v);
}
void TComTimeouts::SetWriteTotalConstant(std::int32_t v) {
    change(writeTotalConstant_, v);
}
void TComTimeouts::Assign(const TComTimeouts& other) {
    TCustomComPort* port = port_;
    *this = other;
    port_ = port;
    if (port_ != nullptr) {
        port_->ApplyTimeoutSettings();
    }
}

void TComBuffer::change(std::int32_t& field, std::int32_t value) {
    if (value > 0 && value % 2 == 1) {
        --value;  // queue sizes are even
    }
    if (field != value) {
        field = value;
        if (port_ != nullptr) {
            port_->ApplyBufferSizes();
        }
    }
}
void TComBuffer::SetInputSize(std::int32_t v) {
    change(inputSize_, v);
}
void TComBuffer::SetOutputSize(std::int32_t v) {
    change(outputSize_, v);
}
void TComBuffer::Assign(const TComBuffer& other) {
    inputSize_ = other.inputSize_;
    outputSize_ = other.outputSize_;
    if (port_ != nullptr) {
        port_->ApplyBufferSizes();
    }
}

// --- the port --------------------------------------------------------------------------------

TCustomComPort::TCustomComPort(std::unique_ptr<SerialDriver> driver)
    : driver_(std::move(driver)),
      recovery_(std::make_unique<LineRecovery>([this](unsigned g) { LineLost(g); },
                                               [this] { TryReopen(); })) {
    parity_.port_ = this;
    flowControl_.port_ = this;
    timeouts_.port_ = this;
    buffer_.port_ = this;
}

TCustomComPort::~TCustomComPort() {
    for (auto& [id, listener] : std::vector(destroyListeners_)) {
        listener();
    }
    try {
        ClosePort();
    } catch (const std::exception&) {
        // Closing failed (an abort the device refused); the descriptor goes with the driver.
        driver_->closeDevice();
    }
}

namespace {
// A device setting changes the open line's state only when its value does.
template <typename Value, typename Apply>
void changeDeviceSetting(Value& field, Value value, Apply apply) {
    if (field != value) {
        field = value;
        apply();
    }
}
}  // namespace

void TCustomComPort::SetBaudRate(TBaudRate v) {
    changeDeviceSetting(baudRate_, v, [this] { ApplyDeviceState(); });
}
void TCustomComPort::SetCustomBaudRate(std::int32_t v) {
    changeDeviceSetting(customBaudRate_, v, [this] { ApplyDeviceState(); });
}
void TCustomComPort::SetStopBits(TStopBits v) {
    changeDeviceSetting(stopBits_, v, [this] { ApplyDeviceState(); });
}
void TCustomComPort::SetDataBits(TDataBits v) {
    changeDeviceSetting(dataBits_, v, [this] { ApplyDeviceState(); });
}
void TCustomComPort::SetDiscardNull(bool v) {
    changeDeviceSetting(discardNull_, v, [this] { ApplyDeviceState(); });
}
void TCustomComPort::SetEventChar(char v) {
    changeDeviceSetting(eventChar_, v, [this] { ApplyDeviceState(); });
}

void TCustomComPort::SetPort(const std::string& v) {
    if (port_ == v) {
        return;
    }
    port_ = v;
    if (connected_ || lost_) {
        ClosePort();
        OpenPort();
    }
}

bool TCustomComPort::TriggersOnRxChar() const {
    return triggersOnRxChar_ && !hasReceiveLink_;
}

void TCustomComPort::SetTriggersOnRxChar(bool v) {
    if (hasReceiveLink_) {
        RaisePortError(CE_HasLink);
        return;
    }
    triggersOnRxChar_ = v;
}

void TCustomComPort::SetSyncMethod(TSyncMethod v) {
    if (v == syncMethod_) {
        return;
    }
    if (connected_) {
        RaisePortError(CE_ConnChangeProp);
        return;
    }
    syncMethod_ = v;
}

void TCustomComPort::SetConnected(bool v) {
    if (v != connected_ || (!v && lost_)) {
        v ? OpenPort() : ClosePort();
    }
}

void TCustomComPort::RaisePortError(int errorNumber, int osError) {
    if (OnException) {
        OnException(*this, errorNumber - 1, ComErrorMessage(errorNumber), osError > 0 ? osError : 0,
                    osError > 0 ? std::strerror(osError) : "");
        return;
    }
    throw EComPort(errorNumber, osError);
}

template <typename Slot, typename... Args>
void TCustomComPort::notifyLinks(Slot TComLink::*slot, Args&&... args) {
    // A handler may attach or detach links; walk a copy.
    for (TComLink* link : std::vector(links_)) {
        if (link->*slot) {
            (link->*slot)(*this, args...);
        }
    }
}

bool TCustomComPort::canApply() const {
    return connected_ && updateDepth_ == 0;
}

LineState TCustomComPort::BuildLineState() const {
    LineState state;
    state.baudRate =
        baudRate_ == brCustom ? static_cast<std::uint32_t>(customBaudRate_) : kBaudRates[baudRate_];
    state.flags = LineState::fBinary;
    const bool replace = parity_.Check() && parity_.Replace();
    if (parity_.Check())
        state.flags |= LineState::fParity;
    if (flowControl_.OutCTSFlow())
        state.flags |= LineState::fOutxCtsFlow;
    if (flowControl_.OutDSRFlow())
        state.flags |= LineState::fOutxDsrFlow;
    static constexpr std::uint32_t dtrBits[] = {0, LineState::fDtrEnable, LineState::fDtrHandshake};
    state.flags |= dtrBits[flowControl_.ControlDTR()];
    if (flowControl_.DSRSensitivity())
        state.flags |= LineState::fDsrSensitivity;
    if (flowControl_.TxContinueOnXoff())
        state.flags |= LineState::fTXContinueOnXoff;
    if (flowControl_.XonXoffOut())
        state.flags |= LineState::fOutX;
    if (flowControl_.XonXoffIn())
        state.flags |= LineState::fInX;
    if (replace)
        state.flags |= LineState::fErrorChar;
    if (discardNull_)
        state.flags |= LineState::fNull;
    static constexpr std::uint32_t rtsBits[] = {0, LineState::fRtsEnable, LineState::fRtsHandshake,
                                                LineState::fRtsToggle};
    state.flags |= rtsBits[flowControl_.ControlRTS()];
    state.xonLimit = static_cast<std::uint16_t>(buffer_.InputSize() / 4);
    state.xoffLimit = state.xonLimit;
    state.byteSize = static_cast<std::uint8_t>(5 + dataBits_);
    state.parity = static_cast<std::uint8_t>(parity_.Bits());
    state.stopBits = static_cast<std::uint8_t>(stopBits_);
    state.xonChar = flowControl_.XonChar();
    state.xoffChar = flowControl_.XoffChar();
    state.errorChar = replace ? parity_.ReplaceChar() : '\0';
    state.eventChar = eventChar_;
    return state;
}

TimeoutSettings TCustomComPort::BuildTimeouts() const {
    auto value = [](std::int32_t v) {
        return v == -1 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
    };
    return {value(timeouts_.ReadInterval()), value(timeouts_.ReadTotalMultiplier()),
            value(timeouts_.ReadTotalConstant()), value(timeouts_.WriteTotalMultiplier()),
            value(timeouts_.WriteTotalConstant())};
}

void TCustomComPort::ApplyDeviceState() {
    if (!canApply()) {
        return;
    }
    if (const int error = driver_->setLineState(BuildLineState())) {
        RaisePortError(CE_SetStateFailed, error);
    }
}

void TCustomComPort::ApplyTimeoutSettings() {
    if (!canApply()) {
        return;
    }
    if (const int error = driver_->setTimeouts(BuildTimeouts())) {
        RaisePortError(CE_TimeoutsFailed, error);
    }
}

void TCustomComPort::ApplyBufferSizes() {
    if (!canApply()) {
        return;
    }
    if (const int error =
            driver_->setQueueSizes(static_cast<std::uint32_t>(buffer_.InputSize()),
                                   static_cast<std::uint32_t>(buffer_.OutputSize()))) {
        RaisePortError(CE_SetupComFailed, error);
    }
}

void TCustomComPort::ApplyAllSettings() {
    ApplyBufferSizes();
    ApplyDeviceState();
    ApplyTimeoutSettings();
}

void TCustomComPort::BeginSettingsUpdate() {
    ++updateDepth_;
}

void TCustomComPort::EndSettingsUpdate() {
    if (updateDepth_ < 1) {
        return;
    }
    if (--updateDepth_ == 0) {
        ApplyAllSettings();
    }
}

void TCustomComPort::OpenPort() {
    if (connected_) {
        return;
    }
    if (OnBeforeOpen) {
        OnBeforeOpen(*this);
    }
    if (const int error = driver_->openDevice(port_)) {
        RaisePortError(CE_OpenFailed, error);
        return;
    }
    connected_ = true;
    try {
        ApplyAllSettings();
    } catch (...) {
        driver_->closeDevice();
        connected_ = false;
        throw;
    }
    const unsigned generation = ++openGeneration_;
    if (!events_.empty()) {
        worker_ = std::make_unique<TComThread>(
            *this, [this, generation] { recovery_->reportLost(generation); });
        worker_->Start();
    }
    if (lost_) {
        lost_ = false;
        recovery_->stopRetrying();
    }
    reconnectError_.clear();
    notifyLineStatus();
    notifyLinks(&TComLink::LinkConn, true);
    if (OnAfterOpen) {
        OnAfterOpen(*this);
    }
    AfterOpenSignalSteps();
}

void TCustomComPort::ClosePort() {
    if (!connected_) {
        if (lost_) {  // closed on purpose: stop waiting for the device
            lost_ = false;
            recovery_->stopRetrying();
            notifyLineStatus();
        }
        return;
    }
    notifyLinks(&TComLink::LinkCTS, false);
    notifyLinks(&TComLink::LinkDSR, false);
    notifyLinks(&TComLink::LinkRLSD, false);
    for (auto* event : {&OnCTSChange, &OnDSRChange, &OnRLSDChange}) {
        if (*event) {
            (*event)(*this, false);
        }
    }
    if (OnBeforeClose) {
        OnBeforeClose(*this);
    }
    AbortTransfers();
    worker_.reset();  // stops the event thread, running the deliveries it has queued
    driver_->closeDevice();
    connected_ = false;
    notifyLineStatus();
    notifyLinks(&TComLink::LinkConn, false);
    if (OnAfterClose) {
        OnAfterClose(*this);
    }
}

TLineStatus TCustomComPort::LineStatus() const {
    if (connected_) {
        return TLineStatus::Open;
    }
    return lost_ ? TLineStatus::Lost : TLineStatus::Closed;
}

// The device went away under an open port. It is closed as ClosePort closes it, so links and
// handlers see a close, and its descriptor is released at once (the event thread has ended,
// so nothing waits on it any more), so that a replugged adapter gets its old name back. Then
// the same port, with the same settings, is tried again and again until it opens.
void TCustomComPort::LineLost(unsigned generation) {
    if (!connected_ || generation != openGeneration_) {
        return;  // closed or opened anew since the report was sent
    }
    lost_ = true;
    reconnectError_.clear();
    recovery_->startRetrying();
    try {
        ClosePort();
    } catch (...) {
        // A close handler failed half-way: the device is gone all the same.
        worker_.reset();
        driver_->closeDevice();
        connected_ = false;
        notifyLineStatus();
        throw;
    }
}

void TCustomComPort::TryReopen() {
    try {
        OpenPort();
        if (!connected_ && reconnectError_.empty()) {
            // An OnException handler took the failure.
            reconnectError_ = ComErrorMessage(CE_OpenFailed);
            notifyLineStatus();
        }
    } catch (const std::exception& error) {
        // The device is not back yet: the status shows why, and the next tick tries again.
        if (reconnectError_ != error.what()) {
            reconnectError_ = error.what();
            notifyLineStatus();
        }
    }
}

void TCustomComPort::RaiseLineLost() {
    const ELineLost error(port_);
    if (OnException) {
        OnException(*this, CEPortNotOpen - 1, error.what(), 0, "");
        return;
    }
    throw error;
}

int TCustomComPort::addLineStatusListener(std::function<void()> listener) {
    lineStatusListeners_.emplace_back(nextListenerId_, std::move(listener));
    return nextListenerId_++;
}

void TCustomComPort::removeLineStatusListener(int id) {
    std::erase_if(lineStatusListeners_, [id](const auto& entry) { return entry.first == id; });
}

void TCustomComPort::notifyLineStatus() {
    for (auto& [id, listener] : Listeners(lineStatusListeners_)) {
        listener();
    }
}

int TCustomComPort::SendText(const std::string& text) {
    if (text.empty()) {
        return 0;
    }
    if (!driver_->isOpen()) {
        lost_ ? RaiseLineLost() : RaisePortError(CEPortNotOpen);
        return 0;
    }
    std::size_t written = 0;
    if (const int error = driver_->write(text.data(), text.size(), written)) {
        if (driver_->hungUp()) {
            // Gone before the event thread's report came in: the same loss, noticed here.
            LineLost(openGeneration_);
            RaiseLineLost();
            return 0;
        }
        RaisePortError(CE_WriteFailed, error);
        return 0;
    }
    notifyLinks(&TComLink::LinkTx, true);
    notifyLinks(&TComLink::LinkTxBuf, text.data(), static_cast<int>(written));
    return static_cast<int>(written);
}

int TCustomComPort::ReceiveBytes(char* buffer, int count) {
    if (!driver_->isOpen()) {
        lost_ ? RaiseLineLost() : RaisePortError(CEPortNotOpen);
        return 0;
    }
    std::size_t got = 0;
    if (const int error =
            driver_->read(buffer, static_cast<std::size_t>(std::max(count, 0)), got)) {
        RaisePortError(CE_ReadFailed, error);
        return 0;
    }
    if (BytesWaiting() == 0) {
        notifyLinks(&TComLink::LinkRx, false);
    }
    return static_cast<int>(got);
}

void TCustomComPort::AbortTransfers() {
    if (const int error = driver_->purge(true)) {
        RaisePortError(CE_PurgeFailed, error);
    }
}

int TCustomComPort::BytesWaiting() {
    std::uint32_t flags = 0;
    std::uint32_t waiting = 0;
    if (const int error = driver_->status(flags, waiting)) {
        RaisePortError(CE_ClearComFailed, error);
        return 0;
    }
    return static_cast<int>(waiting);
}

TComErrors TCustomComPort::TakeLineErrors() {
    std::uint32_t flags = 0;
    std::uint32_t waiting = 0;
    if (const int error = driver_->status(flags, waiting)) {
        RaisePortError(CE_ClearComFailed, error);
        return {};
    }
    TComErrors errors;
    const std::pair<std::uint32_t, TComError> table[] = {
        {LineErrorFlag::Frame, ceFrame},   {LineErrorFlag::Overrun, ceOverrun},
        {LineErrorFlag::Break, ceBreak},   {LineErrorFlag::IO, ceIO},
        {LineErrorFlag::Mode, ceMode},     {LineErrorFlag::RxOver, ceRxOver},
        {LineErrorFlag::TxFull, ceTxFull},
    };
    for (const auto& [flag, error] : table) {
        if (flags & flag) {
            errors.insert(error);
        }
    }
    if ((flags & LineErrorFlag::RxParity) && parity_.Check()) {
        errors.insert(ceRxParity);
    }
    return errors;
}

TComSignals TCustomComPort::ModemSignals() {
    std::uint32_t lines = 0;
    if (const int error = driver_->modemLines(lines)) {
        RaisePortError(CE_ModemStatFailed, error);
        return {};
    }
    TComSignals signals_;
    if (lines & ModemLine::Cts)
        signals_.insert(csCTS);
    if (lines & ModemLine::Dsr)
        signals_.insert(csDSR);
    if (lines & ModemLine::Ring)
        signals_.insert(csRing);
    if (lines & ModemLine::Rlsd)
        signals_.insert(csRLSD);
    return signals_;
}

void TCustomComPort::AttachLink(TComLink* link) {
    if (link == nullptr || std::find(links_.begin(), links_.end(), link) != links_.end()) {
        RaisePortError(CE_RegFailed);
        return;
    }
    links_.push_back(link);
    updateHasReceiveLink();
}

void TCustomComPort::DetachLink(TComLink* link) {
    const auto found = std::find(links_.begin(), links_.end(), link);
    if (found == links_.end()) {
        RaisePortError(CE_RegFailed);
        return;
    }
    links_.erase(found);
    updateHasReceiveLink();
}

void TCustomComPort::updateHasReceiveLink() {
    hasReceiveLink_ =
        std::any_of(links_.begin(), links_.end(), [](TComLink* l) { return bool(l->LinkRxBuf); });
}

int TCustomComPort::addDestroyListener(std::function<void()> listener) {
    destroyListeners_.emplace_back(nextListenerId_, std::move(listener));
    return nextListenerId_++;
}

void TCustomComPort::removeDestroyListener(int id) {
    std::erase_if(destroyListeners_, [id](const auto& entry) { return entry.first == id; });
}

// --- the per-event steps ---------------------------------------------------------------------

void TCustomComPort::SignalStep(TComSignal line,
                                std::function<void(TCustomComPort&, bool)> TComLink::*slot,
                                const SignalEvent& event) {
    const bool on = ModemSignals().contains(line);
    notifyLinks(slot, on);
    if (event) {
        event(*this, on);
    }
}

void TCustomComPort::AfterOpenSignalSteps() {
    SignalStep(csCTS, &TComLink::LinkCTS, OnCTSChange);
    SignalStep(csDSR, &TComLink::LinkDSR, OnDSRChange);
    SignalStep(csRLSD, &TComLink::LinkRLSD, OnRLSDChange);
}

void TCustomComPort::RunEventHandlers(TComEvents events) {
    auto fire = [this](Notify& event) {
        if (event) {
            event(*this);
        }
    };
    if (events.contains(evError)) {
        const TComErrors errors = TakeLineErrors();
        if (!errors.empty() && OnError) {
            OnError(*this, errors);
        }
    }
    if (events.contains(evRxChar)) {
        ReceiveStep();
    }
    if (events.contains(evTxEmpty)) {
        notifyLinks(&TComLink::LinkTx, false);
        notifyLinks(&TComLink::LinkTxEmpty);
        fire(OnTxEmpty);
    }
    if (events.contains(evBreak)) {
        fire(OnBreak);
    }
    if (events.contains(evRing)) {
        notifyLinks(&TComLink::LinkRing);
        fire(OnRing);
    }
    if (events.contains(evCTS)) {
        SignalStep(csCTS, &TComLink::LinkCTS, OnCTSChange);
    }
    if (events.contains(evDSR)) {
        SignalStep(csDSR, &TComLink::LinkDSR, OnDSRChange);
    }
    if (events.contains(evRxFlag)) {
        notifyLinks(&TComLink::LinkRxFlag);
        fire(OnRxFlag);
    }
    if (events.contains(evRLSD)) {
        SignalStep(csRLSD, &TComLink::LinkRLSD, OnRLSDChange);
    }
    if (events.contains(evRx80Full)) {
        fire(OnRx80Full);
    }
}

void TCustomComPort::ReceiveStep() {
    int count = BytesWaiting();
    if (count > 0) {
        notifyLinks(&TComLink::LinkRx, true);
    }
    if (count > 0 && !TriggersOnRxChar()) {
        std::unique_ptr<char[]> buffer;
        int got = 0;
        // Read once, on the first receive link (or for OnRxBuf alone), and hand every link the
        // same bytes.
        auto readOnce = [&] {
            if (!buffer) {
                buffer = std::make_unique<char[]>(static_cast<std::size_t>(count));
                got = ReceiveBytes(buffer.get(), count);
                if (OnRxBuf) {
                    OnRxBuf(*this, buffer.get(), got);
                }
            }
        };
        for (TComLink* link : std::vector(links_)) {
            if (link->LinkRxBuf) {
                readOnce();
                link->LinkRxBuf(*this, buffer.get(), got);
            }
        }
        if (!buffer && !triggersOnRxChar_) {
            readOnce();
        }
        if (buffer) {
            count = 0;
        }
    }
    if (count > 0 && OnRxChar) {
        OnRxChar(*this, count);
    }
}

// --- port list -------------------------------------------------------------------------------

namespace {

// Nothing when the system keeps no list.
std::optional<QStringList> systemSerialPorts() {
    const std::string root = "/sys/class/tty";
    DIR* folder = ::opendir(root.c_str());
    if (folder == nullptr) {
        return std::nullopt;
    }
    std::string console;
    std::ifstream(root + "/console/active") >> console;
    QStringList names;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == console) {
            continue;
        }
        if (::access((root + "/" + name + "/device").c_str(), F_OK) != 0) {
            continue;  // virtual terminals and the like have no device behind them
        }
        if (name.rfind("ttyS", 0) == 0) {
            // Every PC kernel lists 4 or 32 legacy ports; only those with a UART are real.
            int type = 0;
            std::ifstream(root + "/" + name + "/type") >> type;
            if (type == 0) {
                continue;
            }
        }
        names << QString::fromStdString(name);
    }
    ::closedir(folder);
    return names;
}

}  // namespace

void ListSerialPorts(QStringList& list) {
    // The list can be given instead of read from the system, so that a test rig (or a service
    // person) can have the start-up probe meet a pseudo-terminal: names or device paths
    // separated by ":".
    const char* given = std::getenv(kSerialPortsVariable);
    std::optional<QStringList> names =
        given != nullptr ? QString::fromLocal8Bit(given).split(u':', Qt::SkipEmptyParts)
                         : systemSerialPorts();
    if (!names) {
        return;  // the caller's list stays as it is
    }
    std::sort(names->begin(), names->end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    list = *names;
}

}  // namespace velkor
