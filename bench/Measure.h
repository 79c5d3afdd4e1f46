#pragma once
// One receiver's run over a pseudo-terminal: latency one packet at a time, then throughput
// and CPU per packet in both layouts.

#include <string>

#include "BenchReport.h"

namespace vardelio::bench {

constexpr int kLatencyPackets = 400;
// Long enough that one scheduling hiccup does not decide a run.
constexpr int kThroughputPackets = 200000;

// The throughput run's stream, made once.
const std::string& Stream();

// `which` as the receivers are named in the report ("ours", "bare + Qt send", "qt ...").
TFigures RunPeer(const std::string& which);
// Only `which`'s throughput and CPU per packet, `runs` times in each layout, printed.
int ThroughputOnly(const std::string& which, int runs);
// Only `which`'s latency run, between two getppid() markers, for bench/syscalls.sh.
int SyscallRun(const std::string& which);

}  // namespace vardelio::bench
