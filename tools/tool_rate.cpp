// Measured rates of the running tools and the "Test timing" run.
#include "tools/tool_rate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <vector>

#include "model/rate_meter.h"
#include "model/wake.h"
#include "model/tool_state.h"
#include "tools/tool_timing.h"

namespace {

enum class TestState { kIdle, kWaiting, kRunning, kDone, kInterrupted };

struct TimingResult {
  TestState state = TestState::kIdle;
  uint32_t seq = 0;
  double intervalMs = 0;
  size_t samples = 0;
  double perSecond = 0, p50Us = 0, p99Us = 0, maxUs = 0;
  int histogram[kTimingBuckets] = {};
};

std::mutex g_TestLock;
TimingResult g_Test;

const char* StateWord(TestState s) {
  switch (s) {
    case TestState::kWaiting: return "waiting";
    case TestState::kRunning: return "running";
    case TestState::kDone: return "done";
    case TestState::kInterrupted: return "interrupted";
    default: return "idle";
  }
}

double Percentile(std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  size_t i = static_cast<size_t>(std::ceil(p * static_cast<double>(sorted.size())));
  if (i > 0) --i;
  return sorted[std::min(i, sorted.size() - 1)];
}

std::string Number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", std::isfinite(v) ? v : 0.0);
  return buf;
}

}  // namespace

void RequestTimingTest() {
  {
    std::lock_guard<std::mutex> lock(g_TestLock);
    if (g_Test.state == TestState::kWaiting || g_Test.state == TestState::kRunning) return;
    g_Test.state = TestState::kWaiting;
    ++g_Test.seq;
  }
  // A running clicker takes the test up once it stops; waking it now would
  // cut its current pause short.
  if (!isAutoClicking.load()) g_AutoClickWake.Wake();
}

bool RunTimingTestIfRequested() {
  double intervalMs = 0;
  {
    std::lock_guard<std::mutex> lock(g_TestLock);
    if (g_Test.state != TestState::kWaiting) return false;
    g_Test.state = TestState::kRunning;
  }
  intervalMs = std::min(ToolIntervalMs(ReadSetting(autoClickIntervalHours), ReadSetting(autoClickIntervalMins),
                                       ReadSetting(autoClickIntervalSecs), ReadSetting(autoClickIntervalMs)),
                        kTimingTestMaxIntervalMs);
  // The clicker's own loop without the click: each pause is the same wait,
  // followed by the same check of the run state.
  std::vector<double> errorsUs;
  errorsUs.reserve(static_cast<size_t>(kTimingTestNs / 1000000 / static_cast<int64_t>(intervalMs) + 2));
  bool interrupted = false;
  const int64_t start = MonotonicNs();
  int64_t now = start;
  while (now - start < kTimingTestNs) {
    const int64_t before = MonotonicNs();
    WaitIntervalOrWake(g_AutoClickWake, intervalMs);
    now = MonotonicNs();
    if (isAutoClicking.load() || !g_AppRunning.load()) {
      interrupted = true;
      break;
    }
    const double error = static_cast<double>(now - before) / 1e3 - intervalMs * 1e3;
    // A wake that ended the wait early (another test request) is no sample.
    if (error >= 0) errorsUs.push_back(error);
  }
  const double seconds = static_cast<double>(now - start) / 1e9;

  TimingResult r;
  r.state = interrupted ? TestState::kInterrupted : TestState::kDone;
  r.intervalMs = intervalMs;
  r.samples = errorsUs.size();
  r.perSecond = seconds > 0 ? static_cast<double>(errorsUs.size()) / seconds : 0;
  for (double e : errorsUs) {
    int b = 0;
    while (b < kTimingBuckets - 1 && e > kTimingBucketEdgesUs[b]) ++b;
    ++r.histogram[b];
  }
  std::sort(errorsUs.begin(), errorsUs.end());
  r.p50Us = Percentile(errorsUs, 0.50);
  r.p99Us = Percentile(errorsUs, 0.99);
  r.maxUs = errorsUs.empty() ? 0 : errorsUs.back();
  std::lock_guard<std::mutex> lock(g_TestLock);
  r.seq = g_Test.seq;
  g_Test = r;
  return true;
}

std::string TimingTestJson() {
  TimingResult r;
  {
    std::lock_guard<std::mutex> lock(g_TestLock);
    r = g_Test;
  }
  std::string j = "{\"state\":\"";
  j += StateWord(r.state);
  j += "\",\"seq\":" + std::to_string(r.seq);
  j += ",\"intervalMs\":" + Number(r.intervalMs);
  j += ",\"samples\":" + std::to_string(r.samples);
  j += ",\"perSecond\":" + Number(r.perSecond);
  j += ",\"p50Us\":" + Number(r.p50Us);
  j += ",\"p99Us\":" + Number(r.p99Us);
  j += ",\"maxUs\":" + Number(r.maxUs);
  j += ",\"edgesUs\":[";
  for (int i = 0; i < kTimingBuckets - 1; ++i) j += (i ? "," : "") + std::to_string(kTimingBucketEdgesUs[i]);
  j += "],\"histogram\":[";
  for (int i = 0; i < kTimingBuckets; ++i) j += (i ? "," : "") + std::to_string(r.histogram[i]);
  j += "]}";
  return j;
}

void ResetTimingTestForTest() {
  std::lock_guard<std::mutex> lock(g_TestLock);
  g_Test = TimingResult{};
}
