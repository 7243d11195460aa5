#include "app/wake.h"

#include <sched.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

#include "app/app.h"

void WakeEvent::Wake() {
  flag.store(true);
  { std::lock_guard<std::mutex> lock(mutex); }
  cv.notify_one();
}

namespace {

int64_t MonotonicNowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// ms * 1e6 ns, truncated, saturating: an absurdly long interval means "until
// woken", never an overflow into an immediate return.
int64_t DurationNs(double ms) {
  if (!(ms > 0)) return 0;  // also NaN
  constexpr double kMaxNs = 4.0e18;
  double ns = ms * 1e6;
  if (ns >= kMaxNs) return static_cast<int64_t>(kMaxNs);
  return static_cast<int64_t>(ns);
}

}  // namespace

void WaitIntervalOrWake(WakeEvent& ev, double ms) {
  const int64_t start = MonotonicNowNs();
  const int64_t deadline = start + DurationNs(ms);
  const int64_t early = deadline - 500000;

  if (MonotonicNowNs() < early) {
    std::unique_lock<std::mutex> lock(ev.mutex);
    const auto steadyNow = std::chrono::steady_clock::now();
    const auto earlyPoint = steadyNow + std::chrono::nanoseconds(early - MonotonicNowNs());
    for (;;) {
      if (ev.flag.exchange(false)) return;
      if (!g_AppRunning.load()) return;
      ev.cv.wait_until(lock, earlyPoint);
      if (std::chrono::steady_clock::now() >= earlyPoint) break;
    }
    if (ev.flag.exchange(false)) return;
    if (!g_AppRunning.load()) return;
  }
  while (MonotonicNowNs() < deadline) {
    if (ev.flag.exchange(false)) return;
    if (!g_AppRunning.load()) return;
    sched_yield();
  }
}
