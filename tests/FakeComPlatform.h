#pragma once
// Records every platform call with its arguments; any call can be told to fail with a code.
// Safe to call from the event thread; waits for line events play back what a test pushes.

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "serial/platform/ComPlatform.h"

namespace vardelio::test {

class TFakeComPlatform : public IComPlatform {
 public:
  static constexpr TLineHandle kHandle = 42;

  std::vector<std::string> calls;       // "SetupComm(4096,1024)"
  std::map<std::string, int> failures;  // call name -> system code, until erased
  std::string written;                  // what writes delivered
  std::string input;                    // what the line has received and not yet given out
  std::uint32_t lineErrors = 0;
  std::uint32_t modemStatus = 0;
  TDcb dcb;
  TCommTimeouts timeouts;
  bool open = false;
  bool busyLine = false;  // the main thread may take queued events itself (set before opening)

  void Fail(const std::string& call, int code) { failures[call] = code; }
  int Count(const std::string& call) const;
  // A copy of the calls, for reading while an event thread runs.
  std::vector<std::string> Calls() const;
  // Events for the next wait; FailWaits() makes waits fail as a vanished line's do.
  void PushEvents(std::uint32_t mask);
  // Pushed events that no wait has taken yet, and dropping them.
  std::size_t QueuedEvents() const;
  void DropEvents();
  // Stop signals created and not closed yet, and how often one was set.
  std::size_t OpenStopSignals() const;
  int StopsSet() const;
  // While held, a wait that has taken its events does not return them yet.
  void HoldTakenEvents(bool hold);
  void FailWaits();
  // Runs `change` on the fake's state under its lock.
  template <typename F>
  void Locked(F&& change) {
    std::lock_guard lock(mutex_);
    change();
  }
  // The names of the calls, without their arguments.
  std::vector<std::string> Names() const;

  TLineHandle OpenLine(const std::string& portName) override;
  bool CloseLine(TLineHandle line) override;
  bool SetCommState(TLineHandle line, const TDcb& dcb) override;
  bool SetCommTimeouts(TLineHandle line, const TCommTimeouts& timeouts) override;
  bool SetupComm(TLineHandle line, std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool SetCommMask(TLineHandle line, std::uint32_t mask) override;
  bool WriteFile(TLineHandle line, const void* data, std::uint32_t count, std::uint32_t& written,
                 TOverlapped& request) override;
  bool ReadFile(TLineHandle line, void* data, std::uint32_t count, std::uint32_t& read,
                TOverlapped& request) override;
  bool AwaitCompletion(TLineHandle line, TOverlapped& request, std::uint32_t& transferred) override;
  bool PurgeComm(TLineHandle line, std::uint32_t flags) override;
  bool ClearCommError(TLineHandle line, std::uint32_t& errors, TComStat& status) override;
  // Logged as "ClearCommError(queue)".
  bool ClearCommErrorQueued(TLineHandle line, std::uint32_t& errors, TComStat& status) override;
  bool GetCommModemStatus(TLineHandle line, std::uint32_t& status) override;
  TStopSignal CreateStopSignal() override;
  void SetStopSignal(TStopSignal signal) override;
  void CloseStopSignal(TStopSignal signal) override;
  TWaitResult WaitCommEvent(TLineHandle line, TStopSignal stop, std::uint32_t& mask) override;
  bool TakeBusyLineEvents(TLineHandle line, std::uint32_t& mask) override;
  bool LineBusy(TLineHandle line) override;
  // Events taken so, the most taken so between two waits, and takes asked for while the line
  // was not open.
  int BusyTakes() const;
  int LongestBusyRun() const;
  int TakesOffLine() const;
  int LastError() const override;

 private:
  // Logs the call; false (with the error set) when it is to fail or the handle is not ours.
  // The caller holds mutex_.
  bool Enter(const std::string& name, const std::string& args, TLineHandle line);
  bool TakeErrors(const std::string& args, TLineHandle line, std::uint32_t& errors,
                  TComStat& status);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::uint32_t> events_;
  std::map<TStopSignal, bool> stops_;
  TStopSignal nextStop_ = 100;
  bool waitsFail_ = false;
  bool holdTaken_ = false;
  int stopsSet_ = 0;
  int busyTakes_ = 0;
  int busyRun_ = 0, longestBusyRun_ = 0;
  int takesOffLine_ = 0;
};

}  // namespace vardelio::test
