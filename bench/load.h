#pragma once
// The benchmarks' own load: one busy-loop process per core at normal
// priority, so that a figure measured "_loaded" means the same on every
// machine. Header-only; each bench program includes it.
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/os_thread.h"

namespace pmrbench {

class BusyLoad {
 public:
  // Starts one hog per online processor (at least one).
  BusyLoad() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    if (n < 1) n = 1;
    for (long i = 0; i < n; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        volatile unsigned long x = 0;
        for (;;) x = x + 1;
      }
      if (pid > 0) pids_.push_back(pid);
    }
  }
  ~BusyLoad() { Stop(); }
  BusyLoad(const BusyLoad&) = delete;
  BusyLoad& operator=(const BusyLoad&) = delete;

  void Stop() {
    for (pid_t pid : pids_) kill(pid, SIGKILL);
    for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
    pids_.clear();
  }
  size_t Hogs() const { return pids_.size(); }

 private:
  std::vector<pid_t> pids_;
};

// Prints the machine's state beside loaded figures: the 1-minute load average
// and the number of hogs this bench runs.
inline void PrintLoad(const char* suffix, size_t hogs) {
  double load[1] = {0};
  if (getloadavg(load, 1) != 1) load[0] = -1;
  std::printf("bench_load_average_1min%s: %.2f\n", suffix, load[0]);
  std::printf("bench_hogs%s: %zu\n", suffix, hogs);
}

// The floor under every figure of a thread woken by another: one thread
// blocked in poll on a pipe, real-time at `priority` where allowed, woken
// `n` times by a write from the calling thread; the time from just before the
// write to the woken thread running, in microseconds, sorted. With `sameCpu`
// both threads are held on the processor the caller runs on, which is a
// wake-up without an interrupt between processors.
inline std::vector<double> PipeWakeupsUs(int n, int priority, bool sameCpu) {
  auto now = [] {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
  };
  int fds[2];
  if (pipe(fds) != 0) return {};
  cpu_set_t one, saved;
  sched_getaffinity(0, sizeof saved, &saved);
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu(), &one);
  if (sameCpu) sched_setaffinity(0, sizeof one, &one);
  std::vector<double> us;
  us.reserve(static_cast<size_t>(n));
  std::thread woken([&] {
    OsMakeThreadTimeCritical(priority);
    int64_t sent;
    pollfd p{fds[0], POLLIN, 0};
    for (int i = 0; i < n; ++i) {
      poll(&p, 1, -1);
      const int64_t t = now();
      if (read(fds[0], &sent, sizeof sent) != static_cast<ssize_t>(sizeof sent)) break;
      us.push_back(static_cast<double>(t - sent) / 1e3);
    }
  });
  for (int i = 0; i < n; ++i) {
    timespec pause{0, 500000};
    nanosleep(&pause, nullptr);
    const int64_t t = now();
    if (write(fds[1], &t, sizeof t) != static_cast<ssize_t>(sizeof t)) break;
  }
  woken.join();
  if (sameCpu) sched_setaffinity(0, sizeof saved, &saved);
  close(fds[0]);
  close(fds[1]);
  std::sort(us.begin(), us.end());
  return us;
}

// Prints the pipe wake-up floor (p50 and p99) for the given thread priority,
// across processors and on one, with `suffix` ending every name.
inline void PrintWakeupFloor(int priority, const char* suffix) {
  for (bool same : {false, true}) {
    const std::vector<double> us = PipeWakeupsUs(2000, priority, same);
    if (us.empty()) continue;
    const char* where = same ? "one_cpu" : "any_cpu";
    std::printf("machine_pipe_wakeup_p50_us_%s%s: %.1f\n", where, suffix, us[us.size() / 2]);
    std::printf("machine_pipe_wakeup_p99_us_%s%s: %.1f\n", where, suffix, us[us.size() * 99 / 100]);
  }
}

// The floor under every timed wait: a thread, real-time at `priority` where
// allowed, sleeping `n` times until an absolute point 1 ms ahead; how late
// each sleep ended, in microseconds, sorted. A wait that must end on time
// spins for what this shows.
inline std::vector<double> TimerLatenessUs(int n, int priority) {
  std::vector<double> us;
  us.reserve(static_cast<size_t>(n));
  std::thread t([&] {
    OsMakeThreadTimeCritical(priority);
    for (int i = 0; i < n; ++i) {
      timespec at;
      clock_gettime(CLOCK_MONOTONIC, &at);
      at.tv_nsec += 1000000;
      if (at.tv_nsec >= 1000000000) {
        at.tv_nsec -= 1000000000;
        ++at.tv_sec;
      }
      while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
      }
      timespec woke;
      clock_gettime(CLOCK_MONOTONIC, &woke);
      us.push_back(static_cast<double>((woke.tv_sec - at.tv_sec) * 1000000000LL + (woke.tv_nsec - at.tv_nsec)) / 1e3);
    }
  });
  t.join();
  std::sort(us.begin(), us.end());
  return us;
}

inline void PrintTimerFloor(int priority, const char* suffix) {
  const std::vector<double> us = TimerLatenessUs(3000, priority);
  if (us.empty()) return;
  std::printf("machine_timer_late_p50_us%s: %.1f\n", suffix, us[us.size() / 2]);
  std::printf("machine_timer_late_p99_us%s: %.1f\n", suffix, us[us.size() * 99 / 100]);
  std::printf("machine_timer_late_max_us%s: %.1f\n", suffix, us.back());
}

}  // namespace pmrbench
