#include "FakeComPlatform.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vardelio::test {
namespace {

thread_local int lastError = 0;

std::string Args(std::initializer_list<std::uint64_t> values) {
  std::string text;
  for (std::uint64_t v : values)
    text += (text.empty() ? "" : ",") + std::to_string(v);
  return text;
}

}  // namespace

int TFakeComPlatform::LastError() const {
  return lastError;
}

std::vector<std::string> TFakeComPlatform::Calls() const {
  std::lock_guard lock(mutex_);
  return calls;
}

void TFakeComPlatform::PushEvents(std::uint32_t mask) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(mask);
  }
  changed_.notify_all();
}

std::size_t TFakeComPlatform::QueuedEvents() const {
  std::lock_guard lock(mutex_);
  return events_.size();
}

void TFakeComPlatform::DropEvents() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

std::size_t TFakeComPlatform::OpenStopSignals() const {
  std::lock_guard lock(mutex_);
  return stops_.size();
}

int TFakeComPlatform::StopsSet() const {
  std::lock_guard lock(mutex_);
  return stopsSet_;
}

void TFakeComPlatform::HoldTakenEvents(bool hold) {
  {
    std::lock_guard lock(mutex_);
    holdTaken_ = hold;
  }
  changed_.notify_all();
}

void TFakeComPlatform::FailWaits() {
  {
    std::lock_guard lock(mutex_);
    waitsFail_ = true;
  }
  changed_.notify_all();
}

TStopSignal TFakeComPlatform::CreateStopSignal() {
  std::lock_guard lock(mutex_);
  if (auto it = failures.find("CreateStopSignal"); it != failures.end()) {
    lastError = it->second;
    return kNoStopSignal;
  }
  stops_[nextStop_] = false;
  return nextStop_++;
}

void TFakeComPlatform::SetStopSignal(TStopSignal signal) {
  {
    std::lock_guard lock(mutex_);
    stops_[signal] = true;
    ++stopsSet_;
  }
  changed_.notify_all();
}

void TFakeComPlatform::CloseStopSignal(TStopSignal signal) {
  std::lock_guard lock(mutex_);
  stops_.erase(signal);
}

TWaitResult TFakeComPlatform::WaitCommEvent(TLineHandle, TStopSignal stop, std::uint32_t& mask) {
  mask = 0;
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stops_[stop] || waitsFail_ || !events_.empty(); });
  if (stops_[stop]) return TWaitResult::Stop;
  if (waitsFail_) {
    lastError = EIO;
    return TWaitResult::Failed;
  }
  mask = events_.front();
  events_.pop_front();
  busyRun_ = 0;
  changed_.wait(lock, [&] { return !holdTaken_; });
  return TWaitResult::Events;
}

bool TFakeComPlatform::TakeBusyLineEvents(TLineHandle line, std::uint32_t& mask) {
  mask = 0;
  std::lock_guard lock(mutex_);
  if (!busyLine) return false;
  if (!open || line != kHandle) {
    ++takesOffLine_;
    return false;
  }
  if (waitsFail_ || events_.empty()) return false;
  mask = events_.front();
  events_.pop_front();
  ++busyTakes_;
  longestBusyRun_ = std::max(longestBusyRun_, ++busyRun_);
  return true;
}

bool TFakeComPlatform::LineBusy(TLineHandle) {
  std::lock_guard lock(mutex_);
  return busyLine;  // a take answers whether anything waits
}

int TFakeComPlatform::LongestBusyRun() const {
  std::lock_guard lock(mutex_);
  return longestBusyRun_;
}

int TFakeComPlatform::BusyTakes() const {
  std::lock_guard lock(mutex_);
  return busyTakes_;
}

int TFakeComPlatform::TakesOffLine() const {
  std::lock_guard lock(mutex_);
  return takesOffLine_;
}

int TFakeComPlatform::Count(const std::string& call) const {
  std::lock_guard lock(mutex_);
  return int(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
    return c.compare(0, call.size() + 1, call + "(") == 0;
  }));
}

std::vector<std::string> TFakeComPlatform::Names() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const std::string& c : calls)
    names.push_back(c.substr(0, c.find('(')));
  return names;
}

bool TFakeComPlatform::Enter(const std::string& name, const std::string& args, TLineHandle line) {
  calls.push_back(name + "(" + args + ")");
  if (auto it = failures.find(name); it != failures.end()) {
    lastError = it->second;
    return false;
  }
  if (line != kHandle || !open) {
    lastError = EBADF;
    return false;
  }
  return true;
}

TLineHandle TFakeComPlatform::OpenLine(const std::string& portName) {
  std::lock_guard lock(mutex_);
  calls.push_back("OpenLine(" + portName + ")");
  if (auto it = failures.find("OpenLine"); it != failures.end()) {
    lastError = it->second;
    return kInvalidLineHandle;
  }
  open = true;
  return kHandle;
}

bool TFakeComPlatform::CloseLine(TLineHandle line) {
  std::lock_guard lock(mutex_);
  if (!Enter("CloseLine", "", line)) return false;
  open = false;
  return true;
}

bool TFakeComPlatform::SetCommState(TLineHandle line, const TDcb& newDcb) {
  std::lock_guard lock(mutex_);
  if (!Enter("SetCommState", Args({newDcb.BaudRate, newDcb.Flags}), line)) return false;
  dcb = newDcb;
  return true;
}

bool TFakeComPlatform::SetCommTimeouts(TLineHandle line, const TCommTimeouts& t) {
  std::lock_guard lock(mutex_);
  const std::string args =
      Args({t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
            t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant});
  if (!Enter("SetCommTimeouts", args, line)) return false;
  timeouts = t;
  return true;
}

bool TFakeComPlatform::SetupComm(TLineHandle line, std::uint32_t in, std::uint32_t out) {
  std::lock_guard lock(mutex_);
  return Enter("SetupComm", Args({in, out}), line);
}

bool TFakeComPlatform::SetCommMask(TLineHandle line, std::uint32_t mask) {
  std::lock_guard lock(mutex_);
  return Enter("SetCommMask", Args({mask}), line);
}

bool TFakeComPlatform::WriteFile(TLineHandle line, const void* data, std::uint32_t count,
                                 std::uint32_t& done, TOverlapped& request) {
  std::lock_guard lock(mutex_);
  done = 0;
  const std::string bytes(static_cast<const char*>(data), count);
  if (!Enter("WriteFile", bytes, line)) return false;
  written += bytes;
  done = count;
  request = {true, count, 0};
  return true;
}

bool TFakeComPlatform::ReadFile(TLineHandle line, void* data, std::uint32_t count,
                                std::uint32_t& done, TOverlapped& request) {
  std::lock_guard lock(mutex_);
  done = 0;
  if (!Enter("ReadFile", Args({count}), line)) return false;
  done = std::min<std::uint32_t>(count, std::uint32_t(input.size()));
  std::memcpy(data, input.data(), done);
  input.erase(0, done);
  request = {true, done, 0};
  return true;
}

bool TFakeComPlatform::AwaitCompletion(TLineHandle line, TOverlapped& request,
                                       std::uint32_t& transferred) {
  transferred = 0;
  std::lock_guard lock(mutex_);
  calls.push_back("AwaitCompletion()");
  (void)line;
  if (auto it = failures.find("AwaitCompletion"); it != failures.end()) {
    lastError = it->second;
    return false;
  }
  transferred = request.Transferred;
  return true;
}

bool TFakeComPlatform::PurgeComm(TLineHandle line, std::uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (!Enter("PurgeComm", Args({flags}), line)) return false;
  if (flags & PURGE_RXCLEAR) input.clear();
  return true;
}

bool TFakeComPlatform::ClearCommError(TLineHandle line, std::uint32_t& errors, TComStat& status) {
  return TakeErrors("", line, errors, status);
}

bool TFakeComPlatform::ClearCommErrorQueued(TLineHandle line, std::uint32_t& errors,
                                            TComStat& status) {
  return TakeErrors("queue", line, errors, status);
}

bool TFakeComPlatform::TakeErrors(const std::string& args, TLineHandle line, std::uint32_t& errors,
                                  TComStat& status) {
  std::lock_guard lock(mutex_);
  errors = 0;
  status = {};
  if (!Enter("ClearCommError", args, line)) return false;
  errors = std::exchange(lineErrors, 0);
  status.cbInQue = std::uint32_t(input.size());
  return true;
}

bool TFakeComPlatform::GetCommModemStatus(TLineHandle line, std::uint32_t& status) {
  std::lock_guard lock(mutex_);
  status = 0;
  if (!Enter("GetCommModemStatus", "", line)) return false;
  status = modemStatus;
  return true;
}

}  // namespace vardelio::test
