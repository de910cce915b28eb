#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velkor {

// The line-state record the port builds from its settings (the fields and flag values of the
// Windows device control block), which a driver turns into its device's own line settings.
struct LineState {
    static constexpr std::uint32_t fBinary = 0x0001;
    static constexpr std::uint32_t fParity = 0x0002;
    static constexpr std::uint32_t fOutxCtsFlow = 0x0004;
    static constexpr std::uint32_t fOutxDsrFlow = 0x0008;
    static constexpr std::uint32_t fDtrControlMask = 0x0030;
    static constexpr std::uint32_t fDtrEnable = 0x0010;
    static constexpr std::uint32_t fDtrHandshake = 0x0020;
    static constexpr std::uint32_t fDsrSensitivity = 0x0040;
    static constexpr std::uint32_t fTXContinueOnXoff = 0x0080;
    static constexpr std::uint32_t fOutX = 0x0100;
    static constexpr std::uint32_t fInX = 0x0200;
    static constexpr std::uint32_t fErrorChar = 0x0400;
    static constexpr std::uint32_t fNull = 0x0800;
    static constexpr std::uint32_t fRtsControlMask = 0x3000;
    static constexpr std::uint32_t fRtsEnable = 0x1000;
    static constexpr std::uint32_t fRtsHandshake = 0x2000;
    static constexpr std::uint32_t fRtsToggle = 0x3000;
    static constexpr std::uint32_t fAbortOnError = 0x4000;

    std::uint32_t length = 28;
    std::uint32_t baudRate = 0;
    std::uint32_t flags = 0;
    std::uint16_t xonLimit = 0;
    std::uint16_t xoffLimit = 0;
    std::uint8_t byteSize = 0;
    std::uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
    char xonChar = 0;
    char xoffChar = 0;
    char errorChar = 0;
    char eofChar = 0;
    char eventChar = 0;

    bool operator==(const LineState&) const = default;
};

// Read and write timeouts in milliseconds; 0xFFFFFFFF stands for "largest".
struct TimeoutSettings {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;

    bool operator==(const TimeoutSettings&) const = default;
};

// Comm event mask bits, line-error flags and modem-line bits as the driver reports them.
namespace CommMask {
inline constexpr std::uint32_t RxChar = 0x0001, RxFlag = 0x0002, TxEmpty = 0x0004, Cts = 0x0008,
                               Dsr = 0x0010, Rlsd = 0x0020, Break = 0x0040, Err = 0x0080,
                               Ring = 0x0100, Rx80Full = 0x0400;
}
namespace LineErrorFlag {
inline constexpr std::uint32_t RxOver = 0x0001, Overrun = 0x0002, RxParity = 0x0004, Frame = 0x0008,
                               Break = 0x0010, TxFull = 0x0100, IO = 0x0400, Mode = 0x8000;
}
namespace ModemLine {
inline constexpr std::uint32_t Cts = 0x0010, Dsr = 0x0020, Ring = 0x0040, Rlsd = 0x0080;
}

// The platform operations a port needs from its device. Every operation that can fail returns
// 0 on success or the system's error number; the port turns failures into its numbered errors.
// A driver serves one device at a time. waitEvents runs on the port's event thread, everything
// else on the thread that owns the port, except that requestStop may be called from any thread.
class SerialDriver {
  public:
    virtual ~SerialDriver() = default;

    virtual int openDevice(const std::string& port) = 0;
    virtual int closeDevice() = 0;
    virtual bool isOpen() const = 0;
    virtual int setQueueSizes(std::uint32_t input, std::uint32_t output) = 0;
    virtual int setLineState(const LineState& state) = 0;
    virtual int setTimeouts(const TimeoutSettings& timeouts) = 0;
    virtual void setEventMask(std::uint32_t mask) = 0;

    enum class WaitResult { Events, Stopped, Failed, Lost };
    // Blocks until one of the masked events occurs (their bits in `events`), requestStop is
    // called, the wait itself fails, or the device goes away (hung up, unplugged: Lost).
    // Events that occur while nobody waits are kept for the next wait. Received bytes are
    // reported for as long as any are waiting, but bytes already reported are reported again
    // only after a read (or when more arrive), so a wait never spins on unread bytes.
    virtual WaitResult waitEvents(std::uint32_t& events) = 0;
    virtual void requestStop() = 0;
    virtual void clearStop() = 0;

    // Writes all bytes and, on devices that report their output queue, waits for it to drain,
    // at most as long as the write timeouts allow; `written` is what went out.
    virtual int write(const char* bytes, std::size_t count, std::size_t& written) = 0;
    // Reads what has been received, up to `count` bytes, without waiting.
    virtual int read(char* buffer, std::size_t count, std::size_t& got) = 0;
    // Line-error flags since the last call (cleared by it) and the bytes waiting to be read.
    virtual int status(std::uint32_t& errorFlags, std::uint32_t& bytesWaiting) = 0;
    virtual int modemLines(std::uint32_t& lines) = 0;
    // Aborts pending transfers (abort) or discards both queues (!abort).
    virtual int purge(bool abort) = 0;
    // True when the open device has gone away: the other end hung up or it was unplugged.
    virtual bool hungUp() = 0;
    // True when the two port names lead to the same device (a port and a link to it, as
    // /dev/serial/by-id gives one).
    virtual bool sameDevice(const std::string& a, const std::string& b) const = 0;
};

}  // namespace velkor
