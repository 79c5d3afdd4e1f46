// Measures the received-packet path over a pseudo-terminal, against two peers: a bare poll
// reader (the kernel's limit) and Qt's serial module. Prints figures; asserts nothing.

#include <dirent.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>

#include "BenchPty.h"
#include "Receivers.h"
#include "serial/ComError.h"
#include "serial/platform/Timeouts.h"

using namespace vardelio::bench;

namespace {

constexpr int kLatencyPackets = 2000;
constexpr int kThroughputPackets = 20000;

struct TFigures {
  double medianUs = 0, p99Us = 0, packetsPerSecond = 0;
  int lost = 0;
};

void PumpUntil(const TReceiver& receiver, TArrivals& arrivals, std::size_t count, int quietMs) {
  if (!receiver.OnMainThread()) {
    arrivals.WaitFor(count, quietMs);
    return;
  }
  auto lastProgress = TClock::now();
  std::size_t seen = arrivals.Count();
  while (seen < count) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);  // the watchdog wakes it
    if (arrivals.Count() != seen) {
      seen = arrivals.Count();
      lastProgress = TClock::now();
    } else if (TClock::now() - lastProgress > std::chrono::milliseconds(quietMs)) {
      return;
    }
  }
}

double Micros(TClock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

void MeasureLatency(const TBenchPty& pty, const TReceiver& receiver, TArrivals& arrivals,
                    TFigures& figures) {
  arrivals.Reset(kLatencyPackets);
  std::vector<double> latencies;
  for (int i = 0; i < kLatencyPackets; ++i) {
    const std::string packet = Packet(i);
    const TClock::time_point sent = TClock::now();
    pty.Send(packet.data(), packet.size());
    PumpUntil(receiver, arrivals, std::size_t(i + 1), 2000);
    if (arrivals.Count() < std::size_t(i + 1)) break;
    latencies.push_back(Micros(arrivals.At(i) - sent));
  }
  std::sort(latencies.begin(), latencies.end());
  if (latencies.empty()) return;
  figures.medianUs = latencies[latencies.size() / 2];
  figures.p99Us = latencies[latencies.size() * 99 / 100];
}

void MeasureThroughput(const TBenchPty& pty, const TReceiver& receiver, TArrivals& arrivals,
                       TFigures& figures) {
  arrivals.Reset(kThroughputPackets);
  std::string stream;
  for (int i = 0; i < kThroughputPackets; ++i)
    stream += Packet(i);
  const TClock::time_point start = TClock::now();
  std::thread writer([&] { pty.Send(stream.data(), stream.size()); });
  PumpUntil(receiver, arrivals, kThroughputPackets, 2000);
  writer.join();
  const double seconds = std::chrono::duration<double>(arrivals.Last() - start).count();
  figures.packetsPerSecond = seconds > 0 ? double(arrivals.Count()) / seconds : 0;
  figures.lost = arrivals.Lost();
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

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for a second after the device hangs up; the CPU the process used.
double CpuAfterHangUp(TBenchPty& pty) {
  pty.HangUp();
  const double before = CpuSeconds();
  QTimer::singleShot(1000, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
  return CpuSeconds() - before;
}

TFigures Run(const char* which, std::string* idleReport = nullptr) {
  TBenchPty pty;
  TArrivals arrivals;
  const std::set<int> before = Threads();
  std::unique_ptr<TReceiver> receiver;
  if (std::string(which) == "ours") receiver = OurPort(pty.Path(), arrivals);
  if (std::string(which) == "bare") receiver = BarePollReader(pty.Path(), arrivals);
  if (std::string(which) == "qt") receiver = QtSerialPort(pty.Path(), arrivals);
  TFigures figures;
  MeasureLatency(pty, *receiver, arrivals, figures);
  MeasureThroughput(pty, *receiver, arrivals, figures);
  if (idleReport != nullptr) {
    std::set<int> added;
    for (int tid : Threads()) {
      if (!before.count(tid)) added.insert(tid);
    }
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    long switches = 0;
    for (int tid : added)
      switches -= ContextSwitches(tid);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (int tid : added)
      switches += ContextSwitches(tid);
    *idleReport = std::to_string(switches) + " in 1 s over " + std::to_string(added.size()) +
                  " event thread(s)";
  }
  return figures;
}

double CpuAfterHangUpFor(const char* which, int* qtErrors) {
  TBenchPty pty;
  TArrivals arrivals;
  std::unique_ptr<TReceiver> receiver = std::string(which) == "ours"
                                            ? OurPort(pty.Path(), arrivals)
                                            : QtSerialPort(pty.Path(), arrivals, qtErrors);
  return CpuAfterHangUp(pty);
}

void Print(const char* name, const TFigures& f) {
  std::printf(
      "%-20s latency median %8.1f us   p99 %8.1f us   throughput %9.0f packets/s   lost %d\n", name,
      f.medianUs, f.p99Us, f.packetsPerSecond, f.lost);
}

void Ratios(const char* peer, const TFigures& ours, const TFigures& other) {
  std::printf("ours / %-16s latency median x%.2f   p99 x%.2f   throughput x%.2f\n", peer,
              ours.medianUs / other.medianUs, ours.p99Us / other.p99Us,
              ours.packetsPerSecond / other.packetsPerSecond);
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

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  vardelio::InitPortErrorMessages({});
  QTimer watchdog;  // lets a waiting event loop look at the clock now and then
  watchdog.start(200);

  std::string idle;
  const TFigures ours = Run("ours", &idle);
  const TFigures bare = Run("bare");
  const TFigures qt = Run("qt");
  std::printf("packets of 8 bytes ('S' + 6 digits + 'Z'); %d for latency, %d for throughput\n\n",
              kLatencyPackets, kThroughputPackets);
  Print("ours", ours);
  Print("bare poll reader", bare);
  Print("Qt serial port", qt);
  std::printf("\n");
  Ratios("bare poll reader", ours, bare);
  Ratios("Qt serial port", ours, qt);
  std::printf("\nevent thread wake-ups while idle: %s\n", idle.c_str());
  std::printf("event thread wake-ups in 1 s of output held by flow control at 115200 baud: %d\n",
              HeldOutputWakeUps());

  watchdog.stop();
  int qtErrors = 0;
  const double oursCpu = CpuAfterHangUpFor("ours", nullptr);
  const double qtCpu = CpuAfterHangUpFor("qt", &qtErrors);
  std::printf(
      "CPU in the second after the device hangs up: ours %.3f s, Qt %.3f s (%d error "
      "signals)\n",
      oursCpu, qtCpu, qtErrors);
  return ours.lost == 0 ? 0 : 1;
}
