#pragma once
// Helpers for the tool tests: a clean tool state with one profile, the events
// recorded into it, waiting for a condition, and the tool worker threads run
// for the length of one test.
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "app/app.h"
#include "model/profiles.h"
#include "tools/keyspammer.h"
#include "tools/playback.h"
#include "tools/recorder.h"
#include "tools/tool_rate.h"
#include "model/tool_state.h"

namespace toolstest {

inline void ResetAll() {
  ResetToolStateForTest();
  ResetInputHooksForTest();
  ResetKeySpammerForTest();
  ResetPlaybackForTest();
  ResetTimingTestForTest();
  for (WakeEvent* ev : {&g_SignalWake, &g_AutoClickWake, &g_KeySpamWake, &g_PlaybackWake})
    ev->flag.store(false);
  std::lock_guard<std::mutex> lock(profileMutex);
  profiles.assign(1, MacroProfile{kDefaultProfileName, "", {}});
  currentProfileIdx = 0;
}

// Starts a recording through the same call the signal processor makes, so the
// tools' own clicks and keys become observable as recorded events.
inline void StartRecording() {
  std::lock_guard<std::mutex> lock(profileMutex);
  BeginRecordingLocked();
}

inline std::vector<UnifiedEvent> Events() {
  std::lock_guard<std::mutex> lock(profileMutex);
  if (currentProfileIdx < 0 || currentProfileIdx >= static_cast<int>(profiles.size())) return {};
  return profiles[static_cast<size_t>(currentProfileIdx)].events;
}

// Waits until `cond` holds; the limit only ends a test that would otherwise
// hang, so it is generous enough for a loaded machine.
inline bool WaitFor(const std::function<bool()>& cond, double seconds = 60) {
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return cond();
}

// Runs a tool's worker loop on its own thread; the destructor ends it the way
// shutdown does (clear g_AppRunning, wake, join) and sets g_AppRunning again.
// The constructor returns once the loop has gone idle (an idle loop resets its
// run counter), so a start request made afterwards is consumed by the idle wait
// and not kept to cut the first interval short.
class WorkerThread {
 public:
  WorkerThread(void (*loop)(), WakeEvent& wake, std::atomic<int>& runCounter) : wake_(wake) {
    g_AppRunning.store(true);
    runCounter.store(-1);
    thread_ = std::thread(loop);
    WaitFor([&] { return runCounter.load() == 0; });
  }
  ~WorkerThread() {
    g_AppRunning.store(false);
    wake_.Wake();
    thread_.join();
    g_AppRunning.store(true);
    wake_.flag.store(false);
  }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

 private:
  WakeEvent& wake_;
  std::thread thread_;
};

}  // namespace toolstest
