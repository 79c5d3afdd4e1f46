#include "Measure.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>

#include "BenchPty.h"
#include "CoreLayout.h"
#include "Receivers.h"

namespace vardelio::bench {

namespace {

bool markWriter = false;  // the writer names itself (gettid) for the system-call count

long MainThreadPreemptions() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nivcsw;
}

double CpuMicros(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

std::unique_ptr<TReceiver> Make(const std::string& which, const TBenchPty& pty,
                                TArrivals& arrivals) {
  const std::string& path = pty.Path();
  if (which == "ours") return OurPort(path, arrivals);
  if (which == "ours window-sync") return OurPort(path, arrivals, vardelio::smWindowSync);
  if (which == "ours none") return OurPort(path, arrivals, vardelio::smNone);
  if (which == "bare") return BarePollReader(path, arrivals);
  if (which == "bare + hand-over") return BareReaderWithHandOver(path, arrivals);
  if (which == "bare + send") return BareReaderWithHandOver(path, arrivals, true);
  if (which == "bare + post") return BareReaderWithPost(path, arrivals);
  if (which == "bare + Qt blocking") return BareReaderWithQtBlocking(path, arrivals);
  if (which == "bare + Qt send") return BareReaderWithQtSend(path, arrivals);
  return QtSerialPort(path, arrivals);  // "qt", and Qt beside each of our modes
}

// The main thread serves the event loop (main-thread receivers need it) until `done`.
void ServeUntil(const std::function<bool()>& done) {
  while (!done())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);  // the watchdog wakes it
}

double Micros(TClock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// One packet at a time from a writer thread: the time from its write to its arrival.
void MeasureLatency(const TBenchPty& pty, TArrivals& arrivals, int packets, TFigures& figures) {
  arrivals.Reset(std::size_t(packets));
  std::vector<TClock::time_point> sent(static_cast<std::size_t>(packets));
  std::atomic<bool> finished = false;
  std::thread writer([&] {
    if (markWriter) syscall(SYS_gettid);
    for (int i = 0; i < packets; ++i) {
      const std::string packet = Packet(i);
      sent[std::size_t(i)] = TClock::now();
      pty.Send(packet.data(), packet.size());
      if (!arrivals.WaitFor(std::size_t(i + 1), 2000)) break;
    }
    finished = true;
  });
  ServeUntil([&] { return finished.load(); });
  writer.join();
  std::vector<double> latencies;
  for (int i = 0; i < int(arrivals.Count()); ++i)
    latencies.push_back(Micros(arrivals.At(i) - sent[std::size_t(i)]));
  std::sort(latencies.begin(), latencies.end());
  if (latencies.empty()) return;
  figures.medianUs = latencies[latencies.size() / 2];
  figures.p99Us = latencies[latencies.size() * 99 / 100];
}

struct TRate {
  double packetsPerSecond = 0;
  double cpuUs = 0;  // per packet: the process's CPU, the writer's taken out
};

// The whole stream from a writer thread, as fast as the receiver takes it. Left free, the
// writer and the receiver's threads share both cores as the scheduler places them; pinned,
// the writer plays a device with a core of its own and every receiver gets the other one.
TRate MeasureThroughput(const TBenchPty& pty, TArrivals& arrivals, TFigures& figures,
                        TLayout layout) {
  const TPinned pinned(layout);
  arrivals.Reset(kThroughputPackets);
  const std::string& stream = Stream();
  std::atomic<bool> finished = false;
  std::atomic<bool> writerPinned = true;
  double writerCpu = 0;
  const double cpuBefore = CpuMicros(CLOCK_PROCESS_CPUTIME_ID);
  const TClock::time_point start = TClock::now();
  std::thread writer([&] {
    if (layout == TLayout::pinned) writerPinned = PinThread(0, DeviceCore());
    pty.Send(stream.data(), stream.size());
    arrivals.WaitFor(kThroughputPackets, 2000);
    writerCpu = CpuMicros(CLOCK_THREAD_CPUTIME_ID);
    finished = true;
  });
  const long preempted = MainThreadPreemptions();
  ServeUntil([&] { return finished.load(); });
  if (layout == TLayout::free) figures.preempted = MainThreadPreemptions() - preempted;
  writer.join();
  const double cpu = CpuMicros(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore - writerCpu;
  const double seconds = std::chrono::duration<double>(arrivals.Last() - start).count();
  figures.lost += arrivals.Lost();
  const bool asLaidOut = layout == TLayout::free || (pinned.Held() && writerPinned);
  if (seconds <= 0 || !asLaidOut || arrivals.Count() == 0) return {};
  return {double(arrivals.Count()) / seconds, cpu / double(arrivals.Count())};
}

}  // namespace

const std::string& Stream() {
  static const std::string stream = [] {
    std::string all;
    all.reserve(std::size_t(kThroughputPackets) * 8);
    for (int i = 0; i < kThroughputPackets; ++i)
      all += Packet(i);
    return all;
  }();
  return stream;
}

TFigures RunPeer(const std::string& which) {
  TBenchPty pty;
  TArrivals arrivals;
  std::unique_ptr<TReceiver> receiver = Make(which, pty, arrivals);
  TFigures figures;
  MeasureLatency(pty, arrivals, kLatencyPackets, figures);
  const TRate free = MeasureThroughput(pty, arrivals, figures, TLayout::free);
  figures.packetsPerSecond = free.packetsPerSecond;
  figures.cpuUs = free.cpuUs;
  if (Pinnable()) {
    const TRate pinned = MeasureThroughput(pty, arrivals, figures, TLayout::pinned);
    figures.pinnedPacketsPerSecond = pinned.packetsPerSecond;
    figures.pinnedCpuUs = pinned.cpuUs;
  }
  return figures;
}

int ThroughputOnly(const std::string& which, int runs) {
  for (int r = 0; r < runs; ++r) {
    TBenchPty pty;
    TArrivals arrivals;
    auto receiver = Make(which, pty, arrivals);
    TFigures figures;
    const TRate free = MeasureThroughput(pty, arrivals, figures, TLayout::free);
    const TRate pinned =
        Pinnable() ? MeasureThroughput(pty, arrivals, figures, TLayout::pinned) : TRate{};
    std::printf("%.0f packets/s free (%.3f us CPU/packet), %.0f pinned (%.3f us)\n",
                free.packetsPerSecond, free.cpuUs, pinned.packetsPerSecond, pinned.cpuUs);
  }
  return 0;
}

int SyscallRun(const std::string& which) {
  TBenchPty pty;
  TArrivals arrivals;
  std::unique_ptr<TReceiver> receiver = Make(which, pty, arrivals);
  TFigures figures;
  MeasureLatency(pty, arrivals, 50, figures);  // warm up outside the markers
  markWriter = true;
  syscall(SYS_getppid);
  MeasureLatency(pty, arrivals, kLatencyPackets, figures);
  syscall(SYS_getppid);
  std::printf("%d\n", kLatencyPackets);
  return 0;
}

}  // namespace vardelio::bench
