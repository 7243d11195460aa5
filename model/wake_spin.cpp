#include "model/wake_spin.h"

#include <algorithm>

void WakeSpinLearner::Learn(int64_t lateNs) {
  int64_t us = lateNs < 0 ? 0 : (lateNs + 999) / 1000;
  if (us > 1'000'000'000) us = 1'000'000'000;
  lateUs_[next_] = static_cast<int32_t>(us);
  next_ = (next_ + 1) % kWindow;
  ++seen_;
  if (seen_ >= kFirstEstimate && seen_ % kRenewEvery == 0) Estimate();
}

void WakeSpinLearner::Estimate() {
  const size_t n = seen_ < kWindow ? seen_ : kWindow;
  std::array<int32_t, kWindow> v = lateUs_;
  // The window's share of uncovered sleeps, at least none while it fills.
  const size_t uncovered = kUncovered * n / kWindow;
  auto at = v.begin() + static_cast<std::ptrdiff_t>(n - 1 - uncovered);
  std::nth_element(v.begin(), at, v.begin() + static_cast<std::ptrdiff_t>(n));
  int64_t spin = static_cast<int64_t>(*at) * 1000 + kMarginNs;
  spinNs_ = std::clamp(spin, kMinSpinNs, kMaxSpinNs);
}

int64_t WaitSpinNs(int64_t learnedNs, int64_t durationNs, WaitSpin kind) {
  if (kind == WaitSpin::kAsNeeded) return learnedNs;
  const int64_t bound = static_cast<int64_t>(static_cast<double>(durationNs) * kBoundedSpinShare);
  return std::min(learnedNs, std::max(WakeSpinLearner::kMinSpinNs, bound));
}
