// Recording control and the time base of recorded events.
#include "tools/recorder.h"

#include <algorithm>
#include <mutex>

#include "platform/os_input.h"
#include "model/tool_state.h"
#include "tools/tool_timing.h"

std::atomic<int64_t> g_RecordStart{0};

void MarkRecordStartTime() { g_RecordStart.store(MonotonicNs()); }

double RecordElapsedSeconds() {
  // Input from the devices carries the time the capture read it: a movement
  // whose position had to be asked for is recorded at its own time, not at
  // the time the answer came.
  const int64_t at = OsInputEventTimeNs();
  return static_cast<double>((at != 0 ? at : MonotonicNs()) - g_RecordStart.load()) / 1e9;
}

namespace {

MacroProfile* CurrentProfileLocked() {
  if (currentProfileIdx < 0 || currentProfileIdx >= static_cast<int>(profiles.size())) return nullptr;
  return &profiles[static_cast<size_t>(currentProfileIdx)];
}

}  // namespace

void RecordEvent(const UnifiedEvent& ev) {
  std::lock_guard<std::mutex> lock(profileMutex);
  MacroProfile* p = CurrentProfileLocked();
  if (!p) return;
  // Events are kept in time order. A movement that waited for its position
  // may come after later keys were recorded: it goes in before them.
  auto& events = p->events;
  if (events.empty() || !(ev.time < events.back().time)) {
    events.push_back(ev);
    return;
  }
  auto at = std::upper_bound(events.begin(), events.end(), ev.time,
                             [](double t, const UnifiedEvent& e) { return t < e.time; });
  events.insert(at, ev);
  g_ProfileDataRev.fetch_add(1);  // not an append: earlier events moved
}

void RecordToolClick(uint64_t flags, int64_t x, int64_t y) {
  if (!isRecording.load() || !ReadSetting(bRecordMouseClicks) || flags == 0) return;
  UnifiedEvent ev;
  ev.type = kEventButton;
  ev.time = RecordElapsedSeconds();
  ev.x = x;
  ev.y = y;
  ev.flags = flags;
  RecordEvent(ev);
}

void RecordToolKey(int vk, bool down) {
  if (!isRecording.load() || !ReadSetting(bRecordKeyboard) || vk <= 0) return;
  UnifiedEvent ev;
  ev.type = kEventKey;
  ev.time = RecordElapsedSeconds();
  ev.vk = vk;
  ev.keyDown = down;
  RecordEvent(ev);
}

void BeginRecordingLocked() {
  if (MacroProfile* p = CurrentProfileLocked()) p->events.clear();
  g_ProfileDataRev.fetch_add(1);  // the events were replaced, not appended to
  MarkRecordStartTime();
  isRecording.store(true);
}

void FinishRecording() {
  std::lock_guard<std::mutex> lock(profileMutex);
  MacroProfile* p = CurrentProfileLocked();
  if (!p || p->events.empty()) return;
  double earliest = p->events.front().time;
  for (const UnifiedEvent& ev : p->events) earliest = std::min(earliest, ev.time);
  for (UnifiedEvent& ev : p->events) ev.time -= earliest;
  g_ProfileDataRev.fetch_add(1);  // times changed in place
}
