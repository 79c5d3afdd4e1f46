// The Linux implementation of the serial seam: a table of open lines behind integer handles.

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "ComPlatform.h"
#include "LinuxLine.h"

namespace vardelio {
namespace {

thread_local int lastError = 0;

// A stop: the flag the waiter reads at no cost, and the descriptor that wakes it from poll.
struct TStopEvent {
  int fd;
  std::atomic<bool> set;
};

class TLinuxComPlatform final : public IComPlatform {
 public:
  TLineHandle OpenLine(const std::string& portName) override {
    int error = 0;
    std::shared_ptr<TLinuxLine> line = TLinuxLine::Open(portName, error);
    if (!line) {
      Fail(error);
      return kInvalidLineHandle;
    }
    std::lock_guard lock(mutex_);
    // Handles are never reused, so a stale one can only fail.
    const TLineHandle handle = nextHandle_++;
    lines_.emplace(handle, std::move(line));
    return handle;
  }

  bool CloseLine(TLineHandle handle) override {
    std::shared_ptr<TLinuxLine> line;
    {
      std::lock_guard lock(mutex_);
      auto it = lines_.find(handle);
      if (it == lines_.end()) return Fail(EBADF);
      line = std::move(it->second);
      lines_.erase(it);
    }
    return true;  // the descriptor closes with the last user
  }

  bool SetCommState(TLineHandle h, const TDcb& dcb) override {
    return Call(h, [&](TLinuxLine& l) { return l.SetState(dcb); });
  }
  bool SetCommTimeouts(TLineHandle h, const TCommTimeouts& timeouts) override {
    return Call(h, [&](TLinuxLine& l) { return l.SetTimeouts(timeouts); });
  }
  bool SetupComm(TLineHandle h, std::uint32_t in, std::uint32_t out) override {
    return Call(h, [&](TLinuxLine& l) { return l.SetQueueSizes(in, out); });
  }
  bool SetCommMask(TLineHandle h, std::uint32_t mask) override {
    return Call(h, [&](TLinuxLine& l) { return l.SetMask(mask); });
  }

  // Reads and writes end inside the call, within the line's timeouts.
  bool WriteFile(TLineHandle h, const void* data, std::uint32_t count, std::uint32_t& written,
                 TOverlapped& request) override {
    written = 0;
    return Finish(request, written, Call(h, [&](TLinuxLine& l) {
                    return l.Write(static_cast<const char*>(data), count, written);
                  }));
  }
  bool ReadFile(TLineHandle h, void* data, std::uint32_t count, std::uint32_t& read,
                TOverlapped& request) override {
    read = 0;
    return Finish(request, read, Call(h, [&](TLinuxLine& l) {
                    return l.Read(static_cast<char*>(data), count, read);
                  }));
  }
  bool AwaitCompletion(TLineHandle h, TOverlapped& request, std::uint32_t& transferred) override {
    // Like collecting a result without waiting: only the record is read.
    (void)h;
    transferred = 0;
    if (request.Error != 0) return Fail(request.Error);
    transferred = request.Transferred;
    return true;
  }

  bool PurgeComm(TLineHandle h, std::uint32_t flags) override {
    return Call(h, [&](TLinuxLine& l) { return l.Purge(flags); });
  }
  bool ClearCommError(TLineHandle h, std::uint32_t& errors, TComStat& status) override {
    errors = 0;
    status = {};
    return Call(h, [&](TLinuxLine& l) { return l.ClearErrors(errors, status, true); });
  }
  bool ClearCommErrorQueued(TLineHandle h, std::uint32_t& errors, TComStat& status) override {
    errors = 0;
    status = {};
    return Call(h, [&](TLinuxLine& l) { return l.ClearErrors(errors, status, false); });
  }
  bool GetCommModemStatus(TLineHandle h, std::uint32_t& status) override {
    status = 0;
    return Call(h, [&](TLinuxLine& l) { return l.ModemStatus(status); });
  }

  TStopSignal CreateStopSignal() override {
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
      Fail(errno);
      return kNoStopSignal;
    }
    return reinterpret_cast<TStopSignal>(new TStopEvent{fd, {false}});
  }
  void SetStopSignal(TStopSignal signal) override {
    TStopEvent& stop = *reinterpret_cast<TStopEvent*>(signal);
    stop.set.store(true, std::memory_order_release);  // before the descriptor wakes the waiter
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(stop.fd, &one, sizeof one);
  }
  void CloseStopSignal(TStopSignal signal) override {
    if (signal == kNoStopSignal) return;
    TStopEvent* stop = reinterpret_cast<TStopEvent*>(signal);
    close(stop->fd);
    delete stop;
  }
  TWaitResult WaitCommEvent(TLineHandle h, TStopSignal stopSignal, std::uint32_t& mask) override {
    mask = 0;
    std::shared_ptr<TLinuxLine> line = Find(h);
    if (!line) {
      Fail(EBADF);
      return TWaitResult::Failed;
    }
    const TStopEvent& stop = *reinterpret_cast<const TStopEvent*>(stopSignal);
    int error = 0;
    const TWaitResult result = line->WaitEvents(stop.fd, stop.set, mask, error);
    if (result == TWaitResult::Failed) Fail(error);
    return result;
  }

  bool TakeBusyLineEvents(TLineHandle h, std::uint32_t& mask) override {
    mask = 0;
    const std::shared_ptr<TLinuxLine> line = Find(h);
    return line && line->TakeBusyEvents(mask);
  }

  bool LineBusy(TLineHandle h) override {
    const std::shared_ptr<TLinuxLine> line = Find(h);
    return line && line->Busy();
  }

  int LastError() const override { return lastError; }

 private:
  static bool Fail(int error) {
    lastError = error;
    return false;
  }

  std::shared_ptr<TLinuxLine> Find(TLineHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = lines_.find(handle);
    return it == lines_.end() ? nullptr : it->second;
  }

  template <typename F>
  bool Call(TLineHandle handle, F&& operation) {
    std::shared_ptr<TLinuxLine> line = Find(handle);
    if (!line) return Fail(EBADF);
    const int error = operation(*line);
    return error == 0 ? true : Fail(error);
  }

  static bool Finish(TOverlapped& request, std::uint32_t count, bool ok) {
    request.Completed = true;
    request.Transferred = ok ? count : 0;
    request.Error = ok ? 0 : lastError;
    return ok;
  }

  std::mutex mutex_;
  std::unordered_map<TLineHandle, std::shared_ptr<TLinuxLine>> lines_;
  TLineHandle nextHandle_ = 1;
};

}  // namespace

IComPlatform& SystemComPlatform() {
  static TLinuxComPlatform platform;
  return platform;
}

}  // namespace vardelio
