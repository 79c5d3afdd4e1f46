#include "BenchReport.h"

#include <algorithm>
#include <cstdio>

namespace vardelio::bench {

const std::vector<TModeGroup> kModeGroups = {
    {"ours", "thread-sync", "bare + Qt blocking", {"bare + hand-over"}, "qt (thread-sync)"},
    {"ours window-sync",
     "window-sync",
     "bare + Qt send",
     {"bare + send", "bare + post"},
     "qt (window-sync)"},
    {"ours none", "none", "bare", {}, "qt (none)"},
};

const TColumn kColumns[6] = {
    {"latency median", [](const TFigures& f) { return f.medianUs; }},
    {"latency p99", [](const TFigures& f) { return f.p99Us; }},
    {"throughput free", [](const TFigures& f) { return f.packetsPerSecond; }},
    {"throughput pinned", [](const TFigures& f) { return f.pinnedPacketsPerSecond; }},
    {"CPU/packet free", [](const TFigures& f) { return f.cpuUs; }},
    {"CPU/packet pinned", [](const TFigures& f) { return f.pinnedCpuUs; }},
};

std::vector<std::string> AllReceivers() {
  std::vector<std::string> all;
  for (const TModeGroup& group : kModeGroups) {
    all.push_back(group.mode);
    all.push_back(group.floor);
    all.insert(all.end(), group.others.begin(), group.others.end());
    all.push_back(group.qt);
  }
  return all;
}

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

TSpread PairedValues(const std::vector<double>& ours, const std::vector<double>& peer) {
  std::vector<double> ratios;
  for (std::size_t r = 0; r < std::min(ours.size(), peer.size()); ++r) {
    // A figure of 0 was not measured (no second core to pin to).
    if (ours[r] > 0 && peer[r] > 0) ratios.push_back(ours[r] / peer[r]);
  }
  return SpreadOf(ratios);
}

namespace {

std::vector<double> Column(const TRuns& runs, const std::string& receiver, const TColumn& column) {
  std::vector<double> values;
  const auto found = runs.find(receiver);
  if (found == runs.end()) return values;
  for (const TFigures& f : found->second)
    values.push_back(column.value(f));
  return values;
}

TSpread Values(const TRuns& runs, const std::string& receiver, const TColumn& column) {
  std::vector<double> measured;
  for (double value : Column(runs, receiver, column)) {
    if (value > 0) measured.push_back(value);
  }
  return SpreadOf(measured);
}

// "9123456 (8000000-11000000)", "0.123 (0.100-0.150)", or "n/a"
std::string SpreadText(const TSpread& spread, const char* format) {
  if (spread.count == 0) return "n/a";
  char text[64];
  std::snprintf(text, sizeof text, format, spread.median, spread.min, spread.max);
  return text;
}

void PrintLatencies(const TRuns& runs, const std::vector<std::string>& receivers) {
  std::printf("%-19s %-24s %-26s %s\n", "receiver", "latency median us", "latency p99 us",
              "preempted  lost (all runs)");
  for (const std::string& receiver : receivers) {
    std::vector<double> preempted;
    int lost = 0;
    for (const TFigures& f : runs.at(receiver)) {
      preempted.push_back(double(f.preempted));
      lost += f.lost;
    }
    std::printf("%-19s %-24s %-26s %9.0f  %4d\n", receiver.c_str(),
                SpreadText(Values(runs, receiver, kColumns[0]), "%6.1f (%5.1f-%6.1f)").c_str(),
                SpreadText(Values(runs, receiver, kColumns[1]), "%7.1f (%6.1f-%6.1f)").c_str(),
                SpreadOf(preempted).median, lost);
  }
}

void PrintRates(const TRuns& runs, const std::vector<std::string>& receivers) {
  std::printf("\n%-19s %-28s %-22s %-28s %s\n", "receiver", "throughput packets/s, free",
              "CPU us/packet, free", "throughput, pinned", "CPU us/packet, pinned");
  for (const std::string& receiver : receivers) {
    const char* rate = "%9.0f (%7.0f-%7.0f)";
    const char* cpu = "%.3f (%.3f-%.3f)";
    std::printf("%-19s %-28s %-22s %-28s %s\n", receiver.c_str(),
                SpreadText(Values(runs, receiver, kColumns[2]), rate).c_str(),
                SpreadText(Values(runs, receiver, kColumns[4]), cpu).c_str(),
                SpreadText(Values(runs, receiver, kColumns[3]), rate).c_str(),
                SpreadText(Values(runs, receiver, kColumns[5]), cpu).c_str());
  }
}

}  // namespace

TSpread Paired(const TRuns& runs, const std::string& ours, const std::string& peer,
               const TColumn& column) {
  return PairedValues(Column(runs, ours, column), Column(runs, peer, column));
}

void PrintPeers(const TRuns& runs) {
  const std::vector<std::string> receivers = AllReceivers();
  PrintLatencies(runs, receivers);
  PrintRates(runs, receivers);
}

void PrintRatios(const TRuns& runs) {
  for (const TModeGroup& group : kModeGroups) {
    std::printf(
        "\n%s (%s) / the receivers run beside it, median of the paired ratios (min-max); "
        "* the floor that shares nothing of ours\n  %-20s",
        group.label, group.mode, "peer");
    for (const TColumn& column : kColumns)
      std::printf(" %-19s", column.title);
    std::vector<const char*> peers = {group.floor};
    peers.insert(peers.end(), group.others.begin(), group.others.end());
    peers.push_back(group.qt);
    for (const char* peer : peers) {
      std::printf("\n  %-19s%s", peer, peer == group.floor ? "*" : " ");
      for (const TColumn& column : kColumns)
        std::printf(" %-19s", RatioText(Paired(runs, group.mode, peer, column)).c_str());
    }
    std::printf("\n");
  }
}

}  // namespace vardelio::bench
