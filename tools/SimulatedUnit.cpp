#include "SimulatedUnit.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>

namespace vardelio {
namespace {

// The next of `count` digits from '0'.
void NextDigit(char& digit, int count) {
  digit = digit >= '0' && digit < char('0' + count - 1) ? char(digit + 1) : '0';
}

}  // namespace

// As a faulty unit might keep a frame's values: the subscriber's first character, a digit
// more in either phone, the next mode or period.
void TSimulatedUnit::Alter(std::string& frame, TUnitField field) {
  const std::size_t mainEnd = frame.find('T', 4);
  const std::size_t backupEnd = mainEnd == frame.npos ? frame.npos : frame.find('T', mainEnd + 1);
  if (frame.size() < 2) return;
  switch (field) {
    case TUnitField::subscriber:
      frame[0] = frame[0] == '1' ? '2' : '1';
      break;
    case TUnitField::mainPhone:
      if (mainEnd != frame.npos) frame.insert(mainEnd, "9");
      break;
    case TUnitField::backupPhone:
      if (backupEnd != frame.npos) frame.insert(backupEnd, "9");
      break;
    case TUnitField::terminalBlock:
      NextDigit(frame[frame.size() - 2], 3);
      break;
    case TUnitField::testReport:
      NextDigit(frame.back(), 4);
      break;
    case TUnitField::none:
      break;
  }
}

TSimulatedUnit::TSimulatedUnit(int master, TUnitBehaviour behaviour)
    : master_(master), stop_(eventfd(0, EFD_CLOEXEC)), behaviour_(behaviour) {}

TSimulatedUnit::~TSimulatedUnit() {
  Stop();
  close(stop_);
  if (master_ >= 0) close(master_);
}

void TSimulatedUnit::Start() {
  thread_ = std::thread([this] { Run(); });
}

void TSimulatedUnit::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  released_.notify_all();
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(stop_, &one, sizeof one);
  thread_.join();
}

std::string TSimulatedUnit::Stored() const {
  std::lock_guard lock(mutex_);
  return stored_;
}

void TSimulatedUnit::SetStored(const std::string& data) {
  std::lock_guard lock(mutex_);
  stored_ = data;
}

void TSimulatedUnit::Run() {
  for (;;) {
    pollfd fds[2] = {{stop_, POLLIN, 0}, {master_, POLLIN, 0}};
    poll(fds, master_ >= 0 ? 2 : 1, -1);
    if (fds[0].revents & POLLIN) return;
    if (master_ < 0) continue;
    char chunk[256];
    const ssize_t n = read(master_, chunk, sizeof chunk);
    if (n <= 0) {
      // Nobody holds the line open; wait for the next one without spinning.
      poll(fds, 1, 50);
      continue;
    }
    for (ssize_t i = 0; i < n && master_ >= 0; ++i)
      Handle(chunk[i]);
  }
}

// "L" asks for the data; "P" ... "Z" programs it.
void TSimulatedUnit::Handle(char byte) {
  if (!inFrame_ && byte == 'L') {
    ++requests_;
    std::string data = Stored();
    if (const std::size_t t = data.find('T'); behaviour_.missingSeparator && t != data.npos) {
      data.erase(t, 1);
    }
    if (!behaviour_.silentOnRead) Answer(behaviour_.timeOver ? "SFZ" : "S" + data + "Z");
  } else if (!inFrame_ && byte == 'P') {
    inFrame_ = true;
    frame_.clear();
  } else if (inFrame_ && byte == 'Z') {
    inFrame_ = false;
    ++requests_;
    ++programmings_;
    if (behaviour_.alterOnly == 0 || behaviour_.alterOnly == programmings_) {
      Alter(frame_, behaviour_.alterOnStore);
    }
    if (!behaviour_.timeOver) SetStored(frame_);
    Answer(behaviour_.timeOver ? "SFZ" : "SOKZ");
  } else if (inFrame_) {
    frame_ += byte;
  }
  if (behaviour_.hangUpAfter >= 0 && requests_ >= behaviour_.hangUpAfter && master_ >= 0) {
    // The kernel drops what the other side has not read yet: let the last answer be heard.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return !keepOpen_ || stopping_; });
    lock.unlock();
    HangUp();
  }
}

void TSimulatedUnit::KeepLineOpen(bool keep) {
  {
    std::lock_guard lock(mutex_);
    keepOpen_ = keep;
  }
  released_.notify_all();
}

void TSimulatedUnit::Answer(const std::string& reply) {
  if (behaviour_.silent) return;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(behaviour_.delayMs));
  const std::string text = behaviour_.garbage ? "x#SokZ\xff" : reply;
  for (const char byte : text) {
    // Each byte takes its time on the line, the first one too.
    std::this_thread::sleep_for(std::chrono::microseconds(behaviour_.byteMicros));
    [[maybe_unused]] ssize_t n = write(master_, &byte, 1);
  }
}

void TSimulatedUnit::SendRaw(const std::string& bytes) {
  [[maybe_unused]] ssize_t n = write(master_, bytes.data(), bytes.size());
}

void TSimulatedUnit::HangUp() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

}  // namespace vardelio
