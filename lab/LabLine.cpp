#include "LabLine.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include <gtest/gtest.h>

namespace vardelio::lab {

std::string Pattern(std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = char((i * 131 + 7) & 0xFF);
  return bytes;
}

std::uint32_t Crc32(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

namespace {

int ControlPort() {
  static const int fd = [] {
    const char* path = std::getenv("LAB_CONTROL");
    return path ? open(path, O_RDWR | O_CLOEXEC) : -1;
  }();
  return fd;
}

}  // namespace

std::string Ask(const std::string& request) {
  const int fd = ControlPort();
  if (fd < 0) return "error no control port";
  const std::string line = request + "\n";
  if (write(fd, line.data(), line.size()) != ssize_t(line.size())) return "error write";
  std::string answer;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n')
    answer += c;
  return answer;
}

void Tell(const std::string& request) {
  const std::string answer = Ask(request);
  EXPECT_EQ(answer.substr(0, 2), "ok") << request << ": " << answer;
}

TReceived Received(const std::string& end) {
  const std::string answer = Ask("got " + end);
  TReceived received;
  char* rest = nullptr;
  if (answer.rfind("ok ", 0) != 0) {
    ADD_FAILURE() << answer;
    return received;
  }
  received.count = std::strtoul(answer.c_str() + 3, &rest, 10);
  received.crc = std::uint32_t(std::strtoul(rest, nullptr, 16));
  return received;
}

TProbe::TProbe(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}

TProbe::~TProbe() {
  if (fd_ >= 0) close(fd_);
}

TProbe::TTermios TProbe::Termios() const {
  termios2 t{};
  ioctl(fd_, TCGETS2, &t);
  return {t.c_iflag, t.c_cflag, t.c_ispeed, t.c_ospeed, t.c_cc[VSTART], t.c_cc[VSTOP]};
}

int TProbe::ModemLines() const {
  int lines = 0;
  return ioctl(fd_, TIOCMGET, &lines) == 0 ? lines : -1;
}

int TProbe::OutputQueued() const {
  int queued = 0;
  return ioctl(fd_, TIOCOUTQ, &queued) == 0 ? queued : -1;
}

TProbe::TCounts TProbe::Counts() const {
  serial_icounter_struct c{};
  if (ioctl(fd_, TIOCGICOUNT, &c) != 0) return {-1, -1, -1, -1, -1, -1};
  return {c.rx, c.tx, c.brk, c.frame, c.parity, c.overrun};
}

std::uint32_t TProbe::UartRunsAt() const {
  serial_struct serial{};
  if (ioctl(fd_, TIOCGSERIAL, &serial) != 0 || serial.port == 0 || serial.baud_base <= 0) return 0;
  const int ports = open("/dev/port", O_RDWR | O_CLOEXEC);
  if (ports < 0) return 0;
  const off_t base = off_t(serial.port);
  unsigned char lcr = 0, low = 0, high = 0;
  bool read = pread(ports, &lcr, 1, base + 3) == 1;
  const unsigned char latch = lcr | 0x80;  // the divisor latch in place of the data registers
  read = read && pwrite(ports, &latch, 1, base + 3) == 1;
  read = read && pread(ports, &low, 1, base) == 1 && pread(ports, &high, 1, base + 1) == 1;
  read = pwrite(ports, &lcr, 1, base + 3) == 1 && read;
  close(ports);
  const unsigned divisor = unsigned(high) << 8 | low;
  return read && divisor != 0 ? std::uint32_t(serial.baud_base) / divisor : 0;
}

bool WaitForNode(const std::string& path, bool present, int limitMs) {
  for (int waited = 0; waited < limitMs; waited += 20) {
    struct stat st {};
    if ((stat(path.c_str(), &st) == 0) == present) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

long CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1000 + t.tv_nsec / 1'000'000;
}

}  // namespace vardelio::lab
