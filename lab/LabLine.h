#pragma once
// What the driver tests use beside the port: the lab's control port to the host, and a second
// descriptor on a device to read the driver's own state.

#include <cstdint>
#include <string>

namespace vardelio::lab {

// The bytes the host's far ends send and expect; every value occurs, 0x00 and 0xFF included.
std::string Pattern(std::size_t count);
std::uint32_t Crc32(const std::string& data);

// One request to the host, answered with one line ("ok ..." or "error ...").
std::string Ask(const std::string& request);
// A request that must succeed; a failed test otherwise.
void Tell(const std::string& request);
// What a far end has taken in since it was last asked: the count and the CRC-32.
struct TReceived {
  std::size_t count = 0;
  std::uint32_t crc = 0;
};
TReceived Received(const std::string& end);

// A second descriptor on the device. Opened before the port, so its own open raises no line
// the test is about to set. Root is not held back by the port's exclusive claim.
class TProbe {
 public:
  explicit TProbe(const std::string& path);
  ~TProbe();
  TProbe(const TProbe&) = delete;
  TProbe& operator=(const TProbe&) = delete;
  bool Valid() const { return fd_ >= 0; }

  struct TTermios {
    std::uint32_t iflag, cflag, ispeed, ospeed;
    std::uint8_t start, stop;
  };
  TTermios Termios() const;  // TCGETS2
  int ModemLines() const;    // TIOCMGET bits
  int OutputQueued() const;  // TIOCOUTQ
  struct TCounts {
    int rx, tx, brk, frame, parity, overrun;
  };
  TCounts Counts() const;  // TIOCGICOUNT
  // The speed a 16550's divisor latch makes it run at, read from the chip itself (through
  // /dev/port); 0 where that cannot be read.
  std::uint32_t UartRunsAt() const;

 private:
  int fd_ = -1;
};

// Waits up to `limitMs` for the device node to exist (or not).
bool WaitForNode(const std::string& path, bool present, int limitMs = 15000);
// CPU time this process has used, in milliseconds.
long CpuMs();

}  // namespace vardelio::lab
