// The tools' shared state, hotkey dispatch and key reassignment requests.
#include "model/tool_state.h"
#include "model/hotkey_guard.h"
#include "model/click_sequence.h"
#include "model/jitter.h"
#include "model/rate_meter.h"
#include "model/hold_mode.h"
#include "model/hotkey_mods.h"
#include "model/panic_stop.h"

#include "model/wake.h"

std::atomic<bool> isRecording{false};
std::atomic<bool> isPlaying{false};
std::atomic<bool> isAutoClicking{false};
std::atomic<bool> isKeySpamming{false};
std::atomic<bool> isPickingLocation{false};

std::atomic<bool> triggerRecord{false};
std::atomic<bool> triggerPlay{false};
std::atomic<bool> triggerPlayStop{false};
std::atomic<bool> triggerAutoClicker{false};
std::atomic<bool> triggerAutoClickStart{false};
std::atomic<bool> triggerAutoClickStop{false};
std::atomic<bool> triggerKeySpam{false};
std::atomic<bool> triggerKeySpamStart{false};
std::atomic<bool> triggerKeySpamStop{false};
std::atomic<bool> triggerRecordStart{false};
std::atomic<bool> triggerRecordStop{false};
std::atomic<bool> triggerPlayStart{false};
std::atomic<bool> triggerStopAll{false};

std::atomic<int> vkRecord{kDefaultVkRecord};
std::atomic<int> vkPlay{kDefaultVkPlay};
std::atomic<int> vkAutoClicker{kDefaultVkAutoClicker};
std::atomic<int> vkKeySpamHotkey{kDefaultVkKeySpam};
std::atomic<int> vkUnlock{kDefaultVkUnlock};

std::atomic<bool> g_HotkeyLockEnabled{true};
std::atomic<bool> g_HotkeysUnlocked{true};
std::atomic<bool> g_HotkeysEnabled{true};
std::atomic<bool> g_StopToolsWithMacro{true};
std::atomic<bool> g_HoldModeAuto{false};
std::atomic<bool> g_HoldModeKeySpam{false};

std::atomic<int> currentReassign{kReassignNone};
std::atomic<int> capturedReassignKey{0};

int autoClickIntervalHours = 0;
int autoClickIntervalMins = 0;
int autoClickIntervalSecs = 0;
int autoClickIntervalMs = 100;
int autoClickerButtonIdx = 0;
int autoClickClickType = 0;
int autoClickRepeatMode = 1;
int autoClickRepeatTimes = 10;
std::atomic<int> autoClickLocationMode{0};
std::atomic<int> autoClickFixedX{0};
std::atomic<int> autoClickFixedY{0};
std::atomic<int> currentClickCount{0};

int keySpamIntervalHours = 0;
int keySpamIntervalMins = 0;
int keySpamIntervalSecs = 0;
int keySpamIntervalMs = 100;
int keySpamRepeatMode = 1;
int keySpamRepeatTimes = 10;
std::atomic<int> keySpamTargets[kKeySpamTargetSlots] = {32};
std::atomic<int> keySpamTargetCount{1};
std::atomic<int> vkKeySpamTarget{32};
std::atomic<bool> keySpamChordMode{false};
std::atomic<int> currentKeySpamCount{0};
FinishedRuns lastClickRun;
FinishedRuns lastKeySpamRun;

void SettleRunCount(std::atomic<int>& live, FinishedRuns& last) {
  const int n = live.exchange(0);
  if (n <= 0) return;
  // The count first: a reader that sees the new run number sees its count.
  last.count.store(n);
  last.runs.fetch_add(1);
}

bool bRecordMouseMovement = true;
bool bRecordMouseClicks = true;
bool bRecordMouseScroll = true;
bool bRecordKeyboard = true;
bool bUseRelativeMouse = false;
float fPlaybackSpeed = 1.0f;
bool bLoopSequence = false;
int iLoopIntervalMs = 500;

bool HandleHotkeyDown(int code) {
  // A hotkey is its key with exactly its modifiers: Ctrl+F6 is not F6, so
  // every other combination of the key keeps working on the desktop.
  const int mods = HeldModifierMask();
  auto is = [code, mods](const std::atomic<int>& vk, const std::atomic<int>& vkMods) {
    return code == vk.load() && mods == vkMods.load();
  };
  // The unlock key is tested first: with the lock feature on it wins over any
  // other hotkey on the same key.
  if (is(vkUnlock, modsUnlock) && g_HotkeyLockEnabled.load()) {
    bool wasUnlocked = g_HotkeysUnlocked.load();
    g_HotkeysUnlocked.store(!wasUnlocked);
    if (wasUnlocked) {
      triggerAutoClickStop.store(true);
      triggerKeySpamStop.store(true);
      triggerPlayStop.store(true);
    }
    WakeSignalProcessor();
    return true;
  }
  if (g_HotkeyLockEnabled.load() && !g_HotkeysUnlocked.load()) return false;

  std::atomic<bool>* trigger = nullptr;
  if (is(vkRecord, modsRecord)) {
    trigger = &triggerRecord;
  } else if (is(vkPlay, modsPlay)) {
    trigger = &triggerPlay;
  } else if (is(vkAutoClicker, modsAutoClicker)) {
    if (HoldHotkeyDown(kReassignAuto, code)) return true;
    trigger = &triggerAutoClicker;
  } else if (is(vkKeySpamHotkey, modsKeySpamHotkey)) {
    if (HoldHotkeyDown(kReassignKeySpamHotkey, code)) return true;
    trigger = &triggerKeySpam;
  }
  if (!trigger) return false;
  trigger->store(true);
  WakeSignalProcessor();
  return true;
}

void OnHotkeyReleased(int code) { HoldHotkeyUp(code); }

// Hold mode and turbo are driven by keys and buttons held down: when the
// session locks, their releases can no longer be seen, so the tool stops.
bool HoldModeAuto() { return g_HoldModeAuto.load() || g_TurboAuto.load(); }
bool HoldModeKeySpam() { return g_HoldModeKeySpam.load(); }

void ReassignKey(const std::string& kind) {
  static const struct {
    const char* word;
    int kind;
  } kKinds[] = {
      {"rec", kReassignRecord},         {"play", kReassignPlay},
      {"auto", kReassignAuto},          {"keyspamhotkey", kReassignKeySpamHotkey},
      {"keyspamtarget", kReassignKeySpamTarget}, {"unlock", kReassignUnlock},
  };
  for (const auto& k : kKinds) {
    if (kind == k.word) {
      currentReassign.store(k.kind);
      return;
    }
  }
}

void ResetHotkeys() {
  for (auto* m : {&modsRecord, &modsPlay, &modsAutoClicker, &modsKeySpamHotkey, &modsUnlock}) m->store(0);
  vkRecord.store(kDefaultVkRecord);
  vkPlay.store(kDefaultVkPlay);
  vkAutoClicker.store(kDefaultVkAutoClicker);
  vkKeySpamHotkey.store(kDefaultVkKeySpam);
  vkUnlock.store(kDefaultVkUnlock);
}

void ResetToolStateForTest() {
  for (auto* f : {&isRecording, &isPlaying, &isAutoClicking, &isKeySpamming, &isPickingLocation,
                  &triggerRecord, &triggerPlay, &triggerPlayStop, &triggerAutoClicker,
                  &triggerAutoClickStart, &triggerAutoClickStop, &triggerKeySpam,
                  &triggerKeySpamStart, &triggerKeySpamStop, &triggerRecordStart, &triggerRecordStop,
                  &triggerPlayStart, &triggerStopAll, &g_HoldModeAuto, &g_HoldModeKeySpam,
                  &keySpamChordMode, &g_TurboAuto, &triggerHoldAuto, &triggerHoldKeySpam})
    f->store(false);
  ClearHoldState();
  ResetHeldModifiers();
  ResetPanicWatch();
  g_PanicCombo.store(kDefaultPanicCombo);
  g_PanicStops.store(0);
  capturedReassignMods.store(0);
  ResetHotkeys();
  g_HotkeyLockEnabled.store(true);
  g_HotkeysUnlocked.store(true);
  g_HotkeysEnabled.store(true);
  g_StopToolsWithMacro = true;
  currentReassign.store(0);
  capturedReassignKey.store(0);
  ResetHotkeyGuardForTest();
  autoClickIntervalHours = autoClickIntervalMins = autoClickIntervalSecs = 0;
  autoClickIntervalMs = 100;
  autoClickerButtonIdx = autoClickClickType = 0;
  autoClickRepeatMode = 1;
  autoClickRepeatTimes = 10;
  autoClickLocationMode = 0;
  autoClickFixedX.store(0);
  autoClickFixedY.store(0);
  currentClickCount.store(0);
  keySpamIntervalHours = keySpamIntervalMins = keySpamIntervalSecs = 0;
  keySpamIntervalMs = 100;
  keySpamRepeatMode = 1;
  keySpamRepeatTimes = 10;
  for (auto& t : keySpamTargets) t.store(0);
  keySpamTargets[0].store(32);
  keySpamTargetCount.store(1);
  vkKeySpamTarget.store(32);
  currentKeySpamCount.store(0);
  for (FinishedRuns* r : {&lastClickRun, &lastKeySpamRun}) {
    r->count.store(0);
    r->runs.store(0);
  }
  bRecordMouseMovement = bRecordMouseClicks = bRecordMouseScroll = bRecordKeyboard = true;
  bUseRelativeMouse = false;
  fPlaybackSpeed = 1.0f;
  bLoopSequence = false;
  iLoopIntervalMs = 500;
  autoClickJitterMs = autoClickJitterRadius = keySpamJitterMs = 0;
  SetClickSequence({});
  g_ClickRate.Reset();
  g_KeySpamRate.Reset();
}
