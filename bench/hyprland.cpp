// Parsing Hyprland client lists of 1 MiB, the size a reply is cut at: the
// window under the pointer (asked on the input path for every click while
// recording) and the program's own window. Worst case: thousands of clients
// that lack the fields looked for. Also measured with a busy loop per core
// running beside it (`_loaded`).
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/shell/hyprland.h"

namespace {

double NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

std::string WorstCaseReply() {
  std::string reply = "[";
  while (reply.size() < kHyprReplyLimit - 200)
    reply += "{\"address\": \"0x1\", \"at\": [0, 0], \"size\": [10, 10], \"title\": \"no pid\"},";
  reply += "{\"address\": \"0xabc\", \"mapped\": true, \"hidden\": false, \"at\": [5, 5], \"size\": [10, 10], "
           "\"pid\": 4242, \"focusHistoryID\": 0}]";
  return reply;
}

// Median time of one parse of each kind, in milliseconds.
void Measure(const std::string& reply, double& pidAtMs, double& ownMs) {
  std::vector<double> a, b;
  for (int i = 0; i < 15; ++i) {
    double t0 = NowMs();
    volatile int pid = HyprPidAtIn(reply, 6, 6);
    double t1 = NowMs();
    HyprWindow w;
    volatile bool own = HyprOwnWindowIn(reply, 4242, w);
    double t2 = NowMs();
    (void)pid;
    (void)own;
    a.push_back(t1 - t0);
    b.push_back(t2 - t1);
  }
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  pidAtMs = a[a.size() / 2];
  ownMs = b[b.size() / 2];
}

}  // namespace

int main() {
  const std::string reply = WorstCaseReply();
  double pidAt = 0, own = 0;
  Measure(reply, pidAt, own);
  std::printf("hypr_pid_at_1mib_ms: %.2f\n", pidAt);
  std::printf("hypr_own_window_1mib_ms: %.2f\n", own);

  std::atomic<bool> stop{false};
  std::vector<std::thread> load;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  for (unsigned i = 0; i < cores; ++i)
    load.emplace_back([&] {
      volatile unsigned long n = 0;
      while (!stop.load(std::memory_order_relaxed)) n = n + 1;
    });
  Measure(reply, pidAt, own);
  stop.store(true);
  for (auto& t : load) t.join();
  std::printf("hypr_pid_at_1mib_ms_loaded: %.2f\n", pidAt);
  std::printf("hypr_own_window_1mib_ms_loaded: %.2f\n", own);
  return 0;
}
