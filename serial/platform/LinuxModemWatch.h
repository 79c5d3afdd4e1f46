#pragma once
// Waits in the kernel for modem-line changes, on a thread of its own, where the driver can.

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace vardelio {

class TModemWatch {
 public:
  // Receives EV_CTS, EV_DSR, EV_RLSD and EV_RING bits for the lines that changed.
  using TNotify = std::function<void(std::uint32_t events)>;

  ~TModemWatch() { Stop(); }
  // Starts only where the driver counts line changes (not on a pseudo-terminal); asks once.
  bool Start(int fd, TNotify notify);
  // Wakes the thread out of the kernel and waits for it.
  void Stop();

 private:
  void Run(int fd);

  TNotify notify_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> exited_{false};
  bool probed_ = false;
  bool capable_ = false;
};

}  // namespace vardelio
