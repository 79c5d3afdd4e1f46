#pragma once
// One open serial line on Linux: the descriptor, our own input queue, and the timeout rules.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ComPlatform.h"
#include "InputDecoder.h"
#include "LineCounters.h"
#include "LinuxModemWatch.h"

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
  // `fromTerminal`: the input count takes in what the terminal holds first.
  int ClearErrors(std::uint32_t& errors, TComStat& status, bool fromTerminal);
  int ModemStatus(std::uint32_t& status);
  // Sleeps until an event of the mask, the stop descriptor, or a failed line (error set).
  // `stopping` is set before the stop descriptor is signalled.
  TWaitResult WaitEvents(int stopFd, const std::atomic<bool>& stopping, std::uint32_t& mask,
                         int& error);
  // Without sleeping: after a long read (1 KiB or more), what the terminal holds now, and
  // the events latched. Taken as a wait would take them; false when there are none.
  bool TakeBusyEvents(std::uint32_t& mask);
  bool Busy();

 private:
  using Clock = std::chrono::steady_clock;
  TLinuxLine(int fd, int wake, int eventWake, bool pseudoTerminal);

  // The last read was long and the line is still there; caller holds mutex_.
  bool BusyLocked() const { return lastReadLong_ && !hungUp_; }
  // Moves what the terminal holds into the input queue; caller holds mutex_.
  void DrainLocked();
  void Append(const TDecoded& decoded);
  void MarkHungUpLocked();
  int CheckAlive();
  std::uint32_t TakeLocked(char* data, std::uint32_t count);
  std::size_t QueueRoomLocked() const;
  // Runs a change that may make room in the queue; caller holds mutex_.
  template <typename Change>
  void MakeRoomLocked(Change change);
  // Sleeps until the descriptor is ready, the deadline passes or something wakes us.
  // Returns false when the deadline passed.
  bool WaitReady(short events, const Clock::time_point* deadline);
  void Wake();
  void SetModemLines(const TDcb& dcb);
  // Records events of the mask for the waiter and wakes it; caller holds mutex_.
  void LatchLocked(std::uint32_t events);
  void WakeWaiterLocked();
  void WakeEvents();
  // Transmit-empty once the terminal's output queue has drained; sets when to look again.
  void CheckTxEmptyLocked(std::optional<Clock::time_point>& recheck);
  // The errors of a read, told apart by the driver's counters where it keeps them.
  std::uint32_t ClassifyLocked(std::uint32_t marked);

  const int fd_;
  const int wake_;       // eventfd: aborts of reads and writes
  const int eventWake_;  // eventfd: something for the event waiter
  const bool pseudoTerminal_;

  std::mutex mutex_;
  std::string queue_;
  std::uint32_t queueCapacity_ = 4096;
  bool lastReadLong_ = false;  // the terminal may hold more than the last drain took
  std::uint32_t errors_ = 0;
  bool hungUp_ = false;
  TInputDecoder decoder_;
  TCommTimeouts timeouts_;
  std::uint32_t mask_ = 0;
  std::uint32_t pendingEvents_ = 0;
  bool txPending_ = false;
  bool waiterBlocked_ = false;      // the event waiter sleeps in poll and needs waking
  std::uint32_t txLastQueued_ = 0;  // output queued at the last look
  std::uint64_t txRecheckMs_ = 0;
  std::uint32_t baudRate_ = 9600;
  bool countsErrors_ = true;  // until the driver says it keeps no counters
  TLineCounts counts_;        // as at the last read; at open, the baseline
  bool parityChecked_ = false;
  TModemWatch modemWatch_;

  std::atomic<std::uint64_t> readAborts_{0};
  std::atomic<std::uint64_t> writeAborts_{0};
};

}  // namespace vardelio
