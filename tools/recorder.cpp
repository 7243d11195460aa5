// Recording control and the time base of recorded events.
#include "tools/recorder.h"

#include <algorithm>
#include <mutex>

#include "tools/tool_state.h"
#include "tools/tool_timing.h"

std::atomic<int64_t> g_RecordStart{0};

void MarkRecordStartTime() { g_RecordStart.store(MonotonicNs()); }

double RecordElapsedSeconds() {
  return static_cast<double>(MonotonicNs() - g_RecordStart.load()) / 1e9;
}

namespace {

MacroProfile* CurrentProfileLocked() {
  if (currentProfileIdx < 0 || currentProfileIdx >= static_cast<int>(profiles.size())) return nullptr;
  return &profiles[static_cast<size_t>(currentProfileIdx)];
}

}  // namespace

void RecordEvent(const UnifiedEvent& ev) {
  std::lock_guard<std::mutex> lock(profileMutex);
  if (MacroProfile* p = CurrentProfileLocked()) p->events.push_back(ev);
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
