#pragma once
// Figures beside the receivers: the cost of reaching the main thread and back, and of the
// framer alone against the peers' splitter.

#include <string>

#include "BenchReport.h"

namespace vardelio::bench {

// THandOver::Call, Qt's blocking queued call and an eventfd ping-pong, interleaved over
// `runs`; the main thread serves its event loop meanwhile. Then the two calls again, and ours
// served by ServeUntil, `asleepCalls` times each with the worker napping `napUs` before each.
THandOverProbe ProbeHandOver(int runs, int calls, int asleepCalls, int napUs);
// One kind of call with the main thread asleep ("ours", "qt" or "serve"), for a profiler:
// the median round trip in microseconds.
double ProbeAsleep(const std::string& which, int calls, int napUs);

// The framer ("S" ... "Z") and the splitter on `stream` cut into reads of `block` bytes,
// interleaved over `runs`; CPU time of the calling thread.
TFramerCost MeasureFramer(const std::string& stream, std::size_t block, int runs);

}  // namespace vardelio::bench
