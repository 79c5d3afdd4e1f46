#include "LineTrace.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
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

TLineTrace::TLineTrace(const std::string& path, TFailure onFailure, std::size_t queueBytes)
    : path_(path), onFailure_(std::move(onFailure)), capacity_(queueBytes) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), path);
  writer_ = std::thread([this] { Run(); });
}

TLineTrace::~TLineTrace() {
  {
    const std::lock_guard lock(mutex_);
    // A loss with no line after it to tell it is told last, whatever room the queue has.
    if (lostLines_ > 0 && !failed_) {
      queue_.push_back(LostNote(TTraceClock::now()));
      queued_ += Cost(queue_.back());
    }
    stopping_ = true;
  }
  wake_.notify_one();
  writer_.join();
  ::close(fd_);
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
      if (onFailure_) onFailure_();
      lock.unlock();
      written_.notify_all();
      return;
    }
    written_.notify_all();
  }
}

int TLineTrace::WriteAll(const std::string& text) const {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = ::write(fd_, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return ENOSPC;
    done += std::size_t(written);
  }
  return 0;
}

}  // namespace vardelio
