// The figures beside the receivers' speed: our port's wake-ups on an idle line, the CPU used
// after the device hangs up, and the time to close a flooded port.

#include "OtherFigures.h"

#include <dirent.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>

#include "BenchPty.h"
#include "Receivers.h"
#include "serial/platform/Timeouts.h"

namespace vardelio::bench {

namespace {

// The main thread serves the event loop until `done`; the watchdog wakes it.
void ServeUntil(const std::function<bool()>& done) {
  while (!done())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

std::set<int> Threads() {
  std::set<int> tids;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') tids.insert(std::atoi(entry->d_name));
    }
    closedir(dir);
  }
  return tids;
}

long ContextSwitches(int tid) {
  std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
  long total = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.find("ctxt_switches:") != std::string::npos) {
      total += std::atol(line.substr(line.find(':') + 1).c_str());
    }
  }
  return total;
}

// Wake-ups of our port's threads in a second of an idle line.
std::string IdleWakeUps() {
  TBenchPty pty;
  TArrivals arrivals;
  const std::set<int> before = Threads();
  std::unique_ptr<TReceiver> receiver = OurPort(pty.Path(), arrivals);
  std::set<int> added;
  for (int tid : Threads()) {
    if (!before.count(tid)) added.insert(tid);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  long switches = 0;
  for (int tid : added)
    switches -= ContextSwitches(tid);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  for (int tid : added)
    switches += ContextSwitches(tid);
  return std::to_string(switches) + " in 1 s over " + std::to_string(added.size()) + " thread(s)";
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The CPU the process uses in the second after the device hangs up.
double CpuAfterHangUpFor(const char* which, int* qtErrors) {
  TBenchPty pty;
  TArrivals arrivals;
  std::unique_ptr<TReceiver> receiver = std::string(which) == "ours"
                                            ? OurPort(pty.Path(), arrivals)
                                            : QtSerialPort(pty.Path(), arrivals, qtErrors);
  pty.HangUp();
  const double before = CpuSeconds();
  QTimer::singleShot(1000, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
  return CpuSeconds() - before;
}

// A pseudo-terminal never reports output as queued, so this follows the line's own schedule
// for one byte that never leaves.
int HeldOutputWakeUps() {
  int wakeUps = 0;
  std::uint64_t waited = 0, ms = 0;
  for (std::uint32_t last = 0; waited < 1000; last = 1, ++wakeUps)
    waited += ms = vardelio::TxRecheckMs(1, 115200, last, ms);
  return wakeUps;
}

// Close of a port while its device floods it.
double CloseFloodedMillis() {
  TBenchPty pty;
  TArrivals arrivals;
  auto receiver = OurPort(pty.Path(), arrivals);
  std::atomic<bool> flooding = true;
  std::thread flood([&] {
    const std::string burst(4096, 'x');
    while (flooding) {
      if (pty.TrySend(burst.data(), burst.size()) == 0) std::this_thread::yield();
    }
  });
  const TClock::time_point until = TClock::now() + std::chrono::milliseconds(200);
  ServeUntil([&] { return TClock::now() > until; });
  const TClock::time_point start = TClock::now();
  receiver.reset();
  const double ms = std::chrono::duration<double, std::milli>(TClock::now() - start).count();
  flooding = false;
  flood.join();
  return ms;
}

}  // namespace

void PrintOtherFigures(QTimer& watchdog) {
  std::printf("\nevent thread wake-ups while idle: %s\n", IdleWakeUps().c_str());
  std::printf("event thread wake-ups in 1 s of output held by flow control at 115200 baud: %d\n",
              HeldOutputWakeUps());
  std::printf("closing a flooded port: %.1f ms\n", CloseFloodedMillis());
  watchdog.stop();  // the hang-up's CPU is the receivers' alone
  int qtErrors = 0;
  const double oursCpu = CpuAfterHangUpFor("ours", nullptr);
  const double qtCpu = CpuAfterHangUpFor("qt", &qtErrors);
  std::printf(
      "CPU in the second after the device hangs up: ours %.3f s, Qt %.3f s (%d error "
      "signals)\n",
      oursCpu, qtCpu, qtErrors);
}

}  // namespace vardelio::bench
