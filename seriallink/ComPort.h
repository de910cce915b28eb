#pragma once

#include <QStringList>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ComLink.h"
#include "SerialDriver.h"
#include "VelkorError.h"

namespace velkor {

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TStoredProp { spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers };
enum TStorageType { stRegistry, stIniFile };
enum TComEvent {
    evRxChar,
    evTxEmpty,
    evRxFlag,
    evRing,
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRLSD,
    evRx80Full
};
enum TSyncMethod { smThreadSync, smWindowSync, smNone };
enum TComSignal { csCTS, csDSR, csRing, csRLSD };
enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };

// A set of enumeration values (a Pascal-style set), one bit per value.
template <typename Enum>
class EnumSet {
  public:
    EnumSet() = default;
    EnumSet(std::initializer_list<Enum> values) {
        for (Enum v : values) {
            insert(v);
        }
    }
    static EnumSet fromBits(std::uint32_t bits) {
        EnumSet set;
        set.bits_ = bits;
        return set;
    }
    bool contains(Enum v) const { return (bits_ >> static_cast<int>(v)) & 1u; }
    void insert(Enum v) { bits_ |= 1u << static_cast<int>(v); }
    void erase(Enum v) { bits_ &= ~(1u << static_cast<int>(v)); }
    bool empty() const { return bits_ == 0; }
    std::uint32_t bits() const { return bits_; }
    bool operator==(const EnumSet&) const = default;

  private:
    std::uint32_t bits_ = 0;
};

using TComEvents = EnumSet<TComEvent>;
using TComSignals = EnumSet<TComSignal>;
using TComErrors = EnumSet<TComError>;
using TStoredProps = EnumSet<TStoredProp>;

inline const TComEvents kAllComEvents{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                                      evCTS,    evDSR,     evError,  evRLSD, evRx80Full};

// Conversions between an event set and the driver's comm event mask.
std::uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(std::uint32_t mask);

// Error numbers of the serial link, each with a fixed message.
enum TComExceptionNumber {
    CE_OpenFailed = 1,
    CE_WriteFailed,
    CE_ReadFailed,
    CE_InvalidAsync,
    CE_PurgeFailed,
    CE_AsyncCheck,
    CE_SetStateFailed,
    CE_TimeoutsFailed,
    CE_SetupComFailed,
    CE_ClearComFailed,
    CE_ModemStatFailed,
    CE_EscapeComFailed,
    CE_TransmitFailed,
    CE_ConnChangeProp,
    CE_EnumPortsFailed,
    CE_StoreFailed,
    CE_LoadFailed,
    CE_RegFailed,
    CE_LedStateFailed,
    CE_ThreadCreated,
    CE_WaitFailed,
    CE_HasLink,
    CE_RegError,
    CEPortNotOpen
};

// The message of an error number, without the system code.
const char* ComErrorMessage(int errorNumber);

// The serial link's error: its number (1 to 24), the system's error code or -1, and the fixed
// message followed by " (Error: <code>)" when a system code belongs to it.
class EComPort : public VelkorError {
  public:
    EComPort(int errorNumber, int osError);
    int ErrorNumber() const { return errorNumber_; }
    int OsError() const { return osError_; }

  protected:
    EComPort(int errorNumber, const std::string& message);

  private:
    int errorNumber_;
    int osError_;
};

// A send while the line is lost: the command did not go out; the port comes back by itself.
// It carries error number 24 ("Port Not Open") with a message that tells the operator why.
class ELineLost : public EComPort {
  public:
    explicit ELineLost(const std::string& port);
};

// Where the line stands: closed (never opened, or closed on purpose), open, or lost (the device
// went away while open; the port tries to open it again by itself until it is back or closed).
enum class TLineStatus { Closed, Open, Lost };

class TCustomComPort;

// The four groups of settings. Changing a field to a different value stores it and applies
// the group to an open port.
class TComParity {
  public:
    TParityBits Bits() const { return bits_; }
    bool Check() const { return check_; }
    bool Replace() const { return replace_; }
    char ReplaceChar() const { return replaceChar_; }
    void SetBits(TParityBits v);
    void SetCheck(bool v);
    void SetReplace(bool v);
    void SetReplaceChar(char v);
    // Copies every field, then applies once.
    void Assign(const TComParity& other);

  private:
    friend class TCustomComPort;
    template <typename T>
    void change(T& field, T value);
    TCustomComPort* port_ = nullptr;
    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    char replaceChar_ = 0;
};

class TComFlowControl {
  public:
    bool OutCTSFlow() const { return outCTSFlow_; }
    bool OutDSRFlow() const { return outDSRFlow_; }
    TDTRFlowControl ControlDTR() const { return controlDTR_; }
    TRTSFlowControl ControlRTS() const { return controlRTS_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DSRSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    char XonChar() const { return xonChar_; }
    char XoffChar() const { return xoffChar_; }
    void SetOutCTSFlow(bool v);
    void SetOutDSRFlow(bool v);
    void SetControlDTR(TDTRFlowControl v);
    void SetControlRTS(TRTSFlowControl v);
    void SetXonXoffOut(bool v);
    void SetXonXoffIn(bool v);
    void SetDSRSensitivity(bool v);
    void SetTxContinueOnXoff(bool v);
    void SetXonChar(char v);
    void SetXoffChar(char v);
    // The preset the fields amount to, and writing one (see the flow-control rules).
    TFlowControl FlowControl() const;
    void SetFlowControl(TFlowControl preset);
    void Assign(const TComFlowControl& other);

  private:
    friend class TCustomComPort;
    template <typename T>
    void change(T& field, T value);
    TCustomComPort* port_ = nullptr;
    bool outCTSFlow_ = false;
    bool outDSRFlow_ = false;
    TDTRFlowControl controlDTR_ = dtrDisable;
    TRTSFlowControl controlRTS_ = rtsDisable;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
    char xonChar_ = 17;
    char xoffChar_ = 19;
};

class TComTimeouts {
  public:
    std::int32_t ReadInterval() const { return readInterval_; }
    std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
    std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
    std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
    std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }
    void SetReadInterval(std::int32_t v);
    void SetReadTotalMultiplier(std::int32_t v);
    void SetReadTotalConstant(std::int32_t v);
    void SetWriteTotalMultiplier(std::int32_t v);
    void SetWriteTotalConstant(std::int32_t v);
    void Assign(const TComTimeouts& other);

  private:
    friend class TCustomComPort;
    void change(std::int32_t& field, std::int32_t value);
    TCustomComPort* port_ = nullptr;
    std::int32_t readInterval_ = -1;
    std::int32_t readTotalMultiplier_ = 0;
    std::int32_t readTotalConstant_ = 0;
    std::int32_t writeTotalMultiplier_ = 100;
    std::int32_t writeTotalConstant_ = 1000;
};

class TComBuffer {
  public:
    std::int32_t InputSize() const { return inputSize_; }
    std::int32_t OutputSize() const { return outputSize_; }
    // A positive odd size is stored one smaller.
    void SetInputSize(std::int32_t v);
    void SetOutputSize(std::int32_t v);
    void Assign(const TComBuffer& other);

  private:
    friend class TCustomComPort;
    void change(std::int32_t& field, std::int32_t value);
    TCustomComPort* port_ = nullptr;
    std::int32_t inputSize_ = 1024;
    std::int32_t outputSize_ = 1024;
};

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

    explicit TCustomComPort(std::unique_ptr<SerialDriver> driver = createSystemSerialDriver());
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
    void ClosePort();
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

// The component a form places: the port with its published settings.
class TComPort : public TCustomComPort {
  public:
    using TCustomComPort::TCustomComPort;
};

// The system's serial ports (names without "/dev/"), sorted without regard to case; replaces
// the list's contents. When the environment variable VELKOR_SERIAL_PORTS is set, its names or
// device paths (separated by ":") are the list instead.
inline constexpr const char* kSerialPortsVariable = "VELKOR_SERIAL_PORTS";
void ListSerialPorts(QStringList& list);

}  // namespace velkor
