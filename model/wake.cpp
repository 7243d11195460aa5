#include "model/wake.h"

#include <sched.h>
#include <time.h>

#include <chrono>
#include <cstdint>

#include "model/wake_spin.h"
#include "platform/os_thread.h"

std::atomic<bool> g_AppRunning{true};
std::atomic<bool> g_MainPageReady{false};
WakeEvent g_SignalWake;
WakeEvent g_AutoClickWake;
WakeEvent g_KeySpamWake;
WakeEvent g_PlaybackWake;
WakeEvent g_AutosaveWake;

void WakeSignalProcessor() { g_SignalWake.Wake(); }
void WakeAutoClickThread() { g_AutoClickWake.Wake(); }
void WakeKeySpamThread() { g_KeySpamWake.Wake(); }
void WakePlaybackThread() { g_PlaybackWake.Wake(); }

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

// The wait sleeps until shortly before the deadline and spins for the rest,
// yielding the processor. A thread of normal priority may find the processor
// taken when it wakes, so it spins for a generous half millisecond (yielding
// to whatever else wants to run). A real-time thread runs as soon as it wakes,
// so its spin only has to cover how late its wake-ups come on this machine,
// learned per thread (see model/wake_spin.h).
constexpr int64_t kPlainSpinNs = 500000;
thread_local WakeSpinLearner t_Spin;

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

void WaitIntervalOrWake(WakeEvent& ev, double ms, WaitSpin spinKind) {
  const int64_t start = MonotonicNs();
  const int64_t duration = DurationNs(ms);
  const int64_t deadline = start + duration;
  const bool realtime = OsThreadIsRealtime();
  int64_t spin = kPlainSpinNs;
  if (realtime) spin = WaitSpinNs(t_Spin.SpinNs(), duration, spinKind);
  const int64_t early = deadline - spin;

  if (MonotonicNs() < early) {
    std::unique_lock<std::mutex> lock(ev.mutex);
    // steady_clock reads CLOCK_MONOTONIC, so the early point converts exactly.
    const std::chrono::steady_clock::time_point earlyPoint{std::chrono::nanoseconds(early)};
    for (;;) {
      if (ev.flag.exchange(false)) return;
      if (!g_AppRunning.load()) return;
      ev.cv.wait_until(lock, earlyPoint);
      const int64_t now = MonotonicNs();
      if (now >= early) {
        if (realtime) t_Spin.Learn(now - early);
        break;
      }
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
