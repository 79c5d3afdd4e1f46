#include "LinuxTermios.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cstdlib>
#include <cstring>

namespace vardelio {
namespace {

static_assert(sizeof(TTermAttrs) == sizeof(termios2));
static_assert(sizeof(TTermAttrs::cc) == NCCS);

constexpr std::uint32_t kSizes[] = {CS5, CS6, CS7, CS8};
// none, odd, even, mark, space
constexpr std::uint32_t kParities[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                       PARENB | CMSPAR};
constexpr std::uint32_t kFramingBits = CSIZE | PARENB | PARODD | CMSPAR;
constexpr std::uint32_t kCheckedCflag = kFramingBits | CSTOPB | CRTSCTS | CLOCAL | CREAD;
constexpr std::uint32_t kCheckedIflag = INPCK | PARMRK | IXON | IXOFF;

bool StopBitsValid(const TDcb& dcb) {
  if (dcb.StopBits > 2) return false;
  // The line's second stop bit is one and a half bits long with 5 data bits.
  if (dcb.StopBits == 1) return dcb.ByteSize == 5;
  if (dcb.StopBits == 2) return dcb.ByteSize != 5;
  return true;
}

}  // namespace

bool TermAttrsFromDcb(const TDcb& dcb, TTermAttrs& attrs) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 ||
      !StopBitsValid(dcb)) {
    return false;
  }
  attrs = TTermAttrs{};
  // Bytes with errors and breaks arrive marked, so the port can report and replace them.
  attrs.iflag = PARMRK;
  if (dcb.Flags & dcb::fParity) attrs.iflag |= INPCK;
  if (dcb.Flags & dcb::fOutX) attrs.iflag |= IXON;
  if (dcb.Flags & dcb::fInX) attrs.iflag |= IXOFF;
  // CLOCAL always: without it a carrier drop would hang the line up.
  attrs.cflag = CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
  attrs.cflag |= kSizes[dcb.ByteSize - 5] | kParities[dcb.Parity];
  if (dcb.StopBits != 0) attrs.cflag |= CSTOPB;
  if ((dcb.Flags & dcb::fOutxCtsFlow) || dcb::RtsControl(dcb.Flags) == 2) attrs.cflag |= CRTSCTS;
  attrs.cc[VMIN] = 1;
  attrs.cc[VTIME] = 0;
  attrs.cc[VSTART] = static_cast<std::uint8_t>(dcb.XonChar);
  attrs.cc[VSTOP] = static_cast<std::uint8_t>(dcb.XoffChar);
  attrs.ispeed = attrs.ospeed = dcb.BaudRate;
  return true;
}

void LeaveInputUnmarked(TTermAttrs& attrs) {
  attrs.iflag &= ~std::uint32_t(PARMRK | INPCK);
}

bool LineTookAttrs(const TTermAttrs& wanted, const TTermAttrs& actual, bool pseudoTerminal) {
  const std::uint32_t cflagMask = pseudoTerminal ? kCheckedCflag & ~kFramingBits : kCheckedCflag;
  if ((wanted.cflag & cflagMask) != (actual.cflag & cflagMask)) return false;
  if ((wanted.iflag & kCheckedIflag) != (actual.iflag & kCheckedIflag)) return false;
  // Drivers pick the nearest speed their clock allows.
  const long long difference = std::llabs((long long)wanted.ospeed - (long long)actual.ospeed);
  return difference * 100 <= (long long)wanted.ospeed * 3;
}

bool ReadTermAttrs(int fd, TTermAttrs& attrs) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  std::memcpy(static_cast<void*>(&attrs), &t, sizeof t);
  return true;
}

bool WriteTermAttrs(int fd, const TTermAttrs& attrs) {
  termios2 t{};
  std::memcpy(&t, &attrs, sizeof t);
  return ioctl(fd, TCSETS2, &t) == 0;
}

std::uint32_t Rs485Flags(std::uint32_t current, bool rtsToggle) {
  constexpr std::uint32_t kToggle = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  if (!rtsToggle) return current & ~std::uint32_t(SER_RS485_ENABLED);
  return (current | kToggle) & ~std::uint32_t(SER_RS485_RTS_AFTER_SEND);
}

void ApplyRtsToggle(int fd, bool rtsToggle) {
  serial_rs485 config{};
  if (ioctl(fd, TIOCGRS485, &config) != 0) return;  // no RS-485 support: nothing to toggle with
  const std::uint32_t flags = Rs485Flags(config.flags, rtsToggle);
  if (flags == config.flags) return;
  config.flags = flags;
  ioctl(fd, TIOCSRS485, &config);
}

}  // namespace vardelio
