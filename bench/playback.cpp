// How punctually playback plays: a 10,000-event recording at speed 1 (gaps of
// 0.2 to 1.8 ms, about 10 s), the lateness of every event against its due
// time (start of the pass + recorded time), on a quiet machine and with one
// busy process per core beside it; and the lateness of the last event of a
// 60 s macro (drift). The events go to an output that only notes the time,
// so the figures are the schedule's own, not the devices'.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "app/app.h"
#include "bench/load.h"
#include "platform/os_thread.h"
#include "tools/playback.h"
#include "tools/recorder.h"

namespace {

std::vector<int64_t> g_Times;
size_t g_Count = 0;
int64_t g_Start = 0;

void Note() {
  if (g_Count < g_Times.size()) g_Times[g_Count] = MonotonicNs();
  ++g_Count;
}
const PlaybackOutput kTimingOutput = {
    [](int, bool) { Note(); },       [](int) { Note(); },       [](int, bool) { Note(); }, [](int, int) { Note(); },
    [](int, int) { Note(); },        [](int) { Note(); },       [](int64_t start) { g_Start = start; },
};

bool Always(uint64_t) { return true; }

// Key presses and releases at the given times (seconds).
std::vector<UnifiedEvent> Keys(const std::vector<double>& times) {
  std::vector<UnifiedEvent> events;
  events.reserve(times.size());
  for (size_t i = 0; i < times.size(); ++i)
    events.push_back(UnifiedEvent{kEventKey, times[i], 0, 0, 0, 65, i % 2 == 0, 0});
  return events;
}

int g_Timing = -1;

// Lateness of each event in microseconds. Played on a thread scheduled as the
// playback worker schedules itself.
std::vector<double> Play(const std::vector<UnifiedEvent>& events) {
  g_Times.assign(events.size(), 0);
  g_Count = 0;
  WakeEvent wake;
  std::thread player([&] {
    g_Timing = static_cast<int>(OsMakeThreadTimeCritical(kTimingPriorityTool));
    PlayEvents(events, PlaybackSettings{}, kTimingOutput, wake, Always, 0);
  });
  player.join();
  std::vector<double> late;
  late.reserve(events.size());
  for (size_t i = 0; i < events.size(); ++i)
    late.push_back(static_cast<double>(g_Times[i] - (g_Start + PlaybackOffsetNs(events[i].time, 1.0))) / 1e3);
  return late;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}


}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  if (count <= 0) count = 10000;

  std::vector<double> times;
  times.reserve(static_cast<size_t>(count));
  double t = 0;
  unsigned seed = 12345;
  for (int i = 0; i < count; ++i) {
    times.push_back(t);
    seed = seed * 1103515245u + 12345u;
    t += 0.0002 + 0.0016 * static_cast<double>((seed >> 8) % 1000) / 1000.0;
  }
  const std::vector<UnifiedEvent> recording = Keys(times);

  std::vector<double> quiet = Play(recording);
  // How the playing thread is scheduled here (0 plain, 1 a raised nice level,
  // 2 real-time set directly, 3 real-time through RealtimeKit).
  std::printf("playback_thread_timing: %d\n", g_Timing);
  // Times the player stepped down from real-time for running 50 ms without
  // sleeping (a schedule it could not keep).
  std::printf("playback_budget_stepdowns: %llu\n", static_cast<unsigned long long>(OsRealtimeBudgetDemotions()));
  std::printf("playback_event_lateness_p50_us: %.1f\n", Percentile(quiet, 0.50));
  std::printf("playback_event_lateness_p99_us: %.1f\n", Percentile(quiet, 0.99));
  std::printf("playback_event_lateness_max_us: %.1f\n", *std::max_element(quiet.begin(), quiet.end()));

  // A 60 s macro: an event every 100 ms; the last one shows any drift.
  std::vector<double> minute;
  for (int i = 0; i <= 600; ++i) minute.push_back(i * 0.1);
  std::vector<double> drift = Play(Keys(minute));
  pmrbench::PrintTimerFloor(kTimingPriorityTool, "");
  std::printf("playback_drift_ms_60s: %.3f\n", drift.back() / 1e3);

  std::vector<double> loaded;
  {
    pmrbench::BusyLoad load;
    loaded = Play(recording);
    pmrbench::PrintTimerFloor(kTimingPriorityTool, "_loaded");
  }
  std::printf("playback_event_lateness_p50_us_loaded: %.1f\n", Percentile(loaded, 0.50));
  std::printf("playback_event_lateness_p99_us_loaded: %.1f\n", Percentile(loaded, 0.99));
  std::printf("playback_budget_stepdowns_loaded: %llu\n",
              static_cast<unsigned long long>(OsRealtimeBudgetDemotions()));
  return 0;
}
