#pragma once
// Value types shared by the serial units: the line-setting enumerations, the
// 28-byte device-control block with its flag bits, the line-event and
// line-error bits, and the kinds of core event.
//
// The device-control block keeps the layout and bit values of the record the
// gateway tools have always stored and exchanged, so that blocks read back from
// the device, from the settings dialog or from elsewhere compare field by field.

#include <cstdint>
#include <initializer_list>

enum TAfBaudrate {
  br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
  br56000, br57600, br115200, br128000, br256000, brUser
};
enum TAfDatabits { db4, db5, db6, db7, db8 };
enum TAfParity { paNone, paOdd, paEven, paMark, paSpace };
enum TAfStopbits { sbOne, sbOneAndHalf, sbTwo };
enum TAfFlowControl { fwNone, fwXOnXOff, fwRtsCts, fwDtrDsr };
enum TAfComOption { coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coStripNull };
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Kind of a core event. ekHangUp is this system's addition: the device went
// away (adapter pulled, far side of a pseudo-terminal closed).
enum TAfCoreEvent : uint32_t { ekOutputEmpty = 0, ekCommEvents = 1, ekDataPending = 2, ekException = 3, ekHangUp = 4 };

// Line speed of each TAfBaudrate value; brUser has 0 (it takes UserBaudRate).
constexpr uint32_t kAfBaudRates[16] = {110,   300,   600,   1200,  2400,   4800,   9600,   14400,
                                        19200, 38400, 56000, 57600, 115200, 128000, 256000, 0};

// A small set over an enumeration with at most 32 members.
template <typename E>
class TAfSet {
 public:
  constexpr TAfSet() = default;
  constexpr TAfSet(std::initializer_list<E> members) {
    for (E m : members) m_bits |= Bit(m);
  }
  constexpr bool Has(E m) const { return (m_bits & Bit(m)) != 0; }
  constexpr TAfSet& Include(E m) { m_bits |= Bit(m); return *this; }
  constexpr TAfSet& Exclude(E m) { m_bits &= ~Bit(m); return *this; }
  constexpr bool Empty() const { return m_bits == 0; }
  constexpr uint32_t Bits() const { return m_bits; }
  friend constexpr bool operator==(TAfSet a, TAfSet b) { return a.m_bits == b.m_bits; }

 private:
  static constexpr uint32_t Bit(E m) { return uint32_t{1} << static_cast<unsigned>(m); }
  uint32_t m_bits = 0;
};
using TAfComOptions = TAfSet<TAfComOption>;

// The device-control block. Field order, sizes and flag bits are fixed.
struct TAfDcb {
  uint32_t DCBlength = 0;
  uint32_t BaudRate = 0;
  uint32_t Flags = 0;
  uint16_t wReserved = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 0;
  uint8_t Parity = 0;
  uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  uint16_t wReserved1 = 0;

  friend bool operator==(const TAfDcb&, const TAfDcb&) = default;
};
static_assert(sizeof(TAfDcb) == 28, "the device-control block is 28 bytes");
constexpr uint32_t kAfDcbLength = 28;

// Flag bits of TAfDcb::Flags.
namespace AfDcbFlag {
constexpr uint32_t Binary = 0x1;
constexpr uint32_t Parity = 0x2;           // check parity on input
constexpr uint32_t OutxCtsFlow = 0x4;
constexpr uint32_t OutxDsrFlow = 0x8;
constexpr uint32_t DtrControlMask = 0x30;
constexpr uint32_t DtrEnable = 0x10;
constexpr uint32_t DtrHandshake = 0x20;
constexpr uint32_t DsrSensitivity = 0x40;
constexpr uint32_t TXContinueOnXoff = 0x80;
constexpr uint32_t OutX = 0x100;
constexpr uint32_t InX = 0x200;
constexpr uint32_t ErrorChar = 0x400;
constexpr uint32_t Null = 0x800;
constexpr uint32_t RtsControlMask = 0x3000;
constexpr uint32_t RtsEnable = 0x1000;
constexpr uint32_t RtsHandshake = 0x2000;
constexpr uint32_t RtsToggle = 0x3000;
}  // namespace AfDcbFlag

// Line events (the event mask and the data of ekCommEvents).
namespace AfEvent {
constexpr uint32_t RxChar = 0x1;
constexpr uint32_t Cts = 0x8;
constexpr uint32_t Dsr = 0x10;
constexpr uint32_t Rlsd = 0x20;
constexpr uint32_t Err = 0x80;
constexpr uint32_t Ring = 0x100;
constexpr uint32_t DefaultMask = 0x1B9;
}  // namespace AfEvent

// Line-error flags (accumulated by status polls, passed to OnLineError).
namespace AfLineError {
constexpr uint32_t RxOver = 0x1;     // input queue overflowed
constexpr uint32_t Overrun = 0x2;    // hardware overrun
constexpr uint32_t RxParity = 0x4;
constexpr uint32_t Frame = 0x8;
constexpr uint32_t Break = 0x10;
}  // namespace AfLineError

// Purge directions and escape codes.
namespace AfPurge {
constexpr uint32_t TxAbort = 0x1;
constexpr uint32_t RxAbort = 0x2;
constexpr uint32_t TxClear = 0x4;
constexpr uint32_t RxClear = 0x8;
}  // namespace AfPurge
namespace AfEscape {
constexpr uint32_t SetXOff = 1;
constexpr uint32_t SetXOn = 2;
constexpr uint32_t SetRts = 3;
constexpr uint32_t ClrRts = 4;
constexpr uint32_t SetDtr = 5;
constexpr uint32_t ClrDtr = 6;
constexpr uint32_t SetBreak = 8;
constexpr uint32_t ClrBreak = 9;
}  // namespace AfEscape

// Result of a status poll: accumulated-error flags just taken from the device,
// bytes waiting in the input queue and in the driver's output queue.
struct TAfComStatus {
  uint32_t errors = 0;
  uint32_t inQueue = 0;
  uint32_t outQueue = 0;
};
