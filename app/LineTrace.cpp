#include "LineTrace.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <iterator>
#include <mutex>
#include <vector>

#include "framework/Ansi.h"
#include "portconfig/UserFile.h"

namespace vardelio {

std::string TraceTimestamp(TTraceClock::time_point at) {
  const auto since = at.time_since_epoch();
  const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(text, length) + '.' + char('0' + millis / 100) + char('0' + millis / 10 % 10) +
         char('0' + millis % 10);
}

std::string TraceBytes(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex, printable;
  hex.reserve(bytes.size() * 3);
  printable.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (!hex.empty()) hex += ' ';
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
    printable += byte >= 0x20 && byte < 0x7F ? c : '.';
  }
  return hex + "  |" + printable + '|';
}

namespace {

bool ValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t more;
    std::uint32_t code, least;
    if ((lead & 0xE0) == 0xC0) {
      more = 1, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      more = 2, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      more = 3, code = lead & 0x07, least = 0x10000;
    } else {
      return false;
    }
    for (std::size_t k = 1; k <= more; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        return false;
      }
      code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += more + 1;
  }
  return true;
}

}  // namespace

std::string TraceNoteText(std::string_view text) {
  const std::string utf8 =
      ValidUtf8(text) ? std::string(text) : FromAnsi(text).toUtf8().toStdString();
  std::string line;
  line.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    if (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;
    if (c == '\n' || c == '\r') {
      line += " / ";
    } else if (c == '\t') {
      line += ' ';
    } else {
      line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    }
  }
  return line;
}

namespace {

constexpr char kFellBehind[] = "the trace fell behind";
constexpr char kGivenUp[] = "the file took nothing for a second when the trace ended";

struct TEntry {
  TTraceClock::time_point at;
  std::string kind;
  std::string text;
  bool data = false;
  std::uint64_t lostBytes = 0, lostLines = 0;  // what a LOST line tells
};

std::size_t Cost(const TEntry& entry) {
  return sizeof(TEntry) + entry.kind.size() + entry.text.size();
}

std::string Format(const TEntry& entry) {
  return TraceTimestamp(entry.at) + ' ' + entry.kind + ' ' +
         (entry.data ? TraceBytes(entry.text) : TraceNoteText(entry.text)) + '\n';
}

}  // namespace

// Owned by the trace and its writer together: a writer given up on keeps its file, its queue
// and its lock for as long as it runs.
struct TLineTrace::TShared {
  TShared(const std::string& p, TFailure failure, std::size_t queueBytes, TWrite w)
      : path(p), onFailure(std::move(failure)), capacity(queueBytes), write(std::move(w)) {}
  ~TShared() {
    if (fd >= 0) ::close(fd);
    if (stopWake >= 0) ::close(stopWake);
  }

  void Push(TEntry entry);
  void PushData(std::string_view kind, std::string bytes, TTraceClock::time_point at);
  bool Enqueue(TEntry entry);
  TEntry LostNote(TTraceClock::time_point at, const char* why);
  void DropQueue();
  void Run();
  void WriteQueued();
  std::vector<TEntry> TakeReady(std::unique_lock<std::mutex>& lock);
  void TellLoss(bool midLine);
  int WriteAll(const std::string& text, std::size_t& done) const;
  ssize_t WriteSome(const char* data, std::size_t count) const {
    return write ? write(fd, data, count) : ::write(fd, data, count);
  }

  const std::string path;
  const TFailure onFailure;
  const std::size_t capacity;
  const TWrite write;
  int fd = -1;
  int stopWake = -1;  // eventfd: the end of the trace gives up on a pipe that takes nothing
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable written;
  std::vector<TEntry> queue;
  std::size_t queued = 0;       // the cost of the queue and of the batch being written
  std::uint64_t lostBytes = 0;  // bytes of the line only: a dropped note is a line, not bytes
  std::uint64_t lostLines = 0;
  bool burstOpen = false;  // the queue's last entry may still grow
  TTraceClock::time_point burstLast;
  bool stopping = false;
  bool failed = false;
  bool finished = false;   // the writer has nothing more to do
  bool abandoned = false;  // the trace has gone: nobody is told anything any more
  int failureCode = 0;
};

TLineTrace::TLineTrace(const std::string& path, TFailure onFailure, std::size_t queueBytes,
                       TWrite write)
    : shared_(std::make_shared<TShared>(path, std::move(onFailure), queueBytes, std::move(write))) {
  shared_->fd = OpenUserFileToAppend(path, kTraceRules);
  shared_->stopWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (shared_->stopWake < 0) throw EProfileError("Cannot trace to " + path, errno);
  writer_ = std::thread([shared = shared_] { shared->Run(); });
}

TLineTrace::~TLineTrace() {
  TShared& s = *shared_;
  std::unique_lock lock(s.mutex);
  // A loss with no line after it to tell it is told last, whatever room the queue has.
  if (s.lostLines > 0 && !s.failed) {
    s.queue.push_back(s.LostNote(TTraceClock::now(), kFellBehind));
    s.queued += Cost(s.queue.back());
  }
  s.stopping = true;
  s.burstOpen = false;
  s.wake.notify_one();
  // Whatever the file is on (a frozen disk, a hung mount, a pipe nobody reads), the window
  // that ends the trace does not wait for it longer than this.
  const bool done = s.written.wait_for(lock, kStopWait, [&s] { return s.finished; });
  if (!done) {
    s.abandoned = true;
    s.DropQueue();
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(s.stopWake, &one, sizeof one);
  }
  lock.unlock();
  if (done) {
    writer_.join();
  } else {
    writer_.detach();
  }
}

void TLineTrace::Sent(const void* data, std::size_t count, TTraceClock::time_point at) {
  shared_->PushData("TX", std::string(static_cast<const char*>(data), count), at);
}

void TLineTrace::Received(const void* data, std::size_t count, TTraceClock::time_point at) {
  shared_->PushData("RX", std::string(static_cast<const char*>(data), count), at);
}

void TLineTrace::Note(std::string_view kind, std::string_view text) {
  shared_->Push({TTraceClock::now(), std::string(kind), std::string(text)});
}

void TLineTrace::Flush() {
  TShared& s = *shared_;
  std::unique_lock lock(s.mutex);
  s.burstOpen = false;
  s.wake.notify_one();
  s.written.wait(lock, [&s] { return s.queued == 0 || s.failed; });
}

const std::string& TLineTrace::Path() const {
  return shared_->path;
}

bool TLineTrace::Failed() const {
  const std::lock_guard lock(shared_->mutex);
  return shared_->failed;
}

int TLineTrace::FailureCode() const {
  const std::lock_guard lock(shared_->mutex);
  return shared_->failureCode;
}

// The entry's bytes were copied before the lock: the lock covers only the queue's bookkeeping.
void TLineTrace::TShared::Push(TEntry entry) {
  {
    const std::lock_guard lock(mutex);
    if (failed || stopping) return;
    burstOpen = false;
    if (!Enqueue(std::move(entry))) return;
  }
  wake.notify_one();
}

// Bytes that come soon after others the same way join their line, while it is not written.
void TLineTrace::TShared::PushData(std::string_view kind, std::string bytes,
                                   TTraceClock::time_point at) {
  {
    const std::lock_guard lock(mutex);
    if (failed || stopping) return;
    if (burstOpen && queue.back().kind == kind && at - burstLast < kBurstGap &&
        queue.back().text.size() + bytes.size() <= kLongestBurst) {
      if (queued + bytes.size() > capacity) {
        ++lostLines;
        lostBytes += bytes.size();
        burstOpen = false;
        return;
      }
      queue.back().text += bytes;
      queued += bytes.size();
      burstLast = at;
      return;  // the writer waits for the burst's end in any case
    }
    burstOpen = Enqueue({at, std::string(kind), std::move(bytes), true});
    burstLast = at;
  }
  wake.notify_one();
}

// Queues the entry, behind the line that tells an earlier loss; or counts it as lost.
bool TLineTrace::TShared::Enqueue(TEntry entry) {
  const std::size_t cost = Cost(entry);
  std::size_t lostCost = 0;
  if (lostLines > 0) lostCost = Cost(LostNote(entry.at, kFellBehind));
  if (queued + lostCost + cost > capacity) {
    ++lostLines;
    if (entry.data) lostBytes += entry.text.size();
    return false;
  }
  if (lostCost > 0) {
    queue.push_back(LostNote(entry.at, kFellBehind));
    queued += lostCost;
    lostBytes = lostLines = 0;
  }
  queued += cost;
  queue.push_back(std::move(entry));
  return true;
}

TEntry TLineTrace::TShared::LostNote(TTraceClock::time_point at, const char* why) {
  return {at,
          "LOST",
          std::to_string(lostBytes) + " bytes in " + std::to_string(lostLines) +
              " lines not traced: " + why,
          false,
          lostBytes,
          lostLines};
}

// Given up on: what the writer has not taken is lost, and counted.
void TLineTrace::TShared::DropQueue() {
  for (const TEntry& entry : queue) {
    if (entry.kind == "LOST") {
      lostBytes += entry.lostBytes;
      lostLines += entry.lostLines;
    } else {
      ++lostLines;
      if (entry.data) lostBytes += entry.text.size();
    }
    queued -= Cost(entry);
  }
  queue.clear();
}

void TLineTrace::TShared::Run() {
  // A pipe whose reader has gone raises SIGPIPE, which would end the whole program: held back
  // on this thread, the write fails with EPIPE and stops the trace like a full disk.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
  WriteQueued();
  {
    const std::lock_guard lock(mutex);
    finished = true;
  }
  written.notify_all();
}

// What may be written now: all but a burst that may still grow. Empty at the end.
std::vector<TEntry> TLineTrace::TShared::TakeReady(std::unique_lock<std::mutex>& lock) {
  for (;;) {
    if (abandoned) return {};
    if (burstOpen && TTraceClock::now() - burstLast >= kBurstGap) burstOpen = false;
    const std::size_t ready = queue.size() - (burstOpen ? 1 : 0);
    if (ready > 0) {
      const auto end = queue.begin() + std::ptrdiff_t(ready);
      std::vector<TEntry> batch(std::make_move_iterator(queue.begin()),
                                std::make_move_iterator(end));
      queue.erase(queue.begin(), end);
      return batch;
    }
    if (stopping && queue.empty()) return {};
    if (burstOpen) {
      wake.wait_until(lock, burstLast + kBurstGap);
    } else {
      wake.wait(lock);
    }
  }
}

void TLineTrace::TShared::WriteQueued() {
  std::unique_lock lock(mutex);
  for (;;) {
    std::vector<TEntry> batch = TakeReady(lock);
    if (batch.empty()) return;
    lock.unlock();
    std::string text;
    std::vector<std::size_t> ends;
    std::size_t cost = 0;
    for (const TEntry& entry : batch) {
      text += Format(entry);
      ends.push_back(text.size());
      cost += Cost(entry);
    }
    std::size_t done = 0;
    const int error = WriteAll(text, done);
    lock.lock();
    queued -= cost;
    if (abandoned) {
      for (std::size_t i = 0; i < batch.size(); ++i) {
        if (ends[i] <= done) continue;
        ++lostLines;
        if (batch[i].data) lostBytes += batch[i].text.size();
      }
      lock.unlock();
      if (error == 0 || error == ECANCELED) TellLoss(done > 0 && text[done - 1] != '\n');
      return;
    }
    if (error != 0) {
      failed = true;
      failureCode = error;
      queue.clear();
      queued = 0;
      burstOpen = false;
      if (onFailure) onFailure();
      lock.unlock();
      written.notify_all();
      return;
    }
    written.notify_all();
  }
}

// The writer was given up on: if the file still takes a line, it says what was lost. One try,
// never a wait.
void TLineTrace::TShared::TellLoss(bool midLine) {
  std::string line;
  {
    const std::lock_guard lock(mutex);
    if (lostLines == 0) return;
    line = (midLine ? "\n" : "") + Format(LostNote(TTraceClock::now(), kGivenUp));
  }
  for (std::size_t done = 0; done < line.size();) {
    const ssize_t n = WriteSome(line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += std::size_t(n);
  }
}

// The file is written without blocking where it can be: a pipe that is full is waited on,
// together with the end of the trace, which gives up on it. A disk that takes nothing holds
// only this thread.
int TLineTrace::TShared::WriteAll(const std::string& text, std::size_t& done) const {
  done = 0;
  while (done < text.size()) {
    const ssize_t n = WriteSome(text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd fds[2] = {{fd, POLLOUT, 0}, {stopWake, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) return errno;
      if (fds[1].revents & POLLIN) return ECANCELED;
      continue;
    }
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    done += std::size_t(n);
  }
  return 0;
}

}  // namespace vardelio
