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
  long preempted = 0;                 // the main thread, during the throughput run
  int lost = 0;
};
using TRuns = std::map<std::string, std::vector<TFigures>>;

// A median with the smallest and largest value it was taken from.
struct TSpread {
  double median = 0, min = 0, max = 0;
  std::size_t count = 0;  // 0: nothing was measured
};
TSpread SpreadOf(std::vector<double> values);
// "x0.98 (0.95-1.02)", or "n/a" when nothing was measured
std::string RatioText(const TSpread& spread);

// Each of our delivery modes and the peer it is held against.
struct TModeFloor {
  const char* mode;   // as the peers are named: "ours", "ours window-sync", ...
  const char* label;  // "thread-sync"
  const char* floor;  // "bare + hand-over"
};
extern const TModeFloor kModeFloors[3];

// The hand-over probe: round trips from a worker thread to the main thread and back.
struct THandOverProbe {
  int calls = 0;
  std::vector<double> ourUs, qtUs, eventfdUs;  // the median round trip of each run
};

// The framer alone against the peers' splitter, CPU per packet in each run.
struct TFramerCost {
  std::size_t block = 0;
  std::vector<double> framerUs, splitterUs;
};

void PrintPeers(const TRuns& runs, const std::vector<std::string>& peers);
void PrintRatios(const TRuns& runs, const std::vector<std::string>& peers);
void PrintHandOverProbe(const THandOverProbe& probe);
void PrintFramerCost(const TFramerCost& cost);
// One table to paste: each mode against its floor, the hand-over and the framer.
void PrintSummary(const TRuns& runs, const THandOverProbe& probe, const TFramerCost& cost);

}  // namespace vardelio::bench
