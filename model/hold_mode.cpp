// Hold to run for both tools and turbo for the auto clicker.
#include "model/hold_mode.h"

#include <array>

#include "model/wake.h"
#include "model/tool_state.h"

std::atomic<bool> g_TurboAuto{false};
std::atomic<bool> g_TurboButtonHeld{false};
std::atomic<bool> triggerHoldAuto{false};
std::atomic<bool> triggerHoldKeySpam{false};

namespace {

// Whether each hold hotkey is down, and which tool each held code started
// (by code, so a release still finds its tool after the hotkey was changed or
// the modifiers were let go first). Written by the capture thread and by
// ClearHoldState.
std::atomic<bool> g_HoldAutoDown{false};
std::atomic<bool> g_HoldKeySpamDown{false};
// A run that hold mode asked to start and has not yet asked to stop.
std::atomic<bool> g_HoldAutoRun{false};
std::atomic<bool> g_HoldKeySpamRun{false};
std::array<std::atomic<int>, 256> g_HoldKindOfCode{};
// The button whose press turbo took; 0 for none. Capture thread only.
int g_TurboCode = 0;

void SetLevel(int kind, bool down) {
  if (kind == kReassignAuto) {
    g_HoldAutoDown.store(down);
    triggerHoldAuto.store(true);
  } else {
    g_HoldKeySpamDown.store(down);
    triggerHoldKeySpam.store(true);
  }
  WakeSignalProcessor();
  // The tool hears of the key at once: after a release it makes no further
  // action while the signal processor is on its way to stop it; a press
  // again before that lets it go on.
  (kind == kReassignAuto ? WakeAutoClickThread : WakeKeySpamThread)();
}

void ApplyLevel(std::atomic<bool>& trigger, const std::atomic<bool>& down, std::atomic<bool>& run,
                std::atomic<bool>& start, std::atomic<bool>& stop) {
  if (!trigger.exchange(false)) return;
  const bool isDown = down.load();
  run.store(isDown);
  (isDown ? start : stop).store(true);
}

}  // namespace

bool HoldHotkeyDown(int kind, int code) {
  const bool hold = (kind == kReassignAuto && g_HoldModeAuto.load()) ||
                    (kind == kReassignKeySpamHotkey && g_HoldModeKeySpam.load());
  if (!hold || code < 0 || code >= 256) return false;
  g_HoldKindOfCode[static_cast<size_t>(code)].store(kind);
  SetLevel(kind, true);
  return true;
}

void HoldHotkeyUp(int code) {
  if (code < 0 || code >= 256) return;
  const int kind = g_HoldKindOfCode[static_cast<size_t>(code)].exchange(0);
  if (kind == 0) return;
  SetLevel(kind, false);
}

int TurboButtonVk() {
  switch (ReadSetting(autoClickerButtonIdx)) {
    case 0: return 1;
    case 1: return 2;
    case 2: return 4;
    default: return 0;
  }
}

bool TurboButton(int button, bool down) {
  if (!down) {
    if (g_TurboCode == 0 || button != g_TurboCode) return false;
    g_TurboCode = 0;
    g_TurboButtonHeld.store(false);
    WakeAutoClickThread();
    return true;
  }
  if (!g_TurboAuto.load() || !isAutoClicking.load() || button != TurboButtonVk()) return false;
  g_TurboCode = button;
  g_TurboButtonHeld.store(true);
  WakeAutoClickThread();
  return true;
}

bool TurboWaitsForButton() { return g_TurboAuto.load() && !g_TurboButtonHeld.load(); }

void ApplyHoldTriggers() {
  ApplyLevel(triggerHoldAuto, g_HoldAutoDown, g_HoldAutoRun, triggerAutoClickStart, triggerAutoClickStop);
  ApplyLevel(triggerHoldKeySpam, g_HoldKeySpamDown, g_HoldKeySpamRun, triggerKeySpamStart, triggerKeySpamStop);
}

bool HoldReleasedBeforeStop(int kind) {
  if (kind == kReassignAuto) return g_HoldAutoRun.load() && !g_HoldAutoDown.load();
  return g_HoldKeySpamRun.load() && !g_HoldKeySpamDown.load();
}

void ClearHoldState() {
  // Releases still to come find no tool to stop; their presses stay swallowed
  // by the hooks' own tables.
  for (auto& k : g_HoldKindOfCode) k.store(0);
  g_HoldAutoDown.store(false);
  g_HoldKeySpamDown.store(false);
  g_HoldAutoRun.store(false);
  g_HoldKeySpamRun.store(false);
  triggerHoldAuto.store(false);
  triggerHoldKeySpam.store(false);
  g_TurboButtonHeld.store(false);
}

void SetHoldOption(const std::string& text) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos) return;
  const std::string name = text.substr(0, comma);
  const bool on = text.substr(comma + 1) == "1";
  if (name == "auto")
    g_HoldModeAuto.store(on);
  else if (name == "keyspam")
    g_HoldModeKeySpam.store(on);
  else if (name == "turbo")
    g_TurboAuto.store(on);
}
