#include "tools/tool_timing.h"

#include <sched.h>
#include <time.h>

#include <cerrno>
#include <cmath>
#include <mutex>

#include "model/wake.h"

double ToolIntervalMs(int hours, int minutes, int seconds, int milliseconds) {
  const double total = static_cast<double>(hours) * 3600000.0 +
                       static_cast<double>(minutes) * 60000.0 +
                       static_cast<double>(seconds) * 1000.0 +
                       static_cast<double>(milliseconds);
  if (!(total >= 1.0)) return 1.0;
  const double whole = std::ceil(total);
  return whole > kMaxToolIntervalMs ? kMaxToolIntervalMs : whole;
}

void SleepThenYieldUntil(int64_t sleepUntilNs, int64_t deadlineNs) {
  if (sleepUntilNs > 0) {
    timespec until{};
    until.tv_sec = static_cast<time_t>(sleepUntilNs / 1000000000LL);
    until.tv_nsec = static_cast<long>(sleepUntilNs % 1000000000LL);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
  }
  while (MonotonicNs() < deadlineNs) sched_yield();
}
