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

int64_t MonotonicNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void WaitUntilWoken(WakeEvent& ev) {
  std::unique_lock<std::mutex> lock(ev.mutex);
  while (!ev.flag.exchange(false)) {
    if (!g_AppRunning.load()) return;
    ev.cv.wait(lock);
  }
}

void WaitIntervalOrWake(WakeEvent& ev, double ms) {
  const int64_t start = MonotonicNs();
  const int64_t deadline = start + DurationNs(ms);
  const int64_t early = deadline - 500000;

  if (MonotonicNs() < early) {
    std::unique_lock<std::mutex> lock(ev.mutex);
    // steady_clock reads CLOCK_MONOTONIC, so the early point converts exactly.
    const std::chrono::steady_clock::time_point earlyPoint{std::chrono::nanoseconds(early)};
    for (;;) {
      if (ev.flag.exchange(false)) return;
      if (!g_AppRunning.load()) return;
      ev.cv.wait_until(lock, earlyPoint);
      if (std::chrono::steady_clock::now() >= earlyPoint) break;
    }
    if (ev.flag.exchange(false)) return;
    if (!g_AppRunning.load()) return;
  }
  while (MonotonicNs() < deadline) {
    if (ev.flag.exchange(false)) return;
    if (!g_AppRunning.load()) return;
    sched_yield();
  }
}
