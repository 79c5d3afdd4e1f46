#pragma once
// One open serial line on Linux: the descriptor, our own input queue, and the timeout rules.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ComPlatform.h"
#include "InputDecoder.h"

namespace vardelio {

// Methods return 0 or the system error code (errno).
class TLinuxLine {
 public:
  static std::shared_ptr<TLinuxLine> Open(const std::string& portName, int& error);
  ~TLinuxLine();
  TLinuxLine(const TLinuxLine&) = delete;
  TLinuxLine& operator=(const TLinuxLine&) = delete;

  int SetState(const TDcb& dcb);
  int SetTimeouts(const TCommTimeouts& timeouts);
  int SetQueueSizes(std::uint32_t inQueue, std::uint32_t outQueue);
  int SetMask(std::uint32_t mask);
  int Write(const char* data, std::uint32_t count, std::uint32_t& written);
  int Read(char* data, std::uint32_t count, std::uint32_t& read);
  int Purge(std::uint32_t flags);
  int ClearErrors(std::uint32_t& errors, TComStat& status);
  int ModemStatus(std::uint32_t& status);

 private:
  using Clock = std::chrono::steady_clock;
  TLinuxLine(int fd, int wake, bool pseudoTerminal);

  // Moves what the terminal holds into the input queue; caller holds mutex_.
  void DrainLocked();
  void Append(const TDecoded& decoded);
  void MarkHungUpLocked();
  int CheckAlive();
  std::uint32_t TakeLocked(char* data, std::uint32_t count);
  // Sleeps until the descriptor is ready, the deadline passes or something wakes us.
  // Returns false when the deadline passed.
  bool WaitReady(short events, const Clock::time_point* deadline);
  void Wake();
  void SetModemLines(const TDcb& dcb);

  const int fd_;
  const int wake_;  // eventfd: aborts and close
  const bool pseudoTerminal_;

  std::mutex mutex_;
  std::string queue_;
  std::uint32_t queueCapacity_ = 4096;
  std::uint32_t errors_ = 0;
  bool hungUp_ = false;
  bool finalStateReported_ = false;
  TInputDecoder decoder_;
  TCommTimeouts timeouts_;
  std::uint32_t mask_ = 0;

  std::atomic<std::uint64_t> readAborts_{0};
  std::atomic<std::uint64_t> writeAborts_{0};
};

}  // namespace vardelio
