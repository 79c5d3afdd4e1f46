#pragma once
// What the growth of a serial driver's error counters says about the bytes just received.

#include <cstdint>

namespace vardelio {

// The driver's counts since boot (TIOCGICOUNT); a line compares them with those at its open.
struct TLineCounts {
  std::uint32_t overrun = 0;
  std::uint32_t bufferOverrun = 0;
  std::uint32_t frame = 0;
  std::uint32_t parity = 0;
};

// The CE_ errors of a read: `marked` (what the data carried marked) with the counters'
// growth from `before` to `now`. While parity is checked a marked byte only says the byte
// was bad; the counters tell a framing error from a parity error.
std::uint32_t ClassifyLineErrors(std::uint32_t marked, const TLineCounts& before,
                                 const TLineCounts& now, bool parityChecked);

}  // namespace vardelio
