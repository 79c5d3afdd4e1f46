// The probes' figures and the summary tables.

#include <cstdio>

#include "BenchReport.h"

namespace vardelio::bench {

namespace {

void PrintRoundTrip(const char* label, const std::vector<double>& us) {
  const TSpread spread = SpreadOf(us);
  std::printf("  %-44s %6.2f us (%.2f-%.2f)\n", label, spread.median, spread.min, spread.max);
}

std::string FramerRatio(const TFramerCost& cost) {
  return RatioText(PairedValues(cost.framerUs, cost.splitterUs));
}

void PrintRatioRow(const TRuns& runs, const char* label, const char* mode, const char* peer) {
  std::printf("| %s | %s |", label, peer);
  for (const TColumn& column : kColumns)
    std::printf(" %s |", RatioText(Paired(runs, mode, peer, column)).c_str());
  std::printf("\n");
}

void PrintReceiverRatios(const TRuns& runs) {
  std::printf("\n| ours | against |");
  for (const TColumn& column : kColumns)
    std::printf(" %s |", column.title);
  std::printf("\n|---|---|---|---|---|---|---|---|\n");
  for (const TModeGroup& group : kModeGroups) {
    PrintRatioRow(runs, group.label, group.mode, group.floor);
    for (const char* other : group.others)
      PrintRatioRow(runs, group.label, group.mode, other);
    PrintRatioRow(runs, group.label, group.mode, group.qt);
  }
}

void PrintProbeRatios(const THandOverProbe& probe, const std::vector<TFramerCost>& framer) {
  std::printf("\n| ratio | median (min-max) |\n|---|---|\n");
  std::printf("| THandOver::Call / Qt blocking call, main thread asleep | %s |\n",
              RatioText(PairedValues(probe.ourAsleepUs, probe.qtAsleepUs)).c_str());
  std::printf("| THandOver::Call by ServeUntil / Qt blocking call, asleep | %s |\n",
              RatioText(PairedValues(probe.serveAsleepUs, probe.qtAsleepUs)).c_str());
  std::printf("| THandOver::Call / Qt blocking call, back to back | %s |\n",
              RatioText(PairedValues(probe.ourUs, probe.qtUs)).c_str());
  for (const TFramerCost& cost : framer)
    std::printf("| framer / splitter, reads of %zu bytes | %s |\n", cost.block,
                FramerRatio(cost).c_str());
}

void PrintCpuTable(const TRuns& runs) {
  std::printf(
      "\n| receiver | CPU us/packet, free | CPU us/packet, pinned | packets/s, free | "
      "packets/s, pinned |\n|---|---|---|---|---|\n");
  for (const std::string& receiver : AllReceivers()) {
    std::vector<double> cells[4];
    for (const TFigures& f : runs.at(receiver)) {
      cells[0].push_back(f.cpuUs);
      cells[1].push_back(f.pinnedCpuUs);
      cells[2].push_back(f.packetsPerSecond / 1e6);
      cells[3].push_back(f.pinnedPacketsPerSecond / 1e6);
    }
    std::printf("| %s |", receiver.c_str());
    for (int c = 0; c < 4; ++c) {
      const TSpread s = SpreadOf(cells[c]);
      std::printf(c < 2 ? " %.3f (%.3f-%.3f) |" : " %.2f M (%.2f-%.2f) |", s.median, s.min, s.max);
    }
    std::printf("\n");
  }
}

}  // namespace

void PrintHandOverProbe(const THandOverProbe& probe) {
  std::printf(
      "\nhand-over probe, round trip worker -> main thread -> worker, median of each run, "
      "median (min-max) over %zu runs; back to back (%d calls a run):\n",
      probe.ourUs.size(), probe.calls);
  PrintRoundTrip("THandOver::Call", probe.ourUs);
  PrintRoundTrip("Qt BlockingQueuedConnection", probe.qtUs);
  PrintRoundTrip("eventfd ping-pong, two threads", probe.eventfdUs);
  std::printf("  THandOver::Call / Qt %s, / eventfd %s (paired)\n",
              RatioText(PairedValues(probe.ourUs, probe.qtUs)).c_str(),
              RatioText(PairedValues(probe.ourUs, probe.eventfdUs)).c_str());
  std::printf("the main thread asleep in its event loop (%d calls a run, %d us apart):\n",
              probe.asleepCalls, probe.napUs);
  PrintRoundTrip("THandOver::Call", probe.ourAsleepUs);
  PrintRoundTrip("Qt BlockingQueuedConnection", probe.qtAsleepUs);
  PrintRoundTrip("THandOver::Call, main thread in ServeUntil", probe.serveAsleepUs);
  std::printf("  THandOver::Call / Qt %s, by ServeUntil / Qt %s (paired)\n",
              RatioText(PairedValues(probe.ourAsleepUs, probe.qtAsleepUs)).c_str(),
              RatioText(PairedValues(probe.serveAsleepUs, probe.qtAsleepUs)).c_str());
}

void PrintFramerCost(const TFramerCost& cost) {
  const TSpread framer = SpreadOf(cost.framerUs), splitter = SpreadOf(cost.splitterUs);
  std::printf(
      "\nframer alone, CPU per packet in reads of %zu bytes, median (min-max) over %zu runs:\n"
      "  ours %.4f us (%.4f-%.4f), the peers' offset splitter %.4f us (%.4f-%.4f), "
      "ours / splitter %s (paired)\n",
      cost.block, cost.framerUs.size(), framer.median, framer.min, framer.max, splitter.median,
      splitter.min, splitter.max, FramerRatio(cost).c_str());
}

void PrintSummary(const TRuns& runs, const THandOverProbe& probe,
                  const std::vector<TFramerCost>& framer) {
  std::printf(
      "\nsummary: medians of the ratios paired within each repetition (min-max over the "
      "repetitions); ours / peer, so above 1 is slower for latency and CPU, faster for "
      "throughput\n");
  PrintReceiverRatios(runs);
  PrintProbeRatios(probe, framer);
  PrintCpuTable(runs);
}

}  // namespace vardelio::bench
