#pragma once
// The port's enumerations and sets: one byte per enumeration, ordinal = position.

#include <cstdint>
#include <initializer_list>

namespace vardelio {

enum TBaudRate : std::uint8_t {
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
enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent : std::uint8_t {
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
enum TComError : std::uint8_t {
  ceFrame,
  ceRxParity,
  ceOverrun,
  ceBreak,
  ceIO,
  ceMode,
  ceRxOver,
  ceTxFull
};
enum TModemSignal : std::uint8_t { msCTS, msDSR, msRing, msRLSD };
enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };
enum TIoKind : std::uint8_t { ioWrite, ioRead };
enum TSettingsGroup : std::uint8_t {
  sgBasic,
  sgFlowControl,
  sgBuffer,
  sgTimeouts,
  sgParity,
  sgOthers
};

// A set of enumeration values held in the bits of `Bits` (bit n = ordinal n).
template <typename E, typename Bits>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> values) {
    for (E value : values)
      bits_ |= Bit(value);
  }
  static constexpr TSet FromBits(Bits bits) {
    TSet set;
    set.bits_ = bits;
    return set;
  }
  constexpr bool Contains(E value) const { return (bits_ & Bit(value)) != 0; }
  constexpr void Include(E value) { bits_ |= Bit(value); }
  constexpr void Exclude(E value) { bits_ &= Bits(~Bit(value)); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr Bits ToBits() const { return bits_; }
  friend constexpr bool operator==(TSet, TSet) = default;

 private:
  static constexpr Bits Bit(E value) { return Bits(Bits(1) << unsigned(value)); }
  Bits bits_ = 0;
};

using TComEvents = TSet<TComEvent, std::uint16_t>;
using TComErrors = TSet<TComError, std::uint8_t>;
using TModemSignals = TSet<TModemSignal, std::uint8_t>;
using TSettingsGroups = TSet<TSettingsGroup, std::uint8_t>;

inline constexpr TComEvents kAllComEvents = {evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                                             evCTS,    evDSR,     evError,  evRLSD, evRx80Full};

}  // namespace vardelio
