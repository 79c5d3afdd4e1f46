// Measures the received-packet path over a pseudo-terminal: our port in each delivery mode
// against peers that frame as well as it can be done (cut at an offset, compact once per
// chunk). Each mode runs, in every repetition, right beside its floor built from Qt's own
// mechanisms alone and beside Qt's serial port; the floors built on our hand-over, where its
// cost cancels out, run in the same group. Ratios are medians of the ratios paired within each
// repetition, with their range. Prints figures; asserts nothing. `--help` lists the options.

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "BenchReport.h"
#include "CoreLayout.h"
#include "Measure.h"
#include "OtherFigures.h"
#include "Probes.h"
#include "serial/ComError.h"

using namespace vardelio::bench;

namespace {

constexpr int kRepetitions = 15;
constexpr int kProbeCalls = 2000;
constexpr int kAsleepCalls = 200;
constexpr int kNapUs = 1000;
constexpr std::size_t kReadSizes[] = {8, 64, 4096};

const char kUsage[] =
    "usage: serial_bench [option]\n"
    "  (none)              every receiver, interleaved over the repetitions, then the\n"
    "                      hand-over probe, the framer, idle, hang-up and close figures,\n"
    "                      and the summary tables\n"
    "  --probes            only the hand-over probe and the framer\n"
    "  --throughput R      only receiver R's throughput and CPU per packet, ten times in\n"
    "                      each layout (for a profiler)\n"
    "  --asleep K          only the hand-over round trip with the main thread asleep, K one\n"
    "                      of ours, qt, serve (ours served by ServeUntil), 5000 calls (for a\n"
    "                      profiler)\n"
    "  --framer B          only the framer and the splitter in reads of B bytes, 60 times\n"
    "                      (for a profiler)\n"
    "  --syscalls R        only receiver R's latency run between two getppid() markers, for\n"
    "                      bench/syscalls.sh\n"
    "  --help              this text\n"
    "receivers: ours, ours window-sync, ours none, bare, bare + hand-over, bare + send,\n"
    "bare + post, bare + Qt blocking, bare + Qt send, qt\n";

// The machine is shared: what else ran shows in the load while the bench ran.
std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  double one = 0, five = 0, fifteen = 0;
  file >> one >> five >> fifteen;
  char text[48];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
  return text;
}

// Each mode runs between its floor and Qt's port, so the ratios that count pair runs a moment
// apart on a machine whose load keeps changing; the groups rotate, the order within a group
// turns round, and the other floors go first or last.
void RunRepetition(int r, TRuns& runs) {
  const std::size_t rotation = std::size_t(r);
  for (std::size_t g = 0; g < kModeGroups.size(); ++g) {
    const TModeGroup& group = kModeGroups[(g + rotation) % kModeGroups.size()];
    std::vector<std::string> order = {group.floor, group.mode, group.qt};
    if (r % 2 == 1) std::reverse(order.begin(), order.end());
    const auto at = (r / 2) % 2 == 0 ? order.begin() : order.end();
    order.insert(at, group.others.begin(), group.others.end());
    for (const std::string& receiver : order)
      runs[receiver].push_back(RunPeer(receiver));
  }
}

struct TProbes {
  THandOverProbe handOver;
  std::vector<TFramerCost> framer;  // one per read size
};

TProbes RunProbes() {
  TProbes probes{ProbeHandOver(kRepetitions, kProbeCalls, kAsleepCalls, kNapUs), {}};
  PrintHandOverProbe(probes.handOver);
  for (std::size_t block : kReadSizes) {
    probes.framer.push_back(MeasureFramer(Stream(), block, kRepetitions));
    PrintFramerCost(probes.framer.back());
  }
  return probes;
}

int Asleep(const std::string& which) {
  std::printf("%.2f us\n", ProbeAsleep(which, 5000, kNapUs));
  return 0;
}

int FramerOnly(const char* block) {
  const long size = std::strtol(block, nullptr, 10);
  if (size <= 0) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  PrintFramerCost(MeasureFramer(Stream(), std::size_t(size), 60));
  return 0;
}

int RunAll(QTimer& watchdog) {
  const std::string loadBefore = LoadAverage();
  std::printf("load average (1, 5, 15 min) at the start: %s\n", loadBefore.c_str());
  TRuns runs;
  for (int r = 0; r < kRepetitions; ++r)
    RunRepetition(r, runs);
  std::printf(
      "%d repetitions, each mode between its floor and Qt's port; packets of 8 bytes ('S' + 6 "
      "digits + 'Z'); %d for latency, %d for throughput; CPU of the receiver's threads and the "
      "main thread, the writer's left out; median (min-max) over the repetitions\n\n",
      kRepetitions, kLatencyPackets, kThroughputPackets);
  PrintPeers(runs);
  PrintRatios(runs);
  const TProbes probes = RunProbes();
  PrintOtherFigures(watchdog);
  std::printf("\nload average (1, 5, 15 min): %s at the start, %s at the end\n", loadBefore.c_str(),
              LoadAverage().c_str());
  PrintSummary(runs, probes.handOver, probes.framer);
  int lost = 0;
  for (const auto& [receiver, figures] : runs) {
    for (const TFigures& f : figures)
      lost += f.lost;
  }
  return lost == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const bool probesOnly = argc == 2 && std::strcmp(argv[1], "--probes") == 0;
  const char* option = argc == 3 ? argv[1] : "";
  const bool known = std::strcmp(option, "--syscalls") == 0 ||
                     std::strcmp(option, "--throughput") == 0 ||
                     std::strcmp(option, "--asleep") == 0 || std::strcmp(option, "--framer") == 0;
  if (argc > 1 && !probesOnly && !known) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  AllowedCores();  // before anything is pinned
  QCoreApplication app(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  vardelio::InitPortErrorMessages({});
  QTimer watchdog;  // lets a waiting event loop look at the clock now and then
  watchdog.start(200);
  if (std::strcmp(option, "--syscalls") == 0) return SyscallRun(argv[2]);
  if (std::strcmp(option, "--throughput") == 0) return ThroughputOnly(argv[2], 10);
  if (std::strcmp(option, "--asleep") == 0) return Asleep(argv[2]);
  if (std::strcmp(option, "--framer") == 0) return FramerOnly(argv[2]);
  if (probesOnly) {
    RunProbes();
    return 0;
  }
  return RunAll(watchdog);
}
