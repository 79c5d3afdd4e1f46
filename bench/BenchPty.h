#pragma once
// A pseudo-terminal whose master side plays the unit for the benchmark.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "PseudoTerminal.h"

namespace vardelio::bench {

class TBenchPty {
 public:
  TBenchPty() {
    master_ = OpenPseudoTerminal(path_);
    if (master_ < 0) throw std::runtime_error("no pseudo-terminal");
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~TBenchPty() { HangUp(); }
  const std::string& Path() const { return path_; }

  // Blocks (in poll) while the terminal is full.
  void Send(const char* data, std::size_t size) const {
    while (size > 0) {
      const ssize_t n = write(master_, data, size);
      if (n > 0) {
        data += n;
        size -= std::size_t(n);
      } else {
        pollfd fd{master_, POLLOUT, 0};
        poll(&fd, 1, 1000);
      }
    }
  }
  // What the terminal takes now, without waiting; 0 when it is full.
  std::size_t TrySend(const char* data, std::size_t size) const {
    const ssize_t n = write(master_, data, size);
    return n > 0 ? std::size_t(n) : 0;
  }
  void HangUp() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string path_;
};

// "S000123Z": the framing of the unit's replies with a sequence number as payload.
inline std::string Packet(int sequence) {
  char text[16];
  std::snprintf(text, sizeof text, "S%06dZ", sequence);
  return text;
}

}  // namespace vardelio::bench
