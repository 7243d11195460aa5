#pragma once
// The benchmarks' own load: one busy-loop process per core at normal
// priority, so that a figure measured "_loaded" means the same on every
// machine. Header-only; each bench program includes it.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

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

}  // namespace pmrbench
