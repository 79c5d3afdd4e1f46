#include "LinuxModemWatch.h"

#include <linux/serial.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <mutex>

#include "ComPlatform.h"

namespace vardelio {
namespace {

int WakeSignal() {
  return SIGRTMIN + 4;
}

// Installed without SA_RESTART, so the signal ends the wait in the kernel with EINTR.
void InstallWakeHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(WakeSignal(), &action, nullptr);
  });
}

std::uint32_t Changes(const serial_icounter_struct& before, const serial_icounter_struct& after) {
  std::uint32_t events = 0;
  if (after.cts != before.cts) events |= EV_CTS;
  if (after.dsr != before.dsr) events |= EV_DSR;
  if (after.dcd != before.dcd) events |= EV_RLSD;
  if (after.rng != before.rng) events |= EV_RING;
  return events;
}

}  // namespace

bool TModemWatch::Start(int fd, TNotify notify) {
  if (thread_.joinable()) return true;
  if (!probed_) {
    serial_icounter_struct counts{};
    capable_ = ioctl(fd, TIOCGICOUNT, &counts) == 0;
    probed_ = true;
  }
  if (!capable_) return false;
  InstallWakeHandler();
  notify_ = std::move(notify);
  stopping_ = false;
  exited_ = false;
  thread_ = std::thread([this, fd] { Run(fd); });
  return true;
}

void TModemWatch::Run(int fd) {
  serial_icounter_struct before{};
  ioctl(fd, TIOCGICOUNT, &before);
  while (!stopping_) {
    if (ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) != 0) {
      if (errno == EINTR) continue;
      break;  // the driver cannot, or the device is gone: never retry in a loop
    }
    serial_icounter_struct after{};
    if (ioctl(fd, TIOCGICOUNT, &after) != 0) break;
    if (const std::uint32_t events = Changes(before, after)) notify_(events);
    before = after;
  }
  exited_ = true;
}

void TModemWatch::Stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  // The signal may land just before the thread enters the kernel; repeat until it has left.
  while (!exited_) {
    pthread_kill(thread_.native_handle(), WakeSignal());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  thread_.join();
}

}  // namespace vardelio
