#pragma once
// The narrow seam between the port component and the operating system's serial calls.

#include <cstdint>
#include <string>

namespace vardelio {

using TLineHandle = std::intptr_t;
inline constexpr TLineHandle kInvalidLineHandle = -1;

// The device-control record, 28 bytes, field for field.
struct TDcb {
  std::uint32_t DCBlength = 0;
  std::uint32_t BaudRate = 0;
  std::uint32_t Flags = 0;
  std::uint16_t wReserved = 0;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  std::uint16_t wReserved1 = 0;
};
static_assert(sizeof(TDcb) == 28);

// Bits and fields of TDcb::Flags.
namespace dcb {
inline constexpr std::uint32_t fBinary = 1u << 0;
inline constexpr std::uint32_t fParity = 1u << 1;
inline constexpr std::uint32_t fOutxCtsFlow = 1u << 2;
inline constexpr std::uint32_t fOutxDsrFlow = 1u << 3;
inline constexpr int kDtrControlShift = 4;  // two bits
inline constexpr std::uint32_t fDsrSensitivity = 1u << 6;
inline constexpr std::uint32_t fTXContinueOnXoff = 1u << 7;
inline constexpr std::uint32_t fOutX = 1u << 8;
inline constexpr std::uint32_t fInX = 1u << 9;
inline constexpr std::uint32_t fErrorChar = 1u << 10;
inline constexpr std::uint32_t fNull = 1u << 11;
inline constexpr int kRtsControlShift = 12;  // two bits
inline constexpr std::uint32_t fAbortOnError = 1u << 14;
inline constexpr unsigned DtrControl(std::uint32_t flags) {
  return (flags >> kDtrControlShift) & 3u;
}
inline constexpr unsigned RtsControl(std::uint32_t flags) {
  return (flags >> kRtsControlShift) & 3u;
}
}  // namespace dcb

struct TCommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
};
inline constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

struct TComStat {
  std::uint32_t cbInQue = 0;
  std::uint32_t cbOutQue = 0;
};

// One read or write: complete with its count, or failed with its system code.
// A record on which nothing was started counts as complete with 0 bytes.
struct TOverlapped {
  bool Completed = true;
  std::uint32_t Transferred = 0;
  int Error = 0;
};

inline constexpr std::uint32_t PURGE_TXABORT = 0x1;
inline constexpr std::uint32_t PURGE_RXABORT = 0x2;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x4;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x8;

inline constexpr std::uint32_t CE_RXOVER = 0x1;
inline constexpr std::uint32_t CE_OVERRUN = 0x2;
inline constexpr std::uint32_t CE_RXPARITY = 0x4;
inline constexpr std::uint32_t CE_FRAME = 0x8;
inline constexpr std::uint32_t CE_BREAK = 0x10;
inline constexpr std::uint32_t CE_TXFULL = 0x100;
inline constexpr std::uint32_t CE_IOE = 0x400;
inline constexpr std::uint32_t CE_MODE = 0x8000;

inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
inline constexpr std::uint32_t EV_RX80FULL = 0x0400;

inline constexpr std::uint32_t MS_CTS_ON = 0x10;
inline constexpr std::uint32_t MS_DSR_ON = 0x20;
inline constexpr std::uint32_t MS_RING_ON = 0x40;
inline constexpr std::uint32_t MS_RLSD_ON = 0x80;

using TStopSignal = std::intptr_t;
inline constexpr TStopSignal kNoStopSignal = -1;

enum class TWaitResult { Events, Stop, Failed };

// Every call returns false on failure and leaves the system code for LastError(),
// which is kept per thread.
class IComPlatform {
 public:
  virtual ~IComPlatform() = default;

  // Opens the named line for exclusive use; kInvalidLineHandle on failure.
  virtual TLineHandle OpenLine(const std::string& portName) = 0;
  virtual bool CloseLine(TLineHandle line) = 0;
  virtual bool SetCommState(TLineHandle line, const TDcb& dcb) = 0;
  virtual bool SetCommTimeouts(TLineHandle line, const TCommTimeouts& timeouts) = 0;
  virtual bool SetupComm(TLineHandle line, std::uint32_t inQueue, std::uint32_t outQueue) = 0;
  virtual bool SetCommMask(TLineHandle line, std::uint32_t mask) = 0;
  virtual bool WriteFile(TLineHandle line, const void* data, std::uint32_t count,
                         std::uint32_t& written, TOverlapped& request) = 0;
  virtual bool ReadFile(TLineHandle line, void* data, std::uint32_t count, std::uint32_t& read,
                        TOverlapped& request) = 0;
  // Waits for the request to end and gives its count.
  virtual bool AwaitCompletion(TLineHandle line, TOverlapped& request,
                               std::uint32_t& transferred) = 0;
  virtual bool PurgeComm(TLineHandle line, std::uint32_t flags) = 0;
  // Gives and clears the latched line errors, and the queue counts as they stand: the input
  // count includes what the terminal holds now.
  virtual bool ClearCommError(TLineHandle line, std::uint32_t& errors, TComStat& status) = 0;
  // The same for our own code right after it has looked at the terminal (the count that opens
  // a delivery, a read's completion): the input count is the layer's queue alone. What the
  // terminal holds meanwhile is counted by the next ClearCommError or delivered next round.
  virtual bool ClearCommErrorQueued(TLineHandle line, std::uint32_t& errors, TComStat& status) = 0;
  virtual bool GetCommModemStatus(TLineHandle line, std::uint32_t& status) = 0;

  // A one-way signal that ends a wait for line events; set from any thread.
  virtual TStopSignal CreateStopSignal() = 0;
  virtual void SetStopSignal(TStopSignal signal) = 0;
  virtual void CloseStopSignal(TStopSignal signal) = 0;
  // Sleeps until an event of the mask set with SetCommMask happens (mask: what happened),
  // the stop signal is set (Stop wins when both are), or the line fails (Failed).
  virtual TWaitResult WaitCommEvent(TLineHandle line, TStopSignal stop, std::uint32_t& mask) = 0;
  // Without sleeping, on a line so busy that its last read was long: the events a
  // wait would give now (none: false). So a busy stream is taken in turn without a wake-up.
  virtual bool TakeBusyLineEvents(TLineHandle /*line*/, std::uint32_t& mask) {
    mask = 0;
    return false;
  }
  // Whether such a take may give something: the last read was long.
  virtual bool LineBusy(TLineHandle /*line*/) { return false; }

  virtual int LastError() const = 0;
};

// The operating system's own implementation, shared by every port.
IComPlatform& SystemComPlatform();

}  // namespace vardelio
