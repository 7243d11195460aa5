// Accuracy of WaitIntervalOrWake: how late each wait ends (overshoot) at 1 ms
// and 10 ms, and the share of waits that ended before their interval; at 1 ms
// on a real-time thread, also what the wait costs in processor time.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "app/app.h"
#include "bench/load.h"
#include "platform/os_thread.h"

namespace {

double NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

double ThreadCpuUs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

}  // namespace

int main(int argc, char** argv) {
  int waits = argc > 1 ? std::atoi(argv[1]) : 3000;
  if (waits <= 0) waits = 3000;
  WakeEvent ev;
  long early = 0, total = 0;
  for (double ms : {1.0, 10.0}) {
    int n = ms < 5 ? waits : std::max(waits / 5, 200);
    std::vector<double> overshoot;
    overshoot.reserve(n);
    for (int i = 0; i < n; ++i) {
      double t0 = NowUs();
      WaitIntervalOrWake(ev, ms);
      double late = NowUs() - t0 - ms * 1000.0;
      if (late < 0) ++early;
      ++total;
      overshoot.push_back(late < 0 ? 0 : late);
    }
    const char* tag = ms < 5 ? "1ms" : "10ms";
    std::printf("wait_overshoot_p50_us_%s: %.1f\n", tag, Percentile(overshoot, 0.50));
    std::printf("wait_overshoot_p99_us_%s: %.1f\n", tag, Percentile(overshoot, 0.99));
    std::printf("wait_overshoot_max_us_%s: %.1f\n", tag,
                *std::max_element(overshoot.begin(), overshoot.end()));
  }
  std::printf("wait_early_share: %.4f\n", total ? static_cast<double>(early) / total : 0.0);

  // The same 1 ms wait on a thread scheduled as the tools schedule theirs: how
  // late it ends, and the processor time the wait takes (its spin) per wall
  // second; with the spin a repeating tool is held to, and with the spin
  // playback takes as needed.
  int timing = 0;
  for (WaitSpin kind : {WaitSpin::kBounded, WaitSpin::kAsNeeded}) {
    std::vector<double> overshoot;
    double cpuPercent = 0;
    std::thread t([&] {
      timing = static_cast<int>(OsMakeThreadTimeCritical(kTimingPriorityTool));
      for (int i = 0; i < 200; ++i) WaitIntervalOrWake(ev, 1.0, kind);  // learn the machine first
      const double cpu0 = ThreadCpuUs(), wall0 = NowUs();
      for (int i = 0; i < waits; ++i) {
        double t0 = NowUs();
        WaitIntervalOrWake(ev, 1.0, kind);
        double late = NowUs() - t0 - 1000.0;
        overshoot.push_back(late < 0 ? 0 : late);
      }
      cpuPercent = 100.0 * (ThreadCpuUs() - cpu0) / (NowUs() - wall0);
    });
    t.join();
    const char* tag = kind == WaitSpin::kBounded ? "realtime" : "realtime_as_needed";
    std::printf("wait_overshoot_p50_us_1ms_%s: %.1f\n", tag, Percentile(overshoot, 0.50));
    std::printf("wait_overshoot_p99_us_1ms_%s: %.1f\n", tag, Percentile(overshoot, 0.99));
    std::printf("wait_cpu_percent_1ms_%s: %.2f\n", tag, cpuPercent);
  }
  std::printf("wait_thread_timing: %d\n", timing);
  pmrbench::PrintTimerFloor(kTimingPriorityTool, "");
  return 0;
}
