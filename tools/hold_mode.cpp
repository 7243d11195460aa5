// Hold to run for both tools and turbo for the auto clicker.
#include "tools/hold_mode.h"

#include <array>

#include "app/app.h"
#include "tools/tool_state.h"

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
  if (triggerHoldAuto.exchange(false))
    (g_HoldAutoDown.load() ? triggerAutoClickStart : triggerAutoClickStop).store(true);
  if (triggerHoldKeySpam.exchange(false))
    (g_HoldKeySpamDown.load() ? triggerKeySpamStart : triggerKeySpamStop).store(true);
}

void ClearHoldState() {
  // Releases still to come find no tool to stop; their presses stay swallowed
  // by the hooks' own tables.
  for (auto& k : g_HoldKindOfCode) k.store(0);
  g_HoldAutoDown.store(false);
  g_HoldKeySpamDown.store(false);
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
