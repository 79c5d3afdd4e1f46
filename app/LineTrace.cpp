#include "LineTrace.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <system_error>

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

// How long the end of a trace waits for a reader that takes nothing before dropping the rest.
constexpr int kStopWaitMs = 1000;

bool Traceable(const struct stat& st) {
  return S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode);
}

// A regular file, or a pipe with a reader. Anything else (a device, a socket) is refused
// before it is opened, as opening some of them acts on them; and nothing is waited for: a
// pipe with no reader is refused at once. Only its owner may read it: it holds customers'
// phone numbers.
int OpenTraceFile(const std::string& path) {
  const auto refuse = [&](int error) {
    return std::system_error(error, std::generic_category(), path);
  };
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && !Traceable(st)) {
    throw refuse(S_ISDIR(st.st_mode) ? EISDIR : ENOTSUP);
  }
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd < 0) throw refuse(errno);
  const int error = fstat(fd, &st) != 0 ? errno : Traceable(st) ? 0 : ENOTSUP;
  if (error != 0) {
    ::close(fd);
    throw refuse(error);
  }
  return fd;
}

}  // namespace

TLineTrace::TLineTrace(const std::string& path, TFailure onFailure, std::size_t queueBytes)
    : path_(path), onFailure_(std::move(onFailure)), capacity_(queueBytes) {
  fd_ = OpenTraceFile(path);
  stopWake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopWake_ < 0) {
    const int error = errno;
    ::close(fd_);
    throw std::system_error(error, std::generic_category(), path);
  }
  writer_ = std::thread([this] { Run(); });
}

TLineTrace::~TLineTrace() {
  std::unique_lock lock(mutex_);
  // A loss with no line after it to tell it is told last, whatever room the queue has.
  if (lostLines_ > 0 && !failed_) {
    queue_.push_back(LostNote(TTraceClock::now()));
    queued_ += Cost(queue_.back());
  }
  stopping_ = true;
  wake_.notify_one();
  // A pipe whose reader takes nothing must not hold the window: what it has not taken by
  // then is dropped.
  if (!written_.wait_for(lock, std::chrono::milliseconds(kStopWaitMs),
                         [this] { return finished_; })) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopWake_, &one, sizeof one);
  }
  lock.unlock();
  writer_.join();
  ::close(fd_);
  ::close(stopWake_);
}

void TLineTrace::Sent(const void* data, std::size_t count) {
  Push({TTraceClock::now(), "TX", std::string(static_cast<const char*>(data), count), true});
}

void TLineTrace::Received(const void* data, std::size_t count) {
  Push({TTraceClock::now(), "RX", std::string(static_cast<const char*>(data), count), true});
}

void TLineTrace::Note(std::string_view kind, std::string_view text) {
  Push({TTraceClock::now(), std::string(kind), std::string(text), false});
}

void TLineTrace::Flush() {
  std::unique_lock lock(mutex_);
  written_.wait(lock, [this] { return queued_ == 0 || failed_; });
}

bool TLineTrace::Failed() const {
  const std::lock_guard lock(mutex_);
  return failed_;
}

int TLineTrace::FailureCode() const {
  const std::lock_guard lock(mutex_);
  return failureCode_;
}

std::size_t TLineTrace::Cost(const TEntry& entry) {
  return sizeof(TEntry) + entry.kind.size() + entry.text.size();
}

// The entry's bytes were copied before the lock: the lock covers only the queue's bookkeeping.
void TLineTrace::Push(TEntry entry) {
  const std::size_t cost = Cost(entry);
  {
    const std::lock_guard lock(mutex_);
    if (failed_ || stopping_) return;
    TEntry lost;
    std::size_t lostCost = 0;
    if (lostLines_ > 0) {
      lost = LostNote(entry.at);
      lostCost = Cost(lost);
    }
    if (queued_ + lostCost + cost > capacity_) {
      ++lostLines_;
      if (entry.data) lostBytes_ += entry.text.size();
      return;
    }
    if (lostCost > 0) {
      queue_.push_back(std::move(lost));
      queued_ += lostCost;
      lostBytes_ = lostLines_ = 0;
    }
    queued_ += cost;
    queue_.push_back(std::move(entry));
  }
  wake_.notify_one();
}

TLineTrace::TEntry TLineTrace::LostNote(TTraceClock::time_point at) const {
  return {at, "LOST",
          std::to_string(lostBytes_) + " bytes in " + std::to_string(lostLines_) +
              " lines not traced: the trace fell behind",
          false};
}

std::string TLineTrace::Format(const TEntry& entry) {
  return TraceTimestamp(entry.at) + ' ' + entry.kind + ' ' +
         (entry.data ? TraceBytes(entry.text) : entry.text) + '\n';
}

void TLineTrace::Run() {
  // A pipe whose reader has gone raises SIGPIPE, which would end the whole program: held back
  // on this thread, the write fails with EPIPE and stops the trace like a full disk.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
  WriteQueued();
  {
    const std::lock_guard lock(mutex_);
    finished_ = true;
  }
  written_.notify_all();
}

void TLineTrace::WriteQueued() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and everything is written
    std::vector<TEntry> batch;
    batch.swap(queue_);
    lock.unlock();
    std::string text;
    std::size_t cost = 0;
    for (const TEntry& entry : batch) {
      text += Format(entry);
      cost += Cost(entry);
    }
    const int error = WriteAll(text);
    lock.lock();
    queued_ -= cost;
    if (error != 0) {
      failed_ = true;
      failureCode_ = error;
      queue_.clear();
      queued_ = 0;
      // Given up by the end of the trace: nobody is left to tell.
      if (error != ECANCELED && onFailure_) onFailure_();
      lock.unlock();
      written_.notify_all();
      return;
    }
    written_.notify_all();
  }
}

// The file is written without blocking: a pipe that is full is waited on, together with the
// end of the trace, which gives up on it.
int TLineTrace::WriteAll(const std::string& text) const {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = ::write(fd_, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) {
      pollfd fds[2] = {{fd_, POLLOUT, 0}, {stopWake_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) return errno;
      if (fds[1].revents & POLLIN) return ECANCELED;
      continue;
    }
    if (written < 0) return errno;
    if (written == 0) return ENOSPC;
    done += std::size_t(written);
  }
  return 0;
}

}  // namespace vardelio
