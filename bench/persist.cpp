// Session persistence with a 1,000,000-event recording: the autosave tick
// that finds nothing changed, a save after a change, loading, and how long
// the profile lock is held by a save.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/app.h"
#include "model/profiles.h"
#include "state/session_file.h"
#include "model/tool_state.h"

namespace {

constexpr int kEvents = 1000000;

double CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double WallMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A recording as the hooks produce it: mostly pointer movement, some clicks,
// keys and wheel steps, times growing by a few milliseconds.
std::vector<UnifiedEvent> MakeRecording() {
  std::vector<UnifiedEvent> events;
  events.reserve(kEvents);
  double t = 0;
  for (int i = 0; i < kEvents; ++i) {
    UnifiedEvent e;
    t += 0.004 + (i % 7) * 0.0013;
    e.time = t;
    switch (i % 20) {
      case 5: e.type = 2; e.flags = 2; e.x = 800 + i % 300; e.y = 400 + i % 200; break;
      case 6: e.type = 2; e.flags = 4; e.x = 800 + i % 300; e.y = 400 + i % 200; break;
      case 10: e.type = 3; e.vk = 65 + i % 26; e.keyDown = true; break;
      case 11: e.type = 3; e.vk = 65 + (i - 1) % 26; break;
      case 15: e.type = 4; e.wheelDelta = (i % 40 < 20) ? 120 : -120; break;
      default: e.type = 1; e.x = 100 + i % 1820; e.y = 50 + (i * 7) % 1000; break;
    }
    events.push_back(e);
  }
  return events;
}

}  // namespace

int main() {
  char dirTemplate[] = "/tmp/pmr-bench-persist-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  g_SessionStateFilePath = dir + "/session.dat";

  {
    std::lock_guard<std::mutex> lock(profileMutex);
    profiles.assign(1, MacroProfile{kDefaultProfileName, "", MakeRecording()});
    profiles.push_back(MacroProfile{"Second", SerializeProfileSettings(), {}});
    currentProfileIdx = 0;
  }

  // Saves after a change: formatting plus writing (with the flush to disk).
  std::vector<double> mbPerS, lockMs;
  for (int round = 0; round < 5; ++round) {
    {
      std::lock_guard<std::mutex> lock(profileMutex);
      profiles[0].events.push_back(UnifiedEvent{1, 5000.0 + round, round, round, 0, 0, false, 0});
    }
    double t0 = WallMs();
    SaveSessionState();
    double ms = WallMs() - t0;
    SessionSaveStats s = LastSessionSaveStats();
    if (!s.wrote) {
      std::fprintf(stderr, "save did not write\n");
      return 1;
    }
    mbPerS.push_back(s.bytes / 1e6 / (ms / 1e3));
    lockMs.push_back(s.lockHoldNs / 1e6);
  }

  // Autosave ticks that find nothing changed: CPU time per tick.
  const int ticks = 2000;
  double c0 = CpuMs();
  for (int i = 0; i < ticks; ++i) SaveSessionState();
  double unchangedMs = (CpuMs() - c0) / ticks;
  if (LastSessionSaveStats().rebuilt) {
    std::fprintf(stderr, "unchanged tick rebuilt the text\n");
    return 1;
  }

  // Loading the file written above.
  std::vector<double> loadMs;
  for (int round = 0; round < 3; ++round) {
    double t0 = WallMs();
    if (!LoadSessionState()) return 1;
    loadMs.push_back(WallMs() - t0);
  }

  std::printf("autosave_unchanged_ms_1m: %.4f\n", unchangedMs);
  std::printf("save_mb_per_s: %.1f\n", Median(mbPerS));
  std::printf("load_ms_1m: %.1f\n", Median(loadMs));
  std::printf("lock_hold_ms_1m: %.2f\n", Median(lockMs));

  unlink(g_SessionStateFilePath.c_str());
  rmdir(dir.c_str());
  return 0;
}
