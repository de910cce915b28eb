#include "ComPort.h"

#include <algorithm>
#include <cstring>

#include "ComThread.h"
#include "LineRecovery.h"

namespace velkor {
namespace {

constexpr std::uint32_t kBaudRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                        14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

}  // namespace

TCustomComPort::TCustomComPort(std::unique_ptr<SerialDriver> driver, Clock& clock)
    : driver_(std::move(driver)),
      recovery_(std::make_unique<LineRecovery>([this](unsigned g) { LineLost(g); },
                                               [this] { TryReopen(); }, clock)) {
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

void TCustomComPort::OpenPortOrWait() {
    try {
        OpenPort();
    } catch (const EComPort& error) {
        if (error.ErrorNumber() == CE_OpenFailed && !connected_) {
            waitForDevice(error.what());
        }
        throw;
    }
    if (!connected_) {
        waitForDevice(ComErrorMessage(CE_OpenFailed));  // an OnException handler took it
    }
}

void TCustomComPort::waitForDevice(const std::string& why) {
    lost_ = true;
    reconnectError_ = why;
    recovery_->startRetrying();
    notifyLineStatus();
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

}  // namespace velkor
