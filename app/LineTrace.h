#pragma once
// Appends what crosses a serial line to a file from a writer thread of its own, so that the
// line never waits for the disk, the window never waits for the writer, and memory stays
// bounded.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace vardelio {

using TTraceClock = std::chrono::system_clock;

// "2026-12-08 05:49:49.123": local time to the millisecond.
std::string TraceTimestamp(TTraceClock::time_point at);
// "53 4F 4B 5A  |SOKZ|": hex, then the bytes with those outside printable ASCII as ".".
std::string TraceBytes(std::string_view bytes);
// A note as one line of UTF-8: text that is not UTF-8 is taken as Windows-1252 (the port's
// messages), and a line break shows as " / ".
std::string TraceNoteText(std::string_view text);

class TLineTrace {
 public:
  // Told once, on the writer thread, when the file takes no more (a full disk, a size limit);
  // nothing is traced after it. It runs under the trace's lock, so it must not call the trace:
  // what it posts to another thread is then seen there after Failed() turned true, an order
  // ThreadSanitizer can see, as it cannot see inside Qt's event queue. Never told once the
  // trace is destroyed.
  using TFailure = std::function<void()>;
  // How the writer writes to the file: write(2) unless a test holds it.
  using TWrite = std::function<ssize_t(int fd, const void* data, std::size_t count)>;
  static constexpr std::size_t kDefaultQueueBytes = std::size_t(1) << 20;
  // Bytes one way, each less than this after the one before, are a burst: one line.
  static constexpr std::chrono::milliseconds kBurstGap{50};
  static constexpr std::size_t kLongestBurst = 256;  // bytes on one line at most
  // How long the end of a trace waits for the writer.
  static constexpr std::chrono::milliseconds kStopWait{1000};

  // Opens `path` for appending by the rules for the files the program writes (kTraceRules:
  // a regular file or a pipe, nobody else's, that nobody else can read; created for its owner
  // alone). Raises EProfileError (EFileRefused for what the rules refuse).
  TLineTrace(const std::string& path, TFailure onFailure,
             std::size_t queueBytes = kDefaultQueueBytes, TWrite write = {});
  // Waits for the queue to be written, a second at most, whatever the file is on. A writer
  // still busy then is left to finish or fail on its own (it owns what it touches): what it
  // had not taken is dropped, and told in a LOST line if the file takes one later.
  ~TLineTrace();
  TLineTrace(const TLineTrace&) = delete;
  TLineTrace& operator=(const TLineTrace&) = delete;

  // These only copy into the queue. When it is full the entry is dropped and counted, and
  // the next entry that fits is preceded by a line that says how much was lost.
  void Sent(const void* data, std::size_t count, TTraceClock::time_point at = TTraceClock::now());
  void Received(const void* data, std::size_t count,
                TTraceClock::time_point at = TTraceClock::now());
  // A line such as "OPEN ttyS0 9600 baud", "ACTION Enviar Programación" or "ERROR ...".
  void Note(std::string_view kind, std::string_view text);

  // Waits until everything queued so far is written, or the trace has failed (for tests: it
  // has no limit).
  void Flush();

  const std::string& Path() const;
  bool Failed() const;
  // The system's error code of the write that failed; 0 while none has.
  int FailureCode() const;

 private:
  struct TShared;  // the file, the queue and the lock, shared with the writer
  std::shared_ptr<TShared> shared_;
  std::thread writer_;
};

}  // namespace vardelio
