#include "BenchReport.h"

#include <algorithm>
#include <cstdio>
#include <functional>

namespace vardelio::bench {

const TModeFloor kModeFloors[3] = {
    {"ours", "thread-sync", "bare + hand-over"},
    {"ours window-sync", "window-sync", "bare + send"},
    {"ours none", "none", "bare"},
};

TSpread SpreadOf(std::vector<double> values) {
  if (values.empty()) return {};
  std::sort(values.begin(), values.end());
  return {values[values.size() / 2], values.front(), values.back(), values.size()};
}

std::string RatioText(const TSpread& spread) {
  if (spread.count == 0) return "n/a";
  char text[48];
  std::snprintf(text, sizeof text, "x%.2f (%.2f-%.2f)", spread.median, spread.min, spread.max);
  return text;
}

namespace {

using TField = std::function<double(const TFigures&)>;

const TField kMedian = [](const TFigures& f) { return f.medianUs; };
const TField kP99 = [](const TFigures& f) { return f.p99Us; };
const TField kRate = [](const TFigures& f) { return f.packetsPerSecond; };
const TField kPinnedRate = [](const TFigures& f) { return f.pinnedPacketsPerSecond; };

TSpread Values(const TRuns& runs, const std::string& peer, const TField& field) {
  std::vector<double> values;
  for (const TFigures& f : runs.at(peer)) {
    if (field(f) > 0) values.push_back(field(f));
  }
  return SpreadOf(values);
}

// Ours / peer within each run.
TSpread Paired(const TRuns& runs, const std::string& ours, const std::string& peer,
               const TField& field) {
  const std::vector<TFigures>& a = runs.at(ours);
  const std::vector<TFigures>& b = runs.at(peer);
  std::vector<double> ratios;
  for (std::size_t r = 0; r < std::min(a.size(), b.size()); ++r) {
    // A figure of 0 was not measured (no second core to pin to).
    if (field(a[r]) > 0 && field(b[r]) > 0) ratios.push_back(field(a[r]) / field(b[r]));
  }
  return SpreadOf(ratios);
}

// Round trips are paired within a run, like the receivers.
TSpread PairedProbe(const std::vector<double>& ours, const std::vector<double>& peer) {
  std::vector<double> ratios;
  for (std::size_t r = 0; r < std::min(ours.size(), peer.size()); ++r) {
    if (peer[r] > 0) ratios.push_back(ours[r] / peer[r]);
  }
  return SpreadOf(ratios);
}

TSpread Differences(const TFramerCost& cost) {
  std::vector<double> differences;
  for (std::size_t r = 0; r < std::min(cost.framerUs.size(), cost.splitterUs.size()); ++r)
    differences.push_back(cost.framerUs[r] - cost.splitterUs[r]);
  return SpreadOf(differences);
}

bool IsOurs(const std::string& peer) {
  return peer.rfind("ours", 0) == 0;
}

}  // namespace

namespace {

// "9123456 (8000000-11000000)", or "n/a"
std::string RateText(const TSpread& rate) {
  if (rate.count == 0) return "n/a";
  char text[48];
  std::snprintf(text, sizeof text, "%9.0f (%7.0f-%7.0f)", rate.median, rate.min, rate.max);
  return text;
}

}  // namespace

void PrintPeers(const TRuns& runs, const std::vector<std::string>& peers) {
  std::printf("%-18s %-24s %-24s %-28s %-28s %s\n", "receiver", "latency median us",
              "latency p99 us", "throughput packets/s", "pinned packets/s",
              "preempted  lost (all runs)");
  for (const std::string& peer : peers) {
    const TSpread median = Values(runs, peer, kMedian), p99 = Values(runs, peer, kP99);
    std::vector<double> preempted;
    int lost = 0;
    for (const TFigures& f : runs.at(peer)) {
      preempted.push_back(double(f.preempted));
      lost += f.lost;
    }
    std::printf("%-18s %6.1f (%5.1f-%6.1f)    %7.1f (%6.1f-%6.1f)  %-28s %-28s %9.0f  %4d\n",
                peer.c_str(), median.median, median.min, median.max, p99.median, p99.min, p99.max,
                RateText(Values(runs, peer, kRate)).c_str(),
                RateText(Values(runs, peer, kPinnedRate)).c_str(), SpreadOf(preempted).median,
                lost);
  }
}

void PrintRatios(const TRuns& runs, const std::vector<std::string>& peers) {
  for (const TModeFloor& mode : kModeFloors) {
    std::printf("\n%s (%s) / peer, median of the runs' paired ratios (min-max); * its floor\n",
                mode.label, mode.mode);
    std::printf("  %-18s %-20s %-20s %-20s %s\n", "peer", "latency median", "latency p99",
                "throughput", "pinned");
    for (const std::string& peer : peers) {
      if (IsOurs(peer)) continue;
      std::printf("  %-17s%s %-20s %-20s %-20s %s\n", peer.c_str(), peer == mode.floor ? "*" : " ",
                  RatioText(Paired(runs, mode.mode, peer, kMedian)).c_str(),
                  RatioText(Paired(runs, mode.mode, peer, kP99)).c_str(),
                  RatioText(Paired(runs, mode.mode, peer, kRate)).c_str(),
                  RatioText(Paired(runs, mode.mode, peer, kPinnedRate)).c_str());
    }
  }
}

void PrintHandOverProbe(const THandOverProbe& probe) {
  const TSpread ours = SpreadOf(probe.ourUs), qt = SpreadOf(probe.qtUs);
  const TSpread eventfd = SpreadOf(probe.eventfdUs);
  std::printf(
      "\nhand-over probe, round trip worker -> main thread -> worker, median of %d calls per "
      "run, median (min-max) over %zu runs:\n",
      probe.calls, probe.ourUs.size());
  std::printf("  THandOver::Call                   %6.2f us (%.2f-%.2f)\n", ours.median, ours.min,
              ours.max);
  std::printf("  Qt BlockingQueuedConnection       %6.2f us (%.2f-%.2f)\n", qt.median, qt.min,
              qt.max);
  std::printf("  eventfd ping-pong, two threads    %6.2f us (%.2f-%.2f)\n", eventfd.median,
              eventfd.min, eventfd.max);
  std::printf("  THandOver::Call / Qt %s, / eventfd %s (paired)\n",
              RatioText(PairedProbe(probe.ourUs, probe.qtUs)).c_str(),
              RatioText(PairedProbe(probe.ourUs, probe.eventfdUs)).c_str());
}

void PrintFramerCost(const TFramerCost& cost) {
  const TSpread framer = SpreadOf(cost.framerUs), splitter = SpreadOf(cost.splitterUs);
  const TSpread extra = Differences(cost);
  std::printf(
      "\nframer alone, CPU per packet in reads of %zu bytes, median (min-max) over %zu runs:\n"
      "  ours %.3f us (%.3f-%.3f), the peers' offset splitter %.3f us (%.3f-%.3f), "
      "ours - splitter %+.3f us (%+.3f-%+.3f)\n",
      cost.block, cost.framerUs.size(), framer.median, framer.min, framer.max, splitter.median,
      splitter.min, splitter.max, extra.median, extra.min, extra.max);
}

void PrintSummary(const TRuns& runs, const THandOverProbe& probe, const TFramerCost& cost) {
  std::printf(
      "\nsummary: medians of paired ratios in this run (min-max over the runs)\n\n"
      "| ours | against | latency median | latency p99 | throughput, free | throughput, pinned "
      "|\n|---|---|---|---|---|---|\n");
  auto row = [&](const char* label, const char* mode, const char* peer) {
    std::printf("| %s | %s | %s | %s | %s | %s |\n", label, peer,
                RatioText(Paired(runs, mode, peer, kMedian)).c_str(),
                RatioText(Paired(runs, mode, peer, kP99)).c_str(),
                RatioText(Paired(runs, mode, peer, kRate)).c_str(),
                RatioText(Paired(runs, mode, peer, kPinnedRate)).c_str());
  };
  for (const TModeFloor& mode : kModeFloors)
    row(mode.label, mode.mode, mode.floor);
  row("thread-sync", "ours", "qt");
  const TSpread p99 = Values(runs, "ours", kP99);
  const TSpread extra = Differences(cost);
  std::printf(
      "\n| figure | value |\n|---|---|\n"
      "| thread-sync latency p99 | %.0f us (%.0f-%.0f) |\n"
      "| THandOver::Call round trip | %.2f us; %s of Qt's blocking queued call, %s of an "
      "eventfd ping-pong |\n"
      "| framer, reads of %zu bytes | %.3f us/packet, %+.3f us (%+.3f-%+.3f) against the "
      "offset splitter |\n",
      p99.median, p99.min, p99.max, SpreadOf(probe.ourUs).median,
      RatioText(PairedProbe(probe.ourUs, probe.qtUs)).c_str(),
      RatioText(PairedProbe(probe.ourUs, probe.eventfdUs)).c_str(), cost.block,
      SpreadOf(cost.framerUs).median, extra.median, extra.min, extra.max);
}

}  // namespace vardelio::bench
