#pragma once
// The device-control record as terminal attributes. Kept free of the kernel's termios header,
// which clashes with the C library's.

#include <cstdint>

#include "ComPlatform.h"

namespace vardelio {

// The kernel's termios2, field for field.
struct TTermAttrs {
  std::uint32_t iflag = 0;
  std::uint32_t oflag = 0;
  std::uint32_t cflag = 0;
  std::uint32_t lflag = 0;
  std::uint8_t line = 0;
  std::uint8_t cc[19] = {};
  std::uint32_t ispeed = 0;
  std::uint32_t ospeed = 0;
};

// Raw terminal attributes for the record: any speed, marked input errors, a read that waits
// for one byte. False for a record the line cannot carry (speed 0, unknown sizes, 1.5 stop
// bits with more than 5 data bits).
bool TermAttrsFromDcb(const TDcb& dcb, TTermAttrs& attrs);
// For a line that never has line errors (a pseudo-terminal): without marking and parity
// checking the kernel passes input on in one copy instead of byte by byte.
void LeaveInputUnmarked(TTermAttrs& attrs);

// Whether the line took the attributes. A pseudo-terminal forces 8 data bits and no parity,
// and drivers round the speed a little.
bool LineTookAttrs(const TTermAttrs& wanted, const TTermAttrs& actual, bool pseudoTerminal);

// The driver's RS-485 flags for an RTS mode: toggle has the driver raise RTS while it sends
// and drop it after; any other mode hands RTS back to the port. Other flags stay.
std::uint32_t Rs485Flags(std::uint32_t current, bool rtsToggle);
// Applies the RTS mode to a driver with RS-485 support; drivers without it are left alone.
void ApplyRtsToggle(int fd, bool rtsToggle);

bool ReadTermAttrs(int fd, TTermAttrs& attrs);
bool WriteTermAttrs(int fd, const TTermAttrs& attrs);

}  // namespace vardelio
