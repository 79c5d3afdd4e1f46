#include "LinuxLine.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "LinuxTermios.h"
#include "PortName.h"
#include "Timeouts.h"

namespace vardelio {
namespace {

constexpr std::uint32_t kMaxQueue = 16u * 1024 * 1024;
constexpr int kENOIOCTLCMD = 515;  // what some drivers leak for an ioctl they lack
// A read this long comes from a stream faster than we wake: more is likely waiting.
constexpr std::size_t kBusyRead = 1024;

// The device has no such lines or counters (a pseudo-terminal, some USB adapters).
bool Unsupported(int error) {
  return error == ENOTTY || error == EINVAL || error == kENOIOCTLCMD;
}

bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  const unsigned major = ::major(st.st_rdev);
  return major >= 136 && major <= 143;
}

// FTDI-style adapters hold small packets for up to 16 ms unless asked not to.
void AskForLowLatency(int fd) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
  serial.flags |= ASYNC_LOW_LATENCY;
  ioctl(fd, TIOCSSERIAL, &serial);
}

// The driver's error counts; false when it has none to give now. `supported` turns false for
// good when the driver keeps no counters.
bool ReadLineCounts(int fd, TLineCounts& counts, bool& supported) {
  serial_icounter_struct raw{};
  if (ioctl(fd, TIOCGICOUNT, &raw) != 0) {
    supported = !Unsupported(errno);
    return false;
  }
  counts = {std::uint32_t(raw.overrun), std::uint32_t(raw.buf_overrun), std::uint32_t(raw.frame),
            std::uint32_t(raw.parity)};
  return true;
}

int CloseWith(int fd, int error) {
  close(fd);
  return error;
}

// The terminal in raw mode, waiting for one byte per read, with nothing stale in it.
// The controlling side of a pseudo-terminal (/dev/ptmx hands out a new one) is no line.
bool IsPseudoTerminalMaster(int fd) {
  unsigned number = 0;
  return ioctl(fd, TIOCGPTN, &number) == 0;
}

int PrepareTerminal(int fd, bool pseudoTerminal) {
  if (!isatty(fd) || IsPseudoTerminalMaster(fd)) return ENOTTY;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return errno;
  ioctl(fd, TIOCEXCL);
  TDcb dcb;
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  TTermAttrs attrs;
  TermAttrsFromDcb(dcb, attrs);
  if (pseudoTerminal) LeaveInputUnmarked(attrs);
  TTermAttrs current;
  if (!ReadTermAttrs(fd, current)) return errno;  // EIO: a port with no hardware behind it
  // The port's own settings replace these right after opening.
  if (!WriteTermAttrs(fd, attrs)) return errno;
  tcflush(fd, TCIOFLUSH);
  AskForLowLatency(fd);
  return 0;
}

}  // namespace

std::shared_ptr<TLinuxLine> TLinuxLine::Open(const std::string& portName, int& error) {
  const std::string path = DevicePathForPort(portName);
  if (path.empty()) {
    error = ENOENT;
    return nullptr;
  }
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  const bool pseudoTerminal = IsPseudoTerminal(fd);
  if ((error = PrepareTerminal(fd, pseudoTerminal)) != 0) {
    CloseWith(fd, error);
    return nullptr;
  }
  const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  const int eventWake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake < 0 || eventWake < 0) {
    error = errno;
    if (wake >= 0) close(wake);
    if (eventWake >= 0) close(eventWake);
    CloseWith(fd, error);
    return nullptr;
  }
  return std::shared_ptr<TLinuxLine>(new TLinuxLine(fd, wake, eventWake, pseudoTerminal));
}

TLinuxLine::TLinuxLine(int fd, int wake, int eventWake, bool pseudoTerminal)
    : fd_(fd), wake_(wake), eventWake_(eventWake), pseudoTerminal_(pseudoTerminal) {
  // A pseudo-terminal carries no line errors or breaks: nothing to mark.
  decoder_.SetRules({.marked = !pseudoTerminal_});
  // The counters run from boot: only what they gain from now on is this line's.
  ReadLineCounts(fd_, counts_, countsErrors_);
}

TLinuxLine::~TLinuxLine() {
  modemWatch_.Stop();
  // Output stuck behind flow control would otherwise hold close() for up to 30 s.
  tcflush(fd_, TCOFLUSH);
  ioctl(fd_, TIOCNXCL);
  close(fd_);
  close(wake_);
  close(eventWake_);
}

void TLinuxLine::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
}

bool TLinuxLine::WaitReady(short events, const Clock::time_point* deadline) {
  int timeoutMs = -1;
  if (deadline != nullptr) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    if (left.count() <= 0) return false;
    timeoutMs = int(std::min<long long>(left.count(), 60'000));
  }
  pollfd fds[2] = {{fd_, events, 0}, {wake_, POLLIN, 0}};
  const int ready = poll(fds, 2, timeoutMs);
  if (fds[1].revents & POLLIN) {
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = read(wake_, &count, sizeof count);
  }
  return ready != 0 || deadline == nullptr || Clock::now() < *deadline;
}

void TLinuxLine::WakeEvents() {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(eventWake_, &one, sizeof one);
}

void TLinuxLine::LatchLocked(std::uint32_t events) {
  events &= mask_;
  if (events == 0) return;
  pendingEvents_ |= events;
  WakeWaiterLocked();
}

// Only a waiter blocked in poll needs the system call; one still at work sees the events.
void TLinuxLine::WakeWaiterLocked() {
  if (waiterBlocked_) WakeEvents();
}

void TLinuxLine::MarkHungUpLocked() {
  if (hungUp_) return;
  hungUp_ = true;
  errors_ |= CE_IOE;  // reported once, like any other line error
  LatchLocked(EV_ERR);
  WakeWaiterLocked();  // a waiter must see the end even when errors are not watched
}

void TLinuxLine::Append(const TDecoded& decoded) {
  errors_ |= decoded.errors;
  const std::size_t before = queue_.size();
  queue_ += decoded.bytes;  // never more than the room the drain asked for
  LatchLocked(EventsOfRead(decoded, before, queue_.size(), std::size_t(queueCapacity_)));
}

std::uint32_t TLinuxLine::ClassifyLocked(std::uint32_t marked) {
  TLineCounts now;
  if (!countsErrors_ || !ReadLineCounts(fd_, now, countsErrors_)) return marked;
  return ClassifyLineErrors(marked, std::exchange(counts_, now), now, parityChecked_);
}

void TLinuxLine::DrainLocked() {
  // Bounded: a device that sends as fast as we read must not hold us here for ever.
  constexpr int kMaxChunks = 16;
  char chunk[4096];
  lastReadLong_ = false;
  for (int chunks = 0; chunks < kMaxChunks && !hungUp_; ++chunks) {
    // While our queue is full the terminal keeps the bytes: a pseudo-terminal holds its
    // sender back, a UART's driver counts the overflow.
    const std::size_t room = QueueRoomLocked();
    if (room == 0) return;
    const std::size_t wanted = std::min(room, sizeof chunk);
    const ssize_t n = read(fd_, chunk, wanted);
    if (n > 0) {
      TDecoded decoded = decoder_.Decode(std::string_view(chunk, std::size_t(n)));
      decoded.errors = ClassifyLocked(decoded.errors);
      Append(decoded);
      lastReadLong_ = std::size_t(n) >= kBusyRead;
      // A short read took all there was: asking again would only give EAGAIN.
      if (std::size_t(n) < wanted) return;
    } else if (n == 0 || errno == EIO) {
      MarkHungUpLocked();  // read() gives 0 only on hang-up with VMIN=1
    } else if (errno != EINTR) {
      return;  // EAGAIN: nothing more for now
    }
  }
}

int TLinuxLine::CheckAlive() {
  pollfd fd{fd_, POLLIN, 0};
  std::lock_guard lock(mutex_);
  if (!hungUp_ && poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR))) DrainLocked();
  return hungUp_ ? EIO : 0;
}

std::size_t TLinuxLine::QueueRoomLocked() const {
  return queueCapacity_ > queue_.size() ? queueCapacity_ - queue_.size() : 0;
}

// The waiter leaves the terminal out while the queue is full, so whatever makes room there
// (a read, a purge, a larger queue) goes through here and sends it back to the terminal.
template <typename Change>
void TLinuxLine::MakeRoomLocked(Change change) {
  const bool wasFull = QueueRoomLocked() == 0;
  change();
  if (wasFull && QueueRoomLocked() > 0) WakeWaiterLocked();
}

std::uint32_t TLinuxLine::TakeLocked(char* data, std::uint32_t count) {
  const std::uint32_t n = std::min<std::uint32_t>(count, std::uint32_t(queue_.size()));
  MakeRoomLocked([&] {
    queue_.copy(data, n);
    queue_.erase(0, n);
  });
  return n;
}

int TLinuxLine::SetState(const TDcb& dcb) {
  if (const int error = CheckAlive()) return error;
  TTermAttrs wanted;
  if (!TermAttrsFromDcb(dcb, wanted)) return EINVAL;
  if (pseudoTerminal_) LeaveInputUnmarked(wanted);
  TTermAttrs previous;
  if (!ReadTermAttrs(fd_, previous)) return errno;
  if (!WriteTermAttrs(fd_, wanted)) return errno;
  TTermAttrs actual;
  if (!ReadTermAttrs(fd_, actual)) return errno;
  if (!LineTookAttrs(wanted, actual, pseudoTerminal_)) {
    // A driver may take part of a setting it refuses: a refused setting changes nothing.
    WriteTermAttrs(fd_, previous);
    return EINVAL;
  }
  SetModemLines(dcb);
  std::lock_guard lock(mutex_);
  baudRate_ = dcb.BaudRate;
  parityChecked_ = (dcb.Flags & dcb::fParity) != 0;
  decoder_.SetRules({.marked = !pseudoTerminal_,
                     .discardNull = bool(dcb.Flags & dcb::fNull),
                     .replaceErrors = (dcb.Flags & dcb::fParity) && (dcb.Flags & dcb::fErrorChar),
                     .errorChar = dcb.ErrorChar,
                     .parityChecked = bool(dcb.Flags & dcb::fParity),
                     .eventChar = dcb.EvtChar});
  return 0;
}

// DTR and RTS follow their control modes; handshake is the driver's, and so is toggle where
// the driver can raise RTS around what it sends (RS-485).
void TLinuxLine::SetModemLines(const TDcb& dcb) {
  ApplyRtsToggle(fd_, dcb::RtsControl(dcb.Flags) == 3);
  int raise = 0, lower = 0;
  auto follow = [&](unsigned control, int line) {
    if (control == 0) lower |= line;  // disable
    if (control == 1) raise |= line;  // enable
  };
  follow(dcb::DtrControl(dcb.Flags), TIOCM_DTR);
  follow(dcb::RtsControl(dcb.Flags), TIOCM_RTS);
  if (raise != 0) ioctl(fd_, TIOCMBIS, &raise);  // refused by lines without modem control
  if (lower != 0) ioctl(fd_, TIOCMBIC, &lower);
}

int TLinuxLine::SetTimeouts(const TCommTimeouts& timeouts) {
  if (const int error = CheckAlive()) return error;
  std::lock_guard lock(mutex_);
  timeouts_ = timeouts;
  return 0;
}

int TLinuxLine::SetQueueSizes(std::uint32_t inQueue, std::uint32_t outQueue) {
  if (inQueue == 0 || inQueue > kMaxQueue || outQueue > kMaxQueue) return EINVAL;
  if (const int error = CheckAlive()) return error;
  std::lock_guard lock(mutex_);
  MakeRoomLocked([&] { queueCapacity_ = inQueue; });
  return 0;
}

int TLinuxLine::SetMask(std::uint32_t mask) {
  if (const int error = CheckAlive()) return error;
  {
    std::lock_guard lock(mutex_);
    mask_ = mask;
    pendingEvents_ = 0;
  }
  WakeEvents();
  constexpr std::uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
  if ((mask & kModemEvents) == 0) {
    modemWatch_.Stop();
  } else if (!pseudoTerminal_) {
    modemWatch_.Start(fd_, [this](std::uint32_t events) {
      std::lock_guard lock(mutex_);
      LatchLocked(events);
    });
  }
  return 0;
}

void TLinuxLine::CheckTxEmptyLocked(std::optional<Clock::time_point>& recheck) {
  if (!txPending_) return;
  int outQueue = 0;
  if (ioctl(fd_, TIOCOUTQ, &outQueue) != 0 || outQueue <= 0) {
    txPending_ = false;
    LatchLocked(EV_TXEMPTY);
    return;
  }
  txRecheckMs_ = TxRecheckMs(std::uint32_t(outQueue), baudRate_, txLastQueued_, txRecheckMs_);
  txLastQueued_ = std::uint32_t(outQueue);
  recheck = Clock::now() + std::chrono::milliseconds(txRecheckMs_);
}

bool TLinuxLine::TakeBusyEvents(std::uint32_t& mask) {
  mask = 0;
  std::lock_guard lock(mutex_);
  if (!BusyLocked()) return false;
  DrainLocked();
  // The wait's other duty: output that has left is told now, not after the busy stretch.
  std::optional<Clock::time_point> recheck;
  CheckTxEmptyLocked(recheck);
  mask = std::exchange(pendingEvents_, 0);
  return mask != 0;
}

bool TLinuxLine::Busy() {
  std::lock_guard lock(mutex_);
  return BusyLocked();
}

TWaitResult TLinuxLine::WaitEvents(int stopFd, const std::atomic<bool>& stopping,
                                   std::uint32_t& mask, int& error) {
  mask = 0;
  bool terminalReady = false;  // the terminal has something: poll said so
  for (;;) {
    std::optional<Clock::time_point> recheck;
    bool queueFull;
    {
      std::lock_guard lock(mutex_);
      waiterBlocked_ = false;
      // Set before the signal, so no system call is needed to see it; it wins over events.
      if (stopping.load(std::memory_order_acquire)) return TWaitResult::Stop;
      if (terminalReady) DrainLocked();
      CheckTxEmptyLocked(recheck);
      if (pendingEvents_ != 0) {
        mask = std::exchange(pendingEvents_, 0);
        return TWaitResult::Events;
      }
      if (hungUp_) {
        error = EIO;  // reported once already: now the wait itself fails
        return TWaitResult::Failed;
      }
      queueFull = QueueRoomLocked() == 0;
      waiterBlocked_ = true;  // from here on, what is latched must wake us
    }
    int timeoutMs = -1;  // nothing wakes us on a timer while the line is idle
    if (recheck) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*recheck - Clock::now());
      timeoutMs = int(std::clamp<long long>(left.count(), 0, 60'000));
    }
    // A full queue leaves the terminal out: its data would wake us without end.
    pollfd fds[3] = {
        {stopFd, POLLIN, 0}, {eventWake_, POLLIN, 0}, {queueFull ? -1 : fd_, POLLIN, 0}};
    if (poll(fds, 3, timeoutMs) < 0 && errno != EINTR) {
      error = errno;
      std::lock_guard lock(mutex_);
      waiterBlocked_ = false;
      return TWaitResult::Failed;
    }
    terminalReady = fds[2].revents != 0;
    if (fds[1].revents & POLLIN) {
      std::uint64_t count;
      [[maybe_unused]] ssize_t n = read(eventWake_, &count, sizeof count);
    }
  }
}

int TLinuxLine::Write(const char* data, std::uint32_t count, std::uint32_t& written) {
  written = 0;
  TCommTimeouts timeouts;
  {
    std::lock_guard lock(mutex_);
    if (hungUp_) return EIO;
    timeouts = timeouts_;
  }
  const std::uint64_t aborts = writeAborts_.load();
  const auto limit = WriteLimitMs(timeouts, count);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limit.value_or(0));
  while (written < count) {
    const ssize_t n = ::write(fd_, data + written, count - written);
    if (n > 0) {
      written += std::uint32_t(n);
      std::lock_guard lock(mutex_);
      txPending_ = true;
      txLastQueued_ = 0;  // new output: the schedule starts again
      WakeWaiterLocked();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      const int error = errno;
      if (error == EIO) {
        std::lock_guard lock(mutex_);
        MarkHungUpLocked();
      }
      return error;
    }
    if (!WaitReady(POLLOUT, limit ? &deadline : nullptr)) return ETIMEDOUT;
    if (writeAborts_.load() != aborts) return ECANCELED;
  }
  return 0;
}

int TLinuxLine::Read(char* data, std::uint32_t count, std::uint32_t& read) {
  read = 0;
  TReadPlan plan;
  {
    std::lock_guard lock(mutex_);
    plan = PlanRead(timeouts_, count);
  }
  const std::uint64_t aborts = readAborts_.load();
  const Clock::time_point start = Clock::now();
  Clock::time_point lastByte = start;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      // What the queue already holds needs nothing from the terminal.
      if (queue_.size() < count - read) DrainLocked();
      const std::uint32_t n = TakeLocked(data + read, count - read);
      read += n;
      if (n > 0) lastByte = Clock::now();
      if (read == 0 && hungUp_) return EIO;
      if (read == count || plan.returnAtOnce || hungUp_ || (plan.returnOnFirstByte && read > 0)) {
        return 0;
      }
    }
    std::optional<Clock::time_point> deadline;
    if (plan.totalMs) deadline = start + std::chrono::milliseconds(*plan.totalMs);
    if (plan.intervalMs && read > 0) {
      const auto byInterval = lastByte + std::chrono::milliseconds(*plan.intervalMs);
      deadline = deadline ? std::min(*deadline, byInterval) : byInterval;
    }
    if (!WaitReady(POLLIN, deadline ? &*deadline : nullptr)) return 0;  // timed out: not an error
    if (readAborts_.load() != aborts) return ECANCELED;
  }
}

int TLinuxLine::Purge(std::uint32_t flags) {
  // Aborting touches only our own waits, so it works on a line that has gone away.
  if (flags & PURGE_RXABORT) ++readAborts_;
  if (flags & PURGE_TXABORT) ++writeAborts_;
  if (flags & (PURGE_RXABORT | PURGE_TXABORT)) Wake();
  int error = 0;
  if ((flags & PURGE_TXCLEAR) && tcflush(fd_, TCOFLUSH) != 0) error = errno;
  if (flags & PURGE_RXCLEAR) {
    if (tcflush(fd_, TCIFLUSH) != 0) error = errno;
    std::lock_guard lock(mutex_);
    MakeRoomLocked([&] { queue_.clear(); });
    decoder_.Reset();
  }
  return error;
}

int TLinuxLine::ClearErrors(std::uint32_t& errors, TComStat& status, bool fromTerminal) {
  std::lock_guard lock(mutex_);
  if (fromTerminal) DrainLocked();
  // A line that has gone away keeps answering, with what is still queued and with the
  // error, so whichever caller comes first (a count of waiting bytes, or the error
  // processing of the one error event) the error processing still finds it.
  errors = std::exchange(errors_, 0) | (hungUp_ ? CE_IOE : 0);
  status.cbInQue = std::uint32_t(queue_.size());
  int outQueue = 0;  // asked of the terminal only while something may still be leaving
  status.cbOutQue =
      txPending_ && ioctl(fd_, TIOCOUTQ, &outQueue) == 0 ? std::uint32_t(outQueue) : 0;
  return 0;
}

int TLinuxLine::ModemStatus(std::uint32_t& status) {
  if (const int error = CheckAlive()) return error;
  int lines = 0;
  status = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) return Unsupported(errno) ? 0 : errno;
  if (lines & TIOCM_CTS) status |= MS_CTS_ON;
  if (lines & TIOCM_DSR) status |= MS_DSR_ON;
  if (lines & TIOCM_RNG) status |= MS_RING_ON;
  if (lines & TIOCM_CAR) status |= MS_RLSD_ON;
  return 0;
}

}  // namespace vardelio
