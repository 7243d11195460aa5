// Cost of the page's status poll, and the whole program's CPU use while it
// sits idle with the main page polling.
//
//   status_poll_us_empty   getTrackerStatus with an empty profile (µs per call)
//   status_poll_us_100k    the same with 100,000 recorded events
//   idle_cpu_percent       the program and every process it started (web
//                          process, network process), idle on the main page
//                          under the simulated input, in percent of one core
//
// Usage: status_poll [seconds]   (or PMR_BENCH_IDLE_SECONDS; default 60).
// Without a display the program re-runs itself under a private Xvfb.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "model/profiles.h"
#include "tests/sim/sim_control.h"
#include "app/status_json.h"

namespace {

using Clock = std::chrono::steady_clock;

double PollMicros(size_t events, int calls) {
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    profiles.assign(1, MacroProfile{kDefaultProfileName, "", {}});
    profiles[0].events.resize(events);
    for (size_t i = 0; i < events; ++i) profiles[0].events[i] = UnifiedEvent{1, i * 0.001, 10, 20, 0, 0, false, 0};
    currentProfileIdx = 0;
  }
  for (int i = 0; i < 50; ++i) RunStatusPoll();  // warm the file cache and the allocator
  std::vector<double> samples;
  samples.reserve(static_cast<size_t>(calls));
  for (int i = 0; i < calls; ++i) {
    auto t0 = Clock::now();
    std::string s = RunStatusPoll();
    auto t1 = Clock::now();
    if (s.empty()) std::abort();
    samples.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];  // median: robust against a busy machine
}

// utime + stime of one process, in clock ticks; -1 when it is gone.
long long CpuTicks(int pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream in(text.substr(close + 2));
  std::string field;
  long long utime = 0, stime = 0;
  // Fields after the name start at 3 (state); utime and stime are 14 and 15.
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::atoll(field.c_str());
    if (i == 15) stime = std::atoll(field.c_str());
  }
  return utime + stime;
}

int ParentOf(int pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream in(text.substr(close + 2));
  std::string state;
  int ppid = -1;
  in >> state >> ppid;
  return ppid;
}

// The process and all its descendants.
std::set<int> Tree(int root) {
  std::map<int, int> parent;
  if (DIR* d = opendir("/proc")) {
    while (dirent* e = readdir(d)) {
      int pid = std::atoi(e->d_name);
      if (pid > 0) parent[pid] = ParentOf(pid);
    }
    closedir(d);
  }
  std::set<int> tree{root};
  for (bool grew = true; grew;) {
    grew = false;
    for (auto [pid, ppid] : parent)
      if (tree.count(ppid) && !tree.count(pid)) grew = tree.insert(pid).second || grew;
  }
  return tree;
}

long long TreeTicks(const std::set<int>& pids, std::map<int, long long>& seen) {
  long long total = 0;
  for (int pid : pids) {
    long long t = CpuTicks(pid);
    if (t >= 0) seen[pid] = t;
  }
  for (auto& [pid, t] : seen) total += t;
  return total;
}

// Per-thread CPU ticks keyed by "pid/tid name" (for PMR_BENCH_VERBOSE).
void ThreadTicks(const std::set<int>& pids, std::map<std::string, long long>& out) {
  for (int pid : pids) {
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(dir.c_str());
    if (!d) continue;
    while (dirent* e = readdir(d)) {
      int tid = std::atoi(e->d_name);
      if (tid <= 0) continue;
      std::ifstream comm(dir + "/" + e->d_name + "/comm");
      std::string name;
      std::getline(comm, name);
      std::ifstream f(dir + "/" + e->d_name + "/stat");
      std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
      size_t close = text.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream in(text.substr(close + 2));
      std::string field;
      long long ticks = 0;
      for (int i = 3; i <= 15 && in >> field; ++i)
        if (i == 14 || i == 15) ticks += std::atoll(field.c_str());
      out[std::to_string(pid) + "/" + e->d_name + " " + name] = ticks;
    }
    closedir(d);
  }
}

double IdleCpuPercent(double seconds) {
  pmrsim::SimProgram prog;
  if (!prog.Start()) return -1;
  pmrsim::SimControl& sim = prog.control();
  if (sim.AddKeyboard().empty() || sim.AddMouse().empty() || !sim.Go()) return -1;
  // Wait for the main page: its polls keep rewriting the status file.
  std::string status = prog.dataDir() + "/status.txt";
  auto deadline = Clock::now() + std::chrono::seconds(60);
  struct stat st {};
  while (::stat(status.c_str(), &st) != 0) {
    if (Clock::now() > deadline || !prog.Running()) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::this_thread::sleep_for(std::chrono::seconds(5));  // let start-up work settle

  std::map<int, long long> before, after;
  std::map<std::string, long long> threadsBefore, threadsAfter;
  ThreadTicks(Tree(prog.pid()), threadsBefore);
  long long t0 = TreeTicks(Tree(prog.pid()), before);
  auto w0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  // Count processes that started meanwhile from zero.
  for (int pid : Tree(prog.pid()))
    if (!before.count(pid)) before[pid] = 0;
  after = before;
  long long t1 = TreeTicks(Tree(prog.pid()), after);
  ThreadTicks(Tree(prog.pid()), threadsAfter);
  double wall = std::chrono::duration<double>(Clock::now() - w0).count();
  struct stat again {};
  bool polled = ::stat(status.c_str(), &again) == 0 && again.st_mtime >= st.st_mtime;
  prog.Stop();
  if (!polled) return -1;
  double cpu = static_cast<double>(t1 - t0) / static_cast<double>(sysconf(_SC_CLK_TCK));
  if (std::getenv("PMR_BENCH_VERBOSE")) {
    for (auto& [pid, t] : after) std::fprintf(stderr, "  %d %lld ticks\n", pid, t - before[pid]);
    for (auto& [name, t] : threadsAfter) {
      long long b = threadsBefore.count(name) ? threadsBefore[name] : 0;
      if (t - b > 0) std::fprintf(stderr, "    %-40s %lld ticks\n", name.c_str(), t - b);
    }
  }
  return 100.0 * cpu / wall;
}

}  // namespace

int main(int argc, char** argv) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    std::string self = "/proc/self/exe";
    std::vector<char*> args;
    std::string wrap = std::string(PMR_SOURCE_DIR) + "/tests/e2e/with-xvfb.sh";
    char selfPath[4096] = {};
    ssize_t n = readlink(self.c_str(), selfPath, sizeof selfPath - 1);
    if (n > 0) {
      args.push_back(wrap.data());
      args.push_back(selfPath);
      for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
      args.push_back(nullptr);
      execv(wrap.c_str(), args.data());
    }
    std::fprintf(stderr, "status_poll: no display and no Xvfb wrapper\n");
    return 1;
  }

  double seconds = 60;
  if (const char* env = std::getenv("PMR_BENCH_IDLE_SECONDS")) seconds = std::atof(env);
  if (argc > 1) seconds = std::atof(argv[1]);
  if (seconds <= 0) seconds = 60;

  char tmpl[] = "/tmp/pmr-bench-status-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  setenv("XDG_DATA_HOME", tmpl, 1);

  std::printf("status_poll_us_empty: %.2f\n", PollMicros(0, 5000));
  std::printf("status_poll_us_100k: %.2f\n", PollMicros(100000, 5000));
  std::fflush(stdout);
  double idle = IdleCpuPercent(seconds);
  if (idle < 0)
    std::printf("idle_cpu_percent: failed (the program did not reach its main page)\n");
  else
    std::printf("idle_cpu_percent: %.3f\n", idle);
  std::system((std::string("rm -rf '") + tmpl + "'").c_str());
  return idle < 0 ? 1 : 0;
}
