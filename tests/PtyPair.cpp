#include "PtyPair.h"

#include "PseudoTerminal.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace vardelio::test {

TPtyPair::TPtyPair() {
  master_ = OpenPseudoTerminal(path_);
  if (master_ < 0) throw std::runtime_error("no pseudo-terminal");
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

TPtyPair::~TPtyPair() {
  HangUp();
}

void TPtyPair::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(master_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(std::size_t(n));
    } else {
      pollfd fd{master_, POLLOUT, 0};
      if (poll(&fd, 1, 2000) <= 0) throw std::runtime_error("device cannot send");
    }
  }
}

std::string TPtyPair::Receive(std::size_t atLeast, int waitMs) {
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (received.size() < atLeast || atLeast == 0) {
    char chunk[4096];
    const ssize_t n = read(master_, chunk, sizeof chunk);
    if (n > 0) {
      received.append(chunk, std::size_t(n));
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fd{master_, POLLIN, 0};
    if (left.count() <= 0 || poll(&fd, 1, int(left.count())) <= 0) break;
  }
  return received;
}

void TPtyPair::HangUp() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

unsigned TPtyPair::Speed() const {
  termios2 t{};
  ioctl(master_, TCGETS2, &t);
  return t.c_ospeed;
}

bool TPtyPair::TwoStopBits() const {
  termios2 t{};
  ioctl(master_, TCGETS2, &t);
  return (t.c_cflag & CSTOPB) != 0;
}

}  // namespace vardelio::test
