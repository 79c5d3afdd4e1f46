#include "Timeouts.h"

#include <algorithm>

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

std::uint64_t TxRecheckMs(std::uint32_t queued, std::uint32_t baudRate, std::uint32_t lastQueued,
                          std::uint64_t lastMs) {
  // Ten bits a byte.
  const std::uint64_t due =
      std::uint64_t(queued) * 10 * 1000 / std::max<std::uint32_t>(baudRate, 1) + 1;
  if (lastQueued == 0 || queued < lastQueued) return due;
  return std::max(due, std::min(lastMs * 2, kMaxTxRecheckMs));
}

}  // namespace vardelio
