#pragma once
// The bench's figures and how they are printed: medians with the range over the runs, and
// ratios paired within each run, which a shared, noisy machine cannot skew as a whole.

#include <map>
#include <string>
#include <vector>

namespace vardelio::bench {

// One receiver in one repetition.
struct TFigures {
  double medianUs = 0, p99Us = 0, packetsPerSecond = 0;
  double pinnedPacketsPerSecond = 0;  // the device's writer on a core of its own
  // CPU per packet of the receiver's threads and the main thread, the writer's left out.
  double cpuUs = 0, pinnedCpuUs = 0;
  long preempted = 0;  // the main thread, during the throughput run
  int lost = 0;
};
using TRuns = std::map<std::string, std::vector<TFigures>>;

// A figure of a receiver, by name; 0 where it was not measured.
struct TColumn {
  const char* title;
  double (*value)(const TFigures&);
};
// Latency median and p99, throughput free and pinned, CPU per packet free and pinned.
extern const TColumn kColumns[6];

// A median with the smallest and largest value it was taken from.
struct TSpread {
  double median = 0, min = 0, max = 0;
  std::size_t count = 0;  // 0: nothing was measured
};
TSpread SpreadOf(std::vector<double> values);
// "x0.98 (0.95-1.02)", or "n/a" when nothing was measured
std::string RatioText(const TSpread& spread);
// ours / peer within each repetition
TSpread Paired(const TRuns& runs, const std::string& ours, const std::string& peer,
               const TColumn& column);
TSpread PairedValues(const std::vector<double>& ours, const std::vector<double>& peer);

// Each of our delivery modes and the receivers run right beside it in every repetition.
struct TModeGroup {
  const char* mode;                 // as the receivers are named: "ours", "ours window-sync", ...
  const char* label;                // "thread-sync"
  const char* floor;                // the floor that shares nothing of ours
  std::vector<const char*> others;  // floors built on our hand-over, or for another purpose
  const char* qt;                   // Qt's serial port, the run beside this mode
};
extern const std::vector<TModeGroup> kModeGroups;
// Every receiver, group by group.
std::vector<std::string> AllReceivers();

// The hand-over probe: round trips from a worker thread to the main thread and back, back to
// back, and with the worker napping before each call so the main thread sleeps when it starts.
struct THandOverProbe {
  int calls = 0, asleepCalls = 0, napUs = 0;
  std::vector<double> ourUs, qtUs, eventfdUs;  // the median round trip of each run
  std::vector<double> ourAsleepUs, qtAsleepUs;
  std::vector<double> serveAsleepUs;  // THandOver::Call served by ServeUntil
};

// The framer alone against the peers' splitter, CPU per packet in each run.
struct TFramerCost {
  std::size_t block = 0;
  std::vector<double> framerUs, splitterUs;
};

void PrintPeers(const TRuns& runs);
void PrintRatios(const TRuns& runs);
void PrintHandOverProbe(const THandOverProbe& probe);
void PrintFramerCost(const TFramerCost& cost);
// The tables to paste: each ratio with its range, and CPU per packet.
void PrintSummary(const TRuns& runs, const THandOverProbe& probe,
                  const std::vector<TFramerCost>& framer);

}  // namespace vardelio::bench
