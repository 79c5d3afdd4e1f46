#include "LineCounters.h"

#include "ComPlatform.h"

namespace vardelio {

std::uint32_t ClassifyLineErrors(std::uint32_t marked, const TLineCounts& before,
                                 const TLineCounts& now, bool parityChecked) {
  std::uint32_t errors = marked;
  if (now.overrun != before.overrun) errors |= CE_OVERRUN;  // never marked in the data
  if (now.bufferOverrun != before.bufferOverrun) errors |= CE_RXOVER;
  const bool framing = now.frame != before.frame;
  const bool parity = now.parity != before.parity;
  if (framing) errors |= CE_FRAME;
  // A mark the parity count does not account for was a framing error.
  if (parityChecked && framing && !parity) errors &= ~std::uint32_t(CE_RXPARITY);
  return errors;
}

}  // namespace vardelio
