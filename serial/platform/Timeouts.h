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

}  // namespace vardelio
