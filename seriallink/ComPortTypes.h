// The values of the port's settings and state as enumerations, and the sets built from them.
#pragma once

#include <cstdint>
#include <initializer_list>

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

}  // namespace velkor
