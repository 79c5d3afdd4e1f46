#pragma once
// Appends what crosses a serial line to a file from a writer thread of its own, so that the
// line never waits for the disk and memory stays bounded.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vardelio {

using TTraceClock = std::chrono::system_clock;

// "2026-12-08 05:49:49.123": local time to the millisecond.
std::string TraceTimestamp(TTraceClock::time_point at);
// "53 4F 4B 5A  |SOKZ|": hex, then the bytes with those outside printable ASCII as ".".
std::string TraceBytes(std::string_view bytes);

class TLineTrace {
 public:
  // Told once, on the writer thread, when the file takes no more (a full disk, a size limit);
  // nothing is traced after it. It runs under the trace's lock, so it must not call the trace:
  // what it posts to another thread is then seen there after Failed() turned true, an order
  // ThreadSanitizer can see, as it cannot see inside Qt's event queue.
  using TFailure = std::function<void()>;
  static constexpr std::size_t kDefaultQueueBytes = std::size_t(1) << 20;

  // Opens `path` for appending, creating it (for its owner only); throws std::system_error
  // when it cannot, or when it is neither a regular file nor a pipe.
  TLineTrace(const std::string& path, TFailure onFailure,
             std::size_t queueBytes = kDefaultQueueBytes);
  // Writes out what is queued, then closes the file; a pipe that takes nothing for a second is
  // given up on, and the rest is dropped.
  ~TLineTrace();
  TLineTrace(const TLineTrace&) = delete;
  TLineTrace& operator=(const TLineTrace&) = delete;

  // These only copy into the queue. When it is full the entry is dropped and counted, and
  // the next entry that fits is preceded by a line that says how much was lost.
  void Sent(const void* data, std::size_t count);
  void Received(const void* data, std::size_t count);
  // A line such as "OPEN ttyS0 9600 baud" or "ERROR ...".
  void Note(std::string_view kind, std::string_view text);

  // Waits until everything queued so far is written, or the trace has failed.
  void Flush();

  const std::string& Path() const { return path_; }
  bool Failed() const;
  // The system's error code of the write that failed; 0 while none has.
  int FailureCode() const;

 private:
  struct TEntry {
    TTraceClock::time_point at;
    std::string kind;
    std::string text;
    bool data = false;
  };
  void Push(TEntry entry);
  static std::size_t Cost(const TEntry& entry);
  TEntry LostNote(TTraceClock::time_point at) const;  // under the lock
  static std::string Format(const TEntry& entry);
  void Run();
  void WriteQueued();
  int WriteAll(const std::string& text) const;

  const std::string path_;
  const TFailure onFailure_;
  const std::size_t capacity_;
  int fd_ = -1;
  int stopWake_ = -1;  // eventfd: the end of the trace gives up on a file that takes nothing
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable written_;
  std::vector<TEntry> queue_;
  std::size_t queued_ = 0;  // the cost of the queue and of the batch being written
  std::uint64_t lostBytes_ = 0;
  std::uint64_t lostLines_ = 0;
  bool stopping_ = false;
  bool failed_ = false;
  bool finished_ = false;  // the writer has nothing more to do
  int failureCode_ = 0;
  std::thread writer_;
};

}  // namespace vardelio
