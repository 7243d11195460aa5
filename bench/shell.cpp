// The KWin backend against a real, headless KWin:
//  - kwin_pointer_age_ms_p99: from a pointer move in KWin (fake input) until
//    the backend knows the new position; also under the bench's own load (a
//    busy thread per core), kwin_pointer_age_ms_p99_loaded;
//  - kwin_window_at_us_p99: the window under a point in a list of 50 windows
//    (the list sent by KWin itself, so it arrives as a real report does);
//  - kwin_idle_wakeups_per_s: context switches per second of this process's
//    threads other than the measuring one while nothing moves (the report
//    thread and the bus connection's thread sleep until KWin calls).
//
// gtest-free program; figure lines are "name: value". Without kwin_wayland it
// says why on standard error and prints no figures.
#include <dirent.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/shell/kwin.h"
#include "tests/support/kwin_session.h"
#include "tests/support/process.h"

namespace {

using Clock = std::chrono::steady_clock;

double P99(std::vector<double> samples) {
  if (samples.empty()) return -1;
  std::sort(samples.begin(), samples.end());
  return samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
}

// Milliseconds from each move until the backend reports it.
std::vector<double> PointerAges(pmrtest::KWinSession& kwin, int moves) {
  std::vector<double> ages;
  for (int i = 0; i < moves; ++i) {
    const int x = 100 + (i * 37) % 1000, y = 100 + (i * 53) % 600;
    const auto start = Clock::now();
    if (!kwin.MovePointer(x, y)) break;
    double px = -1, py = -1;
    bool seen = false;
    while (!(seen = KWinPointer(px, py) && px == x && py == y) && Clock::now() - start < std::chrono::seconds(5))
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    if (!seen) continue;
    ages.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return ages;
}

long ContextSwitches(pid_t skipTid) {
  long total = 0;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return -1;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.' || std::atoi(e->d_name) == skipTid) continue;
    std::ifstream status(std::string("/proc/self/task/") + e->d_name + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        total += std::atol(line.substr(line.find(':') + 1).c_str());
    }
  }
  closedir(dir);
  return total;
}

}  // namespace

int main() {
  const std::string why = pmrtest::KWinSession::Unavailable();
  if (!why.empty()) {
    std::fprintf(stderr, "shell bench skipped: %s\n", why.c_str());
    return 0;
  }
  static pmrtest::KWinSession kwin;  // outlives the backend's exit handler
  if (!kwin.Start()) {
    std::fprintf(stderr, "shell bench: %s\n", kwin.error().c_str());
    return 1;
  }
  kwin.ExportClientEnv();
  const std::string runtime = pmrtest::MakeTempDir("bench-shell-run");
  chmod(runtime.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  if (!KWinStart()) {
    std::fprintf(stderr, "shell bench: the backend did not start\n");
    return 1;
  }

  PointerAges(kwin, 20);  // warm-up
  std::printf("kwin_pointer_age_ms_p99: %.2f\n", P99(PointerAges(kwin, 300)));

  {
    std::atomic<bool> stop{false};
    std::vector<std::thread> load;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < cores; ++i)
      load.emplace_back([&] {
        while (!stop.load(std::memory_order_relaxed)) {
        }
      });
    const double loaded = P99(PointerAges(kwin, 300));
    stop = true;
    for (std::thread& t : load) t.join();
    std::printf("kwin_pointer_age_ms_p99_loaded: %.2f\n", loaded);
  }

  // 50 windows of 40 x 30 in a grid, sent from KWin's own connection.
  std::string list;
  for (int i = 0; i < 50; ++i) {
    if (i) list += ";";
    list += std::to_string(1000 + i) + "," + std::to_string((i % 10) * 50) + "," + std::to_string((i / 10) * 40) +
            ",40,30,1";
  }
  const char* self = nullptr;
  if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
    self = g_dbus_connection_get_unique_name(bus);
    g_object_unref(bus);  // the shared connection lives on
  }
  kwin.Eval(std::string("callDBus('") + (self ? self : "") +
            "', '/app/pellomar/KWin', 'app.pellomar.KWin1', 'Windows', '" + list + "'); return true;");
  if (!pmrtest::WaitForCondition([] { return KWinWindowPidAt(460, 170) == 1049; }, 5000)) {
    std::fprintf(stderr, "shell bench: the window list did not arrive\n");
    return 1;
  }
  std::vector<double> lookups;
  lookups.reserve(20000);
  for (int i = 0; i < 20000; ++i) {
    // the last window of the list, and a point under none
    const double x = (i & 1) ? 460 : 495, y = (i & 1) ? 170 : 195;
    const auto start = Clock::now();
    volatile int pid = KWinWindowPidAt(x, y);
    (void)pid;
    lookups.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::printf("kwin_window_at_us_p99: %.3f\n", P99(lookups));

  const pid_t me = static_cast<pid_t>(gettid());
  const long before = ContextSwitches(me);
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const long after = ContextSwitches(me);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("kwin_idle_wakeups_per_s: %.1f\n", (after - before) / seconds);
  std::fflush(stdout);
  pmrtest::Run({"rm", "-rf", runtime});
  return 0;
}
