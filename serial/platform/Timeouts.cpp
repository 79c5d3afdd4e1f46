#include "Timeouts.h"

namespace vardelio {

TReadPlan PlanRead(const TCommTimeouts& t, std::uint32_t count) {
  TReadPlan plan;
  const bool intervalMax = t.ReadIntervalTimeout == kMaxDword;
  if (intervalMax && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
    plan.returnAtOnce = true;
    return plan;
  }
  if (intervalMax && t.ReadTotalTimeoutMultiplier == kMaxDword && t.ReadTotalTimeoutConstant != 0 &&
      t.ReadTotalTimeoutConstant != kMaxDword) {
    plan.returnOnFirstByte = true;
    plan.totalMs = t.ReadTotalTimeoutConstant;
    return plan;
  }
  if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
    plan.totalMs = std::uint64_t(t.ReadTotalTimeoutMultiplier) * count + t.ReadTotalTimeoutConstant;
  }
  if (t.ReadIntervalTimeout != 0 && !intervalMax) plan.intervalMs = t.ReadIntervalTimeout;
  return plan;
}

std::optional<std::uint64_t> WriteLimitMs(const TCommTimeouts& t, std::uint32_t count) {
  if (t.WriteTotalTimeoutMultiplier == 0 && t.WriteTotalTimeoutConstant == 0) return std::nullopt;
  return std::uint64_t(t.WriteTotalTimeoutMultiplier) * count + t.WriteTotalTimeoutConstant;
}

}  // namespace vardelio
