// The playback worker: plays the current profile's events on an absolute
// schedule through the injection devices and releases whatever it holds on
// every way out.
#include "tools/playback.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <mutex>

#include "base/json_escape.h"
#include "model/wake.h"
#include "platform/os_input.h"
#include "platform/os_thread.h"
#include "tools/recorder.h"
#include "tools/signals.h"
#include "tools/tool_timing.h"

std::atomic<int64_t> g_PlaybackDone{0};
std::atomic<int64_t> g_PlaybackTotal{0};
std::atomic<int64_t> g_PlaybackLoop{0};
std::atomic<uint64_t> g_PlayRun{0};

namespace {

// The latest an event can be due after the start of a pass: kMaxToolIntervalMs
// in nanoseconds, so "effectively never" instead of an overflow.
constexpr int64_t kMaxOffsetNs = static_cast<int64_t>(kMaxToolIntervalMs) * 1000000LL;

int ClampToInt(int64_t v) {
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

void DeviceButton(int button, bool down) { OsMouseButton(button, down, 1); }

const PlaybackOutput kDeviceOutput = {&OsKeyVk, &OsKeyVkRepeat, &DeviceButton, &OsMoveMouseTo, &OsMoveMouseBy, &OsMouseWheel,
                                        nullptr, &OsMouseHWheel};

// What a run holds down: keys by VK code, buttons 0 to 2.
struct Held {
  std::vector<int> keys;
  bool buttons[3] = {false, false, false};

  bool Holds(int vk) const { return std::find(keys.begin(), keys.end(), vk) != keys.end(); }
  void Key(int vk, bool down) {
    auto it = std::find(keys.begin(), keys.end(), vk);
    if (down && it == keys.end()) keys.push_back(vk);
    if (!down && it != keys.end()) keys.erase(it);
  }
  // Releases in reverse order of pressing, as fingers leave a chord.
  void ReleaseAll(const PlaybackOutput& out) {
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) out.key(*it, false);
    keys.clear();
    for (int b = 0; b < 3; ++b)
      if (buttons[b]) {
        out.button(b, false);
        buttons[b] = false;
      }
  }
};

// Where playback last placed the pointer, so a recorded click at the same
// spot does not place it again.
struct Pointer {
  bool placed = false;
  int x = 0;
  int y = 0;
};

void Apply(const PlaybackAction& a, const PlaybackOutput& out, Held& held, Pointer& ptr, bool relative) {
  switch (a.kind) {
    case PlaybackAction::kKey:
      if (a.down && held.Holds(a.code) && out.keyRepeat)
        out.keyRepeat(a.code);
      else
        out.key(a.code, a.down);
      held.Key(a.code, a.down);
      break;
    case PlaybackAction::kButton:
      if (!relative && !(ptr.placed && ptr.x == a.x && ptr.y == a.y)) {
        out.moveTo(a.x, a.y);
        ptr = Pointer{true, a.x, a.y};
      }
      out.button(a.code, a.down);
      held.buttons[a.code] = a.down;
      break;
    case PlaybackAction::kMoveTo:
      out.moveTo(a.x, a.y);
      ptr = Pointer{true, a.x, a.y};
      break;
    case PlaybackAction::kMoveBy:
      out.moveBy(a.x, a.y);
      break;
    case PlaybackAction::kWheel:
      out.wheel(a.wheel);
      break;
    case PlaybackAction::kHWheel:
      if (out.hwheel) out.hwheel(a.wheel);
      break;
    default:
      break;
  }
}

// Events copied or worked out between two looks at the real-time budget.
constexpr size_t kBudgetLookEvery = 4096;

// The longest single wait of a thread its real-time budget stepped down.
constexpr int64_t kDemotedWaitNs = 250'000'000;

// Waits until `due` (monotonic ns); false as soon as the run must stop.
bool WaitUntilDue(int64_t due, WakeEvent& wake, bool (*stillPlaying)(uint64_t), uint64_t run) {
  for (;;) {
    // Dense movement at a high speed, or a schedule fallen behind, keeps the
    // thread from ever sleeping: its real-time budget is looked at here.
    OsRealtimeBudgetCheck();
    if (!stillPlaying(run)) return false;
    const int64_t now = MonotonicNs();
    if (now >= due) return true;
    // Stepped down, it looks again now and then during a long pause, so it is
    // real-time again before the next event comes.
    int64_t wait = due - now;
    if (OsRealtimeBudgetDemoted() && wait > kDemotedWaitNs) wait = kDemotedWaitNs;
    WaitIntervalOrWake(wake, static_cast<double>(wait) / 1e6, WaitSpin::kAsNeeded);
  }
}

std::mutex g_NoteMutex;
std::string g_Note;
int64_t g_NoteId = 0;
std::string g_AskName;
int64_t g_AskCount = 0;

void ClearProgress() {
  g_PlaybackDone.store(0);
  g_PlaybackTotal.store(0);
  g_PlaybackLoop.store(0);
}

// The end of a pass that does not loop: play state is left as a stop request
// leaves it (buttons released, the stop-tools rule), unless the user already
// left it or started again meanwhile.
void LeavePlayStateAtEnd(uint64_t run) {
  if (g_PlayRun.load() != run) return;
  bool expected = true;
  if (!isPlaying.compare_exchange_strong(expected, false)) return;
  PlatformMouseButtonUp(0);
  PlatformMouseButtonUp(1);
  if (g_StopToolsWithMacro.load()) {
    triggerAutoClickStop.store(true);
    triggerKeySpamStop.store(true);
    WakeSignalProcessor();
  }
}

}  // namespace

PlaybackAction PlaybackActionFor(const UnifiedEvent& ev, bool relative) {
  PlaybackAction a;
  switch (ev.type) {
    case kEventKey:
      if (ev.vk <= 0) break;
      a.kind = PlaybackAction::kKey;
      a.code = ev.vk;
      a.down = ev.keyDown;
      break;
    case kEventButton: {
      int button = -1;
      bool down = false;
      switch (ev.flags) {
        case kFlagLeftDown: button = 0; down = true; break;
        case kFlagLeftUp: button = 0; break;
        case kFlagRightDown: button = 1; down = true; break;
        case kFlagRightUp: button = 1; break;
        case kFlagMiddleDown: button = 2; down = true; break;
        case kFlagMiddleUp: button = 2; break;
        default: break;  // another button's press: its release was never recorded
      }
      if (button < 0) break;
      a.kind = PlaybackAction::kButton;
      a.code = button;
      a.down = down;
      a.x = ClampToInt(ev.x);
      a.y = ClampToInt(ev.y);
      break;
    }
    case kEventMove:
      if (relative) {
        if (ev.x == 0 && ev.y == 0) break;
        a.kind = PlaybackAction::kMoveBy;
      } else {
        a.kind = PlaybackAction::kMoveTo;
      }
      a.x = ClampToInt(ev.x);
      a.y = ClampToInt(ev.y);
      break;
    case kEventWheel:
    case kEventHWheel:
      if (ev.wheelDelta == 0) break;
      a.kind = ev.type == kEventWheel ? PlaybackAction::kWheel : PlaybackAction::kHWheel;
      a.wheel = ev.wheelDelta;
      break;
    default:
      break;
  }
  return a;
}

double EffectivePlaybackSpeed(float speed) {
  const double s = static_cast<double>(speed);
  if (!std::isfinite(s) || s < kMinPlaybackSpeed || s > kMaxPlaybackSpeed) return 1.0;
  return s;
}

int64_t PlaybackOffsetNs(double seconds, double speed) {
  if (!(seconds > 0) || !std::isfinite(seconds) || !(speed > 0)) return 0;
  const double ns = seconds * 1e9 / speed;
  if (!(ns < static_cast<double>(kMaxOffsetNs))) return kMaxOffsetNs;
  return static_cast<int64_t>(std::llround(ns));
}

int64_t LoopPauseNs(int loopIntervalMs) {
  if (loopIntervalMs <= 0) return 0;
  return static_cast<int64_t>(loopIntervalMs) * 1000000LL;
}

const PlaybackOutput& DevicePlaybackOutput() { return kDeviceOutput; }

PlaybackSettings CurrentPlaybackSettings() {
  PlaybackSettings s;
  s.speed = EffectivePlaybackSpeed(ReadSetting(fPlaybackSpeed));
  s.relative = ReadSetting(bUseRelativeMouse);
  s.loop = ReadSetting(bLoopSequence);
  s.loopIntervalMs = ReadSetting(iLoopIntervalMs);
  return s;
}

bool PlayEvents(const std::vector<UnifiedEvent>& events, const PlaybackSettings& s, const PlaybackOutput& out,
                WakeEvent& wake, bool (*stillPlaying)(uint64_t), uint64_t run) {
  if (events.empty()) return true;
  // The actions and their offsets are worked out once, before the clock starts.
  std::vector<PlaybackAction> actions;
  std::vector<int64_t> offsets;
  actions.reserve(events.size());
  offsets.reserve(events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    if (i % kBudgetLookEvery == 0) OsRealtimeBudgetCheck();  // see the copy in PlaybackThread
    actions.push_back(PlaybackActionFor(events[i], s.relative));
    offsets.push_back(PlaybackOffsetNs(events[i].time, s.speed));
  }
  const int64_t lastOffset = *std::max_element(offsets.begin(), offsets.end());

  Held held;
  Pointer ptr;
  g_PlaybackTotal.store(static_cast<int64_t>(events.size()));
  bool finished = false;
  int64_t start = MonotonicNs();
  for (int64_t pass = 1;; ++pass) {
    g_PlaybackLoop.store(pass);
    g_PlaybackDone.store(0);
    if (out.passStart) out.passStart(start);
    bool stopped = false;
    for (size_t i = 0; i < actions.size(); ++i) {
      if (!WaitUntilDue(start + offsets[i], wake, stillPlaying, run)) {
        stopped = true;
        break;
      }
      Apply(actions[i], out, held, ptr, s.relative);
      g_PlaybackDone.store(static_cast<int64_t>(i + 1));
    }
    if (stopped) break;
    // Nothing a pass pressed outlives it, not even a key the recording
    // stopped on while it was held.
    held.ReleaseAll(out);
    if (!s.loop) {
      finished = true;
      break;
    }
    start = std::max(start + lastOffset, MonotonicNs()) + LoopPauseNs(s.loopIntervalMs);
  }
  held.ReleaseAll(out);
  return finished;
}

bool PlaybackRunActive(uint64_t run) {
  return g_AppRunning.load() && isPlaying.load() && g_PlayRun.load() == run;
}

bool CurrentProfileHasEvents() {
  std::lock_guard<std::mutex> lock(profileMutex);
  return currentProfileIdx >= 0 && currentProfileIdx < static_cast<int>(profiles.size()) &&
         !profiles[static_cast<size_t>(currentProfileIdx)].events.empty();
}

void PlaybackThread() {
  OsMakeThreadTimeCritical(kTimingPriorityTool);
  while (g_AppRunning.load()) {
    if (!isPlaying.load()) {
      ClearProgress();
      WaitUntilWoken(g_PlaybackWake);
      continue;
    }
    const uint64_t run = g_PlayRun.load();
    std::vector<UnifiedEvent> events;
    {
      // Copied in pieces with a look at the real-time budget between them: a
      // long recording's copy touches megabytes of new pages, which a slow
      // machine takes longer than the kernel lets a real-time thread run.
      std::lock_guard<std::mutex> lock(profileMutex);
      if (currentProfileIdx >= 0 && currentProfileIdx < static_cast<int>(profiles.size())) {
        const std::vector<UnifiedEvent>& from = profiles[static_cast<size_t>(currentProfileIdx)].events;
        events.reserve(from.size());
        for (size_t at = 0; at < from.size(); at += kBudgetLookEvery) {
          OsRealtimeBudgetCheck();
          events.insert(events.end(), from.begin() + static_cast<std::ptrdiff_t>(at),
                        from.begin() + static_cast<std::ptrdiff_t>(std::min(from.size(), at + kBudgetLookEvery)));
        }
      }
    }
    if (PlayEvents(events, CurrentPlaybackSettings(), DevicePlaybackOutput(), g_PlaybackWake, PlaybackRunActive,
                   run))
      LeavePlayStateAtEnd(run);
  }
  ClearProgress();
}

void PostPageNote(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_NoteMutex);
  g_Note = text;
  ++g_NoteId;
}

void SetMacroAsk(const std::string& name, int64_t events) {
  std::lock_guard<std::mutex> lock(g_NoteMutex);
  g_AskName = name;
  g_AskCount = name.empty() ? 0 : events;
}

std::string PlaybackStatusJsonMembers() {
  std::string j;
  j += ",\"playDone\":";
  j += std::to_string(g_PlaybackDone.load());
  j += ",\"playTotal\":";
  j += std::to_string(g_PlaybackTotal.load());
  j += ",\"playLoop\":";
  j += std::to_string(g_PlaybackLoop.load());
  std::lock_guard<std::mutex> lock(g_NoteMutex);
  j += ",\"note\":";
  j += JsonEscapeForBind(g_Note);
  j += ",\"noteId\":";
  j += std::to_string(g_NoteId);
  j += ",\"macroAsk\":";
  j += JsonEscapeForBind(g_AskName);
  j += ",\"macroAskCount\":";
  j += std::to_string(g_AskCount);
  return j;
}

void ResetPlaybackForTest() {
  ClearProgress();
  g_PlayRun.store(0);
  std::lock_guard<std::mutex> lock(g_NoteMutex);
  g_Note.clear();
  g_NoteId = 0;
  g_AskName.clear();
  g_AskCount = 0;
}
