#include "model/rate_meter.h"

#include <algorithm>

RateMeter g_ClickRate;
RateMeter g_KeySpamRate;

void RateMeter::Reset() { count_.store(0); }

void RateMeter::Mark(int64_t ns) {
  const uint32_t n = count_.load();
  times_[n % kRateWindow].store(ns);
  count_.store(n + 1);
}

double RateMeter::PerSecond(int64_t nowNs) const {
  const uint32_t n = count_.load();
  const uint32_t k = std::min<uint32_t>(n, kRateWindow);
  if (k < 2) return 0;
  const int64_t last = times_[(n - 1) % kRateWindow].load();
  int64_t first = last;
  uint32_t used = 1;
  for (uint32_t i = 2; i <= k; ++i) {
    const int64_t t = times_[(n - i) % kRateWindow].load();
    if (t > last || nowNs - t > 5000000000LL) break;  // overwritten meanwhile, or too old
    first = t;
    ++used;
  }
  if (used < 2 || last <= first) return 0;
  return static_cast<double>(used - 1) * 1e9 / static_cast<double>(last - first);
}
