// The key spammer thread and the target list operations.
#include "tools/keyspammer.h"

#include <array>
#include <atomic>
#include <optional>

#include "base/number_text.h"
#include "model/profiles.h"
#include "model/tool_state.h"
#include "model/wake.h"
#include "platform/os_input.h"
#include "platform/os_thread.h"
#include "model/hold_mode.h"
#include "tools/recorder.h"
#include "model/jitter.h"
#include "tools/tool_rate.h"
#include "tools/tool_timing.h"

namespace {

// The next target in sequential mode; private to the spammer thread, kept
// across runs so that a new run continues the rotation.
std::atomic<int> g_NextTarget{0};

// The targets of one cycle, read once: the keys released at the end of a cycle
// are exactly the keys it pressed, even when the list changes meanwhile.
struct TargetSnapshot {
  std::array<int, kMaxKeySpamTargets> vk{};
  int count = 0;
};

TargetSnapshot SnapshotTargets() {
  TargetSnapshot s;
  int n = keySpamTargetCount.load();
  if (n > kMaxKeySpamTargets) n = kMaxKeySpamTargets;
  s.count = n < 0 ? 0 : n;
  for (int i = 0; i < s.count; ++i) s.vk[static_cast<size_t>(i)] = keySpamTargets[i].load();
  return s;
}

void ReleaseTargets(const TargetSnapshot& s) {
  for (int i = 0; i < s.count; ++i) OsKeyVk(s.vk[static_cast<size_t>(i)], false);
}

void PressAndRecord(int vk, bool down) {
  OsKeyVk(vk, down);
  RecordToolKey(vk, down);
}

double KeySpamIntervalMs() {
  return ToolIntervalMs(ReadSetting(keySpamIntervalHours), ReadSetting(keySpamIntervalMins),
                        ReadSetting(keySpamIntervalSecs), ReadSetting(keySpamIntervalMs));
}

// One cycle after the running checks: reads the target list once, presses and
// releases the next target (or all targets as a chord) and counts the cycle.
// False, with nothing done, when the list is empty.
bool KeySpamCycle() {
  const TargetSnapshot s = SnapshotTargets();
  if (s.count <= 0) return false;
  int next = g_NextTarget.load();
  if (next < 0 || next >= s.count) next = 0;
  if (keySpamChordMode.load()) {
    for (int i = 0; i < s.count; ++i) PressAndRecord(s.vk[static_cast<size_t>(i)], true);
    for (int i = 0; i < s.count; ++i) PressAndRecord(s.vk[static_cast<size_t>(i)], false);
  } else {
    const int vk = s.vk[static_cast<size_t>(next)];
    PressAndRecord(vk, true);
    PressAndRecord(vk, false);
    next = (next + 1) % s.count;
  }
  g_NextTarget.store(next);
  currentKeySpamCount.fetch_add(1);
  g_KeySpamRate.Mark(MonotonicNs());
  return true;
}

}  // namespace

void ResetKeySpammerForTest() { g_NextTarget.store(0); }

void ReleaseAllKeySpamTargets() { ReleaseTargets(SnapshotTargets()); }

void KeySpammerThread() {
  OsMakeThreadTimeCritical(kTimingPriorityTool);
  while (g_AppRunning.load()) {
    if (!isKeySpamming.load()) {
      g_KeySpamRate.Reset();
      SettleRunCount(currentKeySpamCount, lastKeySpamRun);
      WaitUntilWoken(g_KeySpamWake);
      continue;
    }
    if (ReadSetting(keySpamRepeatMode) == 0 && currentKeySpamCount.load() >= ReadSetting(keySpamRepeatTimes)) {
      isKeySpamming.store(false);
      ReleaseAllKeySpamTargets();
      continue;
    }
    if (HoldReleasedBeforeStop(kReassignKeySpamHotkey)) {
      // A hold run whose key is up: the stop is on its way.
      WaitUntilWoken(g_KeySpamWake);
      continue;
    }
    if (!KeySpamCycle()) {
      isKeySpamming.store(false);
      continue;
    }
    WaitIntervalOrWake(g_KeySpamWake, JitteredIntervalMs(KeySpamIntervalMs(), ReadSetting(keySpamJitterMs)));
  }
}

void RemoveKeySpamTargetAt(int index) {
  const int count = keySpamTargetCount.load();
  if (index < 0 || index >= count || count > kKeySpamTargetSlots) return;
  if (index < count - 1) {
    for (int i = index; i < count - 1; ++i) keySpamTargets[i].store(keySpamTargets[i + 1].load());
    keySpamTargets[count - 1].store(0);
    keySpamTargetCount.store(count - 1);
    vkKeySpamTarget.store(keySpamTargets[0].load());
    SnapshotActiveProfileSettings();
    return;
  }
  keySpamTargets[count - 1].store(0);
  keySpamTargetCount.store(count - 1);
  if (count - 1 > 0) {
    vkKeySpamTarget.store(keySpamTargets[0].load());
    SnapshotActiveProfileSettings();
    return;
  }
  SnapshotActiveProfileSettings();
  if (isKeySpamming.load()) {
    triggerKeySpamStop.store(true);
    WakeSignalProcessor();
  }
}

void RemoveKeySpamTarget(const std::string& indexText) {
  if (const std::optional<int32_t> index = ParseLeadingInt32(indexText)) RemoveKeySpamTargetAt(*index);
}

void SetKeySpamChordMode(const std::string& text) {
  keySpamChordMode.store(text == "1");
  SnapshotActiveProfileSettings();
}
