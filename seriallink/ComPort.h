#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Clock.h"
#include "ComLink.h"
#include "ComPortErrors.h"
#include "ComPortList.h"
#include "ComPortSettings.h"
#include "ComPortTypes.h"
#include "SerialDriver.h"

namespace velkor {

// Where the line stands: closed (never opened, or closed on purpose), open, or lost (the device
// went away while open; the port tries to open it again by itself until it is back or closed).
enum class TLineStatus { Closed, Open, Lost };

// Creates the driver for real devices (termios on Linux).
std::unique_ptr<SerialDriver> createSystemSerialDriver();

class TComThread;
class LineRecovery;
class SettingsStore;
class IniSection;
class RegistryKey;

// A serial port: its settings, opening and closing, synchronous writing and reading, and the
// event thread that hands received bytes to the attached links on the user-interface thread.
class TCustomComPort {
  public:
    using Notify = std::function<void(TCustomComPort& sender)>;
    using SignalEvent = std::function<void(TCustomComPort& sender, bool on)>;
    using RxCharEvent = std::function<void(TCustomComPort& sender, int count)>;
    using RxBufEvent = std::function<void(TCustomComPort& sender, const char* buffer, int count)>;
    using ErrorEvent = std::function<void(TCustomComPort& sender, TComErrors errors)>;
    // Replaces raising: (sender, error number - 1, message, system code, system text).
    using ExceptionEvent =
        std::function<void(TCustomComPort& sender, int comException, const std::string& message,
                           std::int64_t osError, const std::string& osMessage)>;

    // A lost line is tried again on `clock`'s timer.
    explicit TCustomComPort(std::unique_ptr<SerialDriver> driver = createSystemSerialDriver(),
                            Clock& clock = systemClock());
    virtual ~TCustomComPort();
    TCustomComPort(const TCustomComPort&) = delete;
    TCustomComPort& operator=(const TCustomComPort&) = delete;

    // The component's name: the INI section or registry sub-key its settings are stored under.
    const std::string& Name() const { return name_; }
    void SetName(std::string v) { name_ = std::move(v); }

    // Settings.
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate v);
    std::int32_t CustomBaudRate() const { return customBaudRate_; }
    void SetCustomBaudRate(std::int32_t v);
    const std::string& Port() const { return port_; }
    void SetPort(const std::string& v);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits v);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits v);
    bool DiscardNull() const { return discardNull_; }
    void SetDiscardNull(bool v);
    char EventChar() const { return eventChar_; }
    void SetEventChar(char v);
    TComEvents Events() const { return events_; }
    void SetEvents(TComEvents v) { events_ = v; }
    TStoredProps StoredProps() const { return storedProps_; }
    void SetStoredProps(TStoredProps v) { storedProps_ = v; }
    bool TriggersOnRxChar() const;
    void SetTriggersOnRxChar(bool v);
    TSyncMethod SyncMethod() const { return syncMethod_; }
    void SetSyncMethod(TSyncMethod v);
    std::uint32_t CodePage() const { return codePage_; }
    void SetCodePage(std::uint32_t v) { codePage_ = v; }
    TComParity& Parity() { return parity_; }
    const TComParity& Parity() const { return parity_; }
    TComFlowControl& FlowControl() { return flowControl_; }
    const TComFlowControl& FlowControl() const { return flowControl_; }
    TComTimeouts& Timeouts() { return timeouts_; }
    TComBuffer& Buffer() { return buffer_; }

    // State.
    bool Connected() const { return connected_; }
    void SetConnected(bool v);
    TLineStatus LineStatus() const;
    // Why the last attempt to bring a lost line back failed; empty before the first attempt.
    const std::string& ReconnectError() const { return reconnectError_; }
    // Called on the owner's thread whenever LineStatus() or ReconnectError() changes. Returns
    // an id for removeLineStatusListener.
    int addLineStatusListener(std::function<void()> listener);
    void removeLineStatusListener(int id);

    // Lifecycle and I/O.
    void OpenPort();
    // OpenPort, but a device that cannot be opened (an adapter not plugged in yet, a port that
    // another program holds) is then waited for as for a lost line: the status is Lost, the
    // reason is ReconnectError(), and the port opens by itself once it can. Raises what OpenPort
    // raised all the same.
    void OpenPortOrWait();
    void ClosePort();
    // True when this port's name and `other` lead to the same device.
    bool SameDevice(const std::string& other) const { return driver_->sameDevice(port_, other); }
    int SendText(const std::string& text);
    int ReceiveBytes(char* buffer, int count);
    void AbortTransfers();
    int BytesWaiting();
    TComSignals ModemSignals();
    TComErrors TakeLineErrors();
    void BeginSettingsUpdate();
    void EndSettingsUpdate();

    // Storing the settings of the groups in StoredProps: in an INI file named by `location`, or
    // in the registry under `location` ("HKEY_LOCAL_MACHINE\Software\Tavor"); either way under
    // the component's name. A failure raises error 16 ("Failed to store settings") with what was
    // written before it left written, or error 17 ("Failed to load settings") after the values
    // read before it have been applied.
    void SaveSettings(TStorageType storage, const std::string& location);
    void RestoreSettings(TStorageType storage, const std::string& location);

    // Links.
    void AttachLink(TComLink* link);
    void DetachLink(TComLink* link);
    bool HasReceiveLink() const { return hasReceiveLink_; }
    // Called just before the port is destroyed, so that a component that refers to the port
    // (the packet framer) can let go of it. Returns an id for removeDestroyListener.
    int addDestroyListener(std::function<void()> listener);
    void removeDestroyListener(int id);

    // The line-state record, timeouts and queue sizes the current settings amount to.
    LineState BuildLineState() const;
    TimeoutSettings BuildTimeouts() const;

    // Events.
    Notify OnBeforeOpen, OnAfterOpen, OnBeforeClose, OnAfterClose;
    RxCharEvent OnRxChar;
    RxBufEvent OnRxBuf;
    Notify OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
    SignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
    ErrorEvent OnError;
    ExceptionEvent OnException;

    // The settings groups apply through these (they do nothing unless the port is open and
    // not deferring).
    void ApplyDeviceState();
    void ApplyTimeoutSettings();
    void ApplyBufferSizes();

  protected:
    virtual void WriteRegistrySettings(RegistryKey& key);
    virtual void WriteIniSettings(IniSection& ini);
    virtual void ReadRegistrySettings(RegistryKey& key);
    virtual void ReadIniSettings(IniSection& ini);

  private:
    friend class TComThread;

    void writeStoredSettings(SettingsStore& store);
    void readStoredSettings(SettingsStore& store);
    void ApplyAllSettings();
    bool canApply() const;
    void RaisePortError(int errorNumber, int osError = -1);
    template <typename Slot, typename... Args>
    void notifyLinks(Slot TComLink::*slot, Args&&... args);
    void updateHasReceiveLink();

    // The per-event steps, run where the event thread delivers them.
    void RunEventHandlers(TComEvents events);
    void ReceiveStep();
    void AfterOpenSignalSteps();
    // The device of the given opening went away: release it and start bringing it back.
    void LineLost(unsigned generation);
    void TryReopen();
    void waitForDevice(const std::string& why);
    void RaiseLineLost();
    void notifyLineStatus();
    // Reads the modem lines and tells the links and the event the state of one of them.
    void SignalStep(TComSignal line, std::function<void(TCustomComPort&, bool)> TComLink::*slot,
                    const SignalEvent& event);

    std::unique_ptr<SerialDriver> driver_;
    std::string name_ = "ComPort";
    TBaudRate baudRate_ = br9600;
    std::int32_t customBaudRate_ = 9600;
    std::string port_ = "COM1";
    TStopBits stopBits_ = sbOneStopBit;
    TDataBits dataBits_ = dbEight;
    bool discardNull_ = false;
    char eventChar_ = 0;
    TComEvents events_ = kAllComEvents;
    TStoredProps storedProps_{spBasic};
    bool triggersOnRxChar_ = true;
    TSyncMethod syncMethod_ = smThreadSync;
    std::uint32_t codePage_ = 0;
    TComParity parity_;
    TComFlowControl flowControl_;
    TComTimeouts timeouts_;
    TComBuffer buffer_;

    bool connected_ = false;
    int updateDepth_ = 0;
    std::vector<TComLink*> links_;
    bool hasReceiveLink_ = false;
    std::unique_ptr<TComThread> worker_;
    unsigned openGeneration_ = 0;  // counts the openings, so a late loss report is ignored
    bool lost_ = false;
    std::string reconnectError_;
    std::unique_ptr<LineRecovery> recovery_;
    using Listeners = std::vector<std::pair<int, std::function<void()>>>;
    Listeners destroyListeners_;
    Listeners lineStatusListeners_;
    int nextListenerId_ = 1;
};

// The port as its owner holds it (the console, for the controller's line): TCustomComPort
// with every setting public.
class TComPort : public TCustomComPort {
  public:
    using TCustomComPort::TCustomComPort;
};

}  // namespace velkor
