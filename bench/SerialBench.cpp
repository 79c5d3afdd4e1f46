// Measures the received-packet path over a pseudo-terminal: our port in each delivery mode
// against five peers, each framing as the peers do (cut at an offset, compact once per chunk):
// a bare poll reader that frames on its own thread (held against delivery on the event
// thread); the same reader handing each chunk to the main thread through our hand-over and
// waiting until it is processed (the floor for thread-sync delivery) or only until it is
// taken (the floor for window-sync delivery), or posting a copy without waiting (the floor
// for a delivery that does not wait); and Qt's serial module. The receivers run interleaved,
// repetition after repetition, in one process, each of our modes right beside its floor;
// ratios are medians of the ratios paired within each repetition, with their range. Prints
// figures; asserts nothing.
//
//   serial_bench              the comparison, the hand-over probe, the framer, then idle,
//                             hang-up and close figures, and a summary table to paste
//   serial_bench --syscalls P only peer P's latency run, between two getppid() markers,
//                             for bench/syscalls.sh to count under strace
//   serial_bench --throughput P  only peer P's throughput, ten times in each layout (for a
//                             profiler)
//   serial_bench --probes     only the hand-over probe and the framer

#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "BenchPty.h"
#include "BenchReport.h"
#include "CoreLayout.h"
#include "Probes.h"
#include "Receivers.h"
#include "serial/ComError.h"
#include "serial/platform/Timeouts.h"

using namespace vardelio::bench;

namespace {

constexpr int kRepetitions = 15;
constexpr int kLatencyPackets = 400;
// Long enough that one scheduling hiccup does not decide a run.
constexpr int kThroughputPackets = 200000;
constexpr int kProbeCalls = 2000;
const std::vector<std::string> kPeers = {
    "ours",        "ours window-sync", "ours none", "bare + hand-over",
    "bare + send", "bare + post",      "bare",      "qt"};
bool markWriter = false;  // the writer names itself (gettid) for the system-call count

// The throughput run's stream, made once.
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

long MainThreadPreemptions() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nivcsw;
}

std::unique_ptr<TReceiver> Make(const std::string& which, const TBenchPty& pty,
                                TArrivals& arrivals) {
  if (which == "ours") return OurPort(pty.Path(), arrivals);
  if (which == "ours window-sync") return OurPort(pty.Path(), arrivals, vardelio::smWindowSync);
  if (which == "ours none") return OurPort(pty.Path(), arrivals, vardelio::smNone);
  if (which == "bare") return BarePollReader(pty.Path(), arrivals);
  if (which == "bare + hand-over") return BareReaderWithHandOver(pty.Path(), arrivals);
  if (which == "bare + send") return BareReaderWithHandOver(pty.Path(), arrivals, true);
  if (which == "bare + post") return BareReaderWithPost(pty.Path(), arrivals);
  return QtSerialPort(pty.Path(), arrivals);
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

// The whole stream from a writer thread, as fast as the receiver takes it. Left free, the
// writer and the receiver's threads share both cores as the scheduler places them; pinned,
// the writer plays a device with a core of its own and every receiver gets the other one.
double MeasureThroughput(const TBenchPty& pty, TArrivals& arrivals, TFigures& figures,
                         TLayout layout) {
  const TPinned pinned(layout);
  arrivals.Reset(kThroughputPackets);
  const std::string& stream = Stream();
  std::atomic<bool> finished = false;
  const TClock::time_point start = TClock::now();
  std::atomic<bool> writerPinned = true;
  std::thread writer([&] {
    if (layout == TLayout::pinned) writerPinned = PinThread(0, DeviceCore());
    pty.Send(stream.data(), stream.size());
    arrivals.WaitFor(kThroughputPackets, 2000);
    finished = true;
  });
  const long preempted = MainThreadPreemptions();
  ServeUntil([&] { return finished.load(); });
  if (layout == TLayout::free) figures.preempted = MainThreadPreemptions() - preempted;
  writer.join();
  const double seconds = std::chrono::duration<double>(arrivals.Last() - start).count();
  figures.lost += arrivals.Lost();
  const bool asLaidOut = layout == TLayout::free || (pinned.Held() && writerPinned);
  return seconds > 0 && asLaidOut ? double(arrivals.Count()) / seconds : 0;
}

TFigures RunPeer(const std::string& which) {
  TBenchPty pty;
  TArrivals arrivals;
  std::unique_ptr<TReceiver> receiver = Make(which, pty, arrivals);
  TFigures figures;
  MeasureLatency(pty, arrivals, kLatencyPackets, figures);
  figures.packetsPerSecond = MeasureThroughput(pty, arrivals, figures, TLayout::free);
  if (Pinnable()) {
    figures.pinnedPacketsPerSecond = MeasureThroughput(pty, arrivals, figures, TLayout::pinned);
  }
  return figures;
}

// --- the other figures

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

int SyscallRun(const std::string& peer) {
  TBenchPty pty;
  TArrivals arrivals;
  std::unique_ptr<TReceiver> receiver = Make(peer, pty, arrivals);
  TFigures figures;
  MeasureLatency(pty, arrivals, 50, figures);  // warm up outside the markers
  markWriter = true;
  syscall(SYS_getppid);
  MeasureLatency(pty, arrivals, kLatencyPackets, figures);
  syscall(SYS_getppid);
  std::printf("%d\n", kLatencyPackets);
  return 0;
}

// The machine is shared: what else ran shows in the load while the bench ran.
std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  double one = 0, five = 0, fifteen = 0;
  file >> one >> five >> fifteen;
  char text[48];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
  return text;
}

// Each mode runs right beside its floor, so the ratio that counts pairs runs a moment apart
// on a machine whose load keeps changing; the pairs rotate and swap from one repetition to
// the next.
void RunRepetition(int r, TRuns& runs) {
  const std::pair<const char*, const char*> pairs[] = {{"ours", "bare + hand-over"},
                                                       {"ours window-sync", "bare + send"},
                                                       {"ours none", "bare"},
                                                       {"bare + post", "qt"}};
  for (std::size_t p = 0; p < std::size(pairs); ++p) {
    const auto& [first, second] = pairs[(p + std::size_t(r)) % std::size(pairs)];
    for (const char* peer : r % 2 == 0 ? std::array{first, second} : std::array{second, first})
      runs[peer].push_back(RunPeer(peer));
  }
}

int ThroughputOnly(const std::string& peer) {
  for (int r = 0; r < 10; ++r) {
    TBenchPty pty;
    TArrivals arrivals;
    auto receiver = Make(peer, pty, arrivals);
    TFigures figures;
    const double free = MeasureThroughput(pty, arrivals, figures, TLayout::free);
    const double pinned =
        Pinnable() ? MeasureThroughput(pty, arrivals, figures, TLayout::pinned) : 0;
    std::printf("%.0f packets/s free, %.0f pinned\n", free, pinned);
  }
  return 0;
}

struct TProbes {
  THandOverProbe handOver;
  TFramerCost small, large;  // reads of 64 and of 4096 bytes
};

TProbes RunProbes() {
  TProbes probes{ProbeHandOver(kRepetitions, kProbeCalls),
                 MeasureFramer(Stream(), 64, kRepetitions),
                 MeasureFramer(Stream(), 4096, kRepetitions)};
  PrintHandOverProbe(probes.handOver);
  PrintFramerCost(probes.small);
  PrintFramerCost(probes.large);
  return probes;
}

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

}  // namespace

int main(int argc, char** argv) {
  AllowedCores();  // before anything is pinned
  QCoreApplication app(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  vardelio::InitPortErrorMessages({});
  QTimer watchdog;  // lets a waiting event loop look at the clock now and then
  watchdog.start(200);
  if (argc == 3 && std::strcmp(argv[1], "--syscalls") == 0) return SyscallRun(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "--throughput") == 0) return ThroughputOnly(argv[2]);
  if (argc == 2 && std::strcmp(argv[1], "--probes") == 0) {
    RunProbes();
    return 0;
  }

  const std::string loadBefore = LoadAverage();
  TRuns runs;
  for (int r = 0; r < kRepetitions; ++r)
    RunRepetition(r, runs);
  std::printf(
      "%d repetitions, peers interleaved, each mode beside its floor; packets of 8 bytes ('S' + 6 "
      "digits + 'Z'); %d "
      "for latency, %d for throughput; median (min-max) over the repetitions\n\n",
      kRepetitions, kLatencyPackets, kThroughputPackets);
  PrintPeers(runs, kPeers);
  PrintRatios(runs, kPeers);
  const TProbes probes = RunProbes();
  PrintOtherFigures(watchdog);
  std::printf("\nload average (1, 5, 15 min): %s at the start, %s at the end\n", loadBefore.c_str(),
              LoadAverage().c_str());
  PrintSummary(runs, probes.handOver, probes.large);
  int lost = 0;
  for (const TModeFloor& mode : kModeFloors) {
    for (const TFigures& f : runs[mode.mode])
      lost += f.lost;
  }
  return lost == 0 ? 0 : 1;
}
