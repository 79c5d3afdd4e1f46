#pragma once
// The platform's read and write timeout rules, as plans a line can follow with deadlines.

#include <cstdint>
#include <optional>

#include "ComPlatform.h"

namespace vardelio {

struct TReadPlan {
  bool returnAtOnce = false;                // give what is queued, possibly nothing
  bool returnOnFirstByte = false;           // give what is queued as soon as there is something
  std::optional<std::uint64_t> totalMs;     // from the start of the read
  std::optional<std::uint64_t> intervalMs;  // between bytes, after the first
};

TReadPlan PlanRead(const TCommTimeouts& timeouts, std::uint32_t count);
// Milliseconds a write of `count` bytes may take; none means no limit.
std::optional<std::uint64_t> WriteLimitMs(const TCommTimeouts& timeouts, std::uint32_t count);

// When to look again at output still queued: the time the queued bytes need at the line's
// speed; while the queue does not shrink (held by flow control) the last wait doubles, up to
// a second. `lastQueued` is 0 on the first look after a write.
std::uint64_t TxRecheckMs(std::uint32_t queued, std::uint32_t baudRate, std::uint32_t lastQueued,
                          std::uint64_t lastMs);
inline constexpr std::uint64_t kMaxTxRecheckMs = 1000;

}  // namespace vardelio
