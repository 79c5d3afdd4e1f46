#pragma once
// A bare reader's thread: blocked in poll on the terminal, reading as soon as bytes arrive.

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace vardelio::bench {

class TPollThread {
 public:
  using TTake = std::function<void(const char*, std::size_t)>;
  // `take` gets each chunk on the thread; `ended` runs on the thread as it ends.
  TPollThread(
      const std::string& path, TTake take, std::function<void()> ended = [] {})
      : take_(std::move(take)), ended_(std::move(ended)) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
    stop_ = eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
  }
  ~TPollThread() {
    Stop();
    thread_.join();
    close(stop_);
    close(fd_);
  }
  TPollThread(const TPollThread&) = delete;
  TPollThread& operator=(const TPollThread&) = delete;

  void Stop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(stop_, &one, sizeof one);
  }
  bool Finished() const { return finished_; }

 private:
  void Run() {
    Loop();
    finished_ = true;
    ended_();
  }
  void Loop() {
    char chunk[4096];
    for (;;) {
      pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_, POLLIN, 0}};
      poll(fds, 2, -1);
      if (fds[1].revents) return;
      if (fds[0].revents & (POLLHUP | POLLERR)) return;
      const ssize_t n = read(fd_, chunk, sizeof chunk);
      if (n > 0) take_(chunk, std::size_t(n));
    }
  }

  TTake take_;
  std::function<void()> ended_;
  std::atomic<bool> finished_{false};
  int fd_ = -1;
  int stop_ = -1;
  std::thread thread_;
};

}  // namespace vardelio::bench
