// The input hooks: every key, button, movement and wheel event of the desktop
// passes through here on the capture thread. They capture a key for a waiting
// reassignment, offer first presses to the hotkey dispatch, remember which
// presses were swallowed so that the matching release is swallowed too, end a
// position pick, and record the event while a recording runs.
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "model/profiles.h"
#include "model/tool_state.h"
#include "model/wake.h"
#include "platform/os_input.h"
#include "model/hold_mode.h"
#include "model/hotkey_mods.h"
#include "model/panic_stop.h"
#include "tools/recorder.h"
#include "tools/tool_timing.h"

namespace {

// Tracking tables, touched only by the capture thread. They are indexed by the
// code itself: only codes 1..255 are tracked (every VK code the capture layer
// delivers lies there), so a code can never share an entry with another code.
// Anything outside that range is passed through without touching the tables,
// the hotkey dispatch or a waiting reassignment; otherwise a stray code could
// alias a held hotkey's entry (same low 8 bits) and swallow a release whose
// press reached the desktop, leaving that key held there.
constexpr int kTableSize = 256;
std::array<bool, kTableSize> keyHeld{};
std::array<bool, kTableSize> keySwallowed{};
std::array<bool, kTableSize> buttonHeld{};
std::array<bool, kTableSize> buttonSwallowed{};
std::array<bool, 8> buttonPressDropped{};  // buttons 1..7: press left out of the recording
double lastCursorX = 0;
double lastCursorY = 0;

// A modifier pressed while a hotkey waits for its new key: it may begin a
// combination, or be the new hotkey itself when it is released with nothing
// pressed after it. 0 for none.
int reassignModifier = 0;

std::atomic<bool> g_ResetTrackers{false};

bool Tracked(int code) { return code >= 1 && code < kTableSize; }

void ClearTablesIfAsked() {
  if (!g_ResetTrackers.exchange(false)) return;
  keyHeld.fill(false);
  keySwallowed.fill(false);
  buttonHeld.fill(false);
  buttonSwallowed.fill(false);
  reassignModifier = 0;
  ResetHeldModifiers();
  ResetPanicWatch();
}

// Nearest integer, halves away from zero; saturating, 0 for a value that is not
// a number.
int64_t RoundCoord(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.2e18) return std::numeric_limits<int64_t>::max();
  if (v <= -9.2e18) return std::numeric_limits<int64_t>::min();
  return std::llround(v);
}

int RoundCoord32(double v) {
  const int64_t r = RoundCoord(v);
  if (r > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (r < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(r);
}

bool Recording() { return isRecording.load(); }

}  // namespace

void TapRequestReset() { g_ResetTrackers.store(true); }

void ResetInputHooksForTest() {
  g_ResetTrackers.store(true);
  ClearTablesIfAsked();
  buttonPressDropped.fill(false);
  lastCursorX = 0;
  lastCursorY = 0;
}

namespace {

// The time of the event being handled, for the panic stop's count of presses.
int64_t EventNs() {
  const int64_t ns = OsInputEventTimeNs();
  return ns != 0 ? ns : MonotonicNs();
}

// A key press while a reassignment waits. True: it was captured (and is
// swallowed); false: a modifier that goes on to the desktop for now.
bool CaptureForReassignment(int kind, int vk) {
  if (kind != kReassignKeySpamTarget && ModifierBitOf(vk)) {
    if (!keyHeld[vk]) reassignModifier = vk;
    return false;
  }
  reassignModifier = 0;
  capturedReassignMods.store(kind == kReassignKeySpamTarget ? 0 : HeldModifierMask());
  capturedReassignKey.store(vk);
  return true;
}

// A modifier released while a reassignment waits, with nothing pressed since
// it went down and no other modifier held: it is the new hotkey on its own.
void CaptureLoneModifier(int vk) {
  const int kind = currentReassign.load();
  const bool lone = reassignModifier == vk && kind != kReassignNone && kind != kReassignKeySpamTarget &&
                    HeldModifierMask() == 0;
  if (reassignModifier == vk) reassignModifier = 0;
  if (!lone) return;
  capturedReassignMods.store(0);
  capturedReassignKey.store(vk);
  WakeSignalProcessor();
}

}  // namespace

bool TapKey(int vk, bool down) {
  ClearTablesIfAsked();
  if (!Tracked(vk)) return false;

  // The panic stop sees every key first: it works with the hotkeys locked or
  // switched off and while a reassignment waits.
  if (PanicKey(vk, down, down && keyHeld[vk], EventNs())) {
    keyHeld[vk] = keySwallowed[vk] = true;
    NoteModifierKey(vk, true, true);
    return true;
  }

  if (down) {
    const int kind = currentReassign.load();
    if (kind != kReassignNone && CaptureForReassignment(kind, vk)) {
      // The captured press goes nowhere, so neither do its repeats and its
      // release; above all its repeats must not reach the hotkey dispatch
      // once the key has become the new hotkey. A key already held before
      // (its press reached the desktop) keeps its way.
      if (!keyHeld[vk]) keyHeld[vk] = keySwallowed[vk] = true;
      WakeSignalProcessor();
      return true;
    }
    if (vk == kVkEscape && !keyHeld[vk] && isPickingLocation.load()) {
      // Esc ends a position pick without a position; like the click that
      // would have picked, it goes nowhere (nor do its repeats and release).
      isPickingLocation.store(false);
      keyHeld[vk] = keySwallowed[vk] = true;
      return true;
    }
    if (keyHeld[vk]) {
      // An auto-repeat: it follows the fate of the first press.
      if (keySwallowed[vk]) return true;
    } else {
      keyHeld[vk] = true;
      if (kind == kReassignNone && g_HotkeysEnabled.load() && HandleHotkeyDown(vk)) {
        keySwallowed[vk] = true;
        NoteModifierKey(vk, true, true);
        return true;
      }
      NoteModifierKey(vk, true, false);
    }
  } else {
    keyHeld[vk] = false;
    NoteModifierKey(vk, false, false);
    if (keySwallowed[vk]) {
      keySwallowed[vk] = false;
      OnHotkeyReleased(vk);
      return true;
    }
    CaptureLoneModifier(vk);
  }

  if (Recording() && ReadSetting(bRecordKeyboard)) {
    UnifiedEvent ev;
    ev.type = kEventKey;
    ev.time = RecordElapsedSeconds();
    ev.vk = vk;
    ev.keyDown = down;
    RecordEvent(ev);
  }
  return false;
}

int TapMouseButton(int button, bool down) {
  ClearTablesIfAsked();
  if (!Tracked(button)) return 0;

  if (down && isPickingLocation.load()) {
    // The click that picks or cancels goes nowhere; where it went is handed
    // to PlaceMouseButton, which keeps its release out of a recording too.
    if (button == 1) {
      isPickingLocation.store(false);
      return kButtonTapSwallow | kButtonTapPick;
    }
    if (button == 2 || button == 4) {
      isPickingLocation.store(false);
      return kButtonTapSwallow | kButtonTapPickCancel;
    }
  }

  if (down) {
    const int kind = currentReassign.load();
    if (kind != kReassignNone && kind != kReassignKeySpamTarget &&
        !(kind == kReassignUnlock && button == 1)) {
      reassignModifier = 0;
      capturedReassignMods.store(HeldModifierMask());
      capturedReassignKey.store(button);
      if (!buttonHeld[button]) buttonHeld[button] = buttonSwallowed[button] = true;
      WakeSignalProcessor();
      return kButtonTapSwallow;
    }
    if (!buttonHeld[button]) {
      buttonHeld[button] = true;
      if (g_HotkeysEnabled.load() && HandleHotkeyDown(button)) {
        buttonSwallowed[button] = true;
        return kButtonTapSwallow;
      }
      // Turbo: the real button is the clicker's trigger, never the desktop's.
      if (TurboButton(button, true)) {
        buttonSwallowed[button] = true;
        return kButtonTapSwallow;
      }
    }
  } else {
    buttonHeld[button] = false;
    if (buttonSwallowed[button]) {
      buttonSwallowed[button] = false;
      TurboButton(button, false);
      OnHotkeyReleased(button);
      return kButtonTapSwallow;
    }
  }

  return Recording() ? kButtonTapRecord : 0;
}

void PlaceMouseButton(int button, bool down, int tap, bool havePosition, double x, double y) {
  if (!Tracked(button)) return;
  if (tap & (kButtonTapPick | kButtonTapPickCancel)) {
    if (button >= 1 && button <= 7) buttonPressDropped[static_cast<size_t>(button)] = true;
    // A pick whose position could not be told ends without a location.
    if ((tap & kButtonTapPick) && havePosition) {
      autoClickFixedX.store(RoundCoord32(x));
      autoClickFixedY.store(RoundCoord32(y));
      autoClickLocationMode.store(1);
      SnapshotActiveProfileSettings();
    }
    return;
  }
  if (!(tap & kButtonTapRecord)) return;
  if (!havePosition) x = y = 0;
  if (button >= 1 && button <= 7) {
    if (down) {
      const bool own = havePosition && OsIsOwnWindowAt(x, y);
      buttonPressDropped[static_cast<size_t>(button)] = own;
      if (own) return;
    } else if (buttonPressDropped[static_cast<size_t>(button)]) {
      buttonPressDropped[static_cast<size_t>(button)] = false;
      return;
    }
  }

  if (ReadSetting(bRecordMouseClicks)) {
    uint64_t flags = 0;
    switch (button) {
      case 1: flags = down ? kFlagLeftDown : kFlagLeftUp; break;
      case 2: flags = down ? kFlagRightDown : kFlagRightUp; break;
      case 4: flags = down ? kFlagMiddleDown : kFlagMiddleUp; break;
      default: flags = down ? kFlagOtherDown : 0; break;
    }
    if (flags != 0) {
      UnifiedEvent ev;
      ev.type = kEventButton;
      ev.time = RecordElapsedSeconds();
      ev.x = RoundCoord(x);
      ev.y = RoundCoord(y);
      ev.flags = flags;
      RecordEvent(ev);
    }
  }
}

bool TapMouseButtonAt(int button, bool down, double x, double y) {
  const int tap = TapMouseButton(button, down);
  if (tap & kButtonTapPlaceMask) PlaceMouseButton(button, down, tap, true, x, y);
  return (tap & kButtonTapSwallow) != 0;
}

void TapMouseMove(bool havePosition, double x, double y, long dx, long dy) {
  if (Recording() && ReadSetting(bRecordMouseMovement)) {
    if (ReadSetting(bUseRelativeMouse)) {
      if (dx != 0 || dy != 0) {
        UnifiedEvent ev;
        ev.type = kEventMove;
        ev.time = RecordElapsedSeconds();
        ev.x = dx;
        ev.y = dy;
        RecordEvent(ev);
      }
    } else if (havePosition) {
      const int64_t rx = RoundCoord(x), ry = RoundCoord(y);
      if (rx != RoundCoord(lastCursorX) || ry != RoundCoord(lastCursorY)) {
        UnifiedEvent ev;
        ev.type = kEventMove;
        ev.time = RecordElapsedSeconds();
        ev.x = rx;
        ev.y = ry;
        RecordEvent(ev);
      }
    }
  }
  if (havePosition) {
    lastCursorX = x;
    lastCursorY = y;
  }
}

namespace {

void RecordWheel(int32_t type, int wheel) {
  if (!Recording() || !ReadSetting(bRecordMouseScroll) || wheel == 0) return;
  UnifiedEvent ev;
  ev.type = type;
  ev.time = RecordElapsedSeconds();
  ev.wheelDelta = wheel;
  RecordEvent(ev);
}

}  // namespace

void TapScroll(int wheel) { RecordWheel(kEventWheel, wheel); }
void TapHScroll(int wheel) { RecordWheel(kEventHWheel, wheel); }

namespace {

bool WantsMovePosition() {
  return isRecording.load() && !std::atomic_ref<bool>(bUseRelativeMouse).load(std::memory_order_relaxed);
}

void SessionLocked() {
  TapRequestReset();
  // The releases of held hold keys and of the turbo button cannot be seen
  // any more; HoldModeAuto()/HoldModeKeySpam() stop those tools below.
  ClearHoldState();
  if (HoldModeAuto()) triggerAutoClickStop.store(true);
  if (HoldModeKeySpam()) triggerKeySpamStop.store(true);
  // A macro must not go on typing into a locked screen.
  triggerPlayStop.store(true);
  WakeSignalProcessor();
}

const InputHooks kToolHooks = {&TapKey,    &TapMouseButton,    &PlaceMouseButton, &TapMouseMove,
                               &TapScroll, &WantsMovePosition, &SessionLocked, &TapHScroll};

}  // namespace

const InputHooks& ToolInputHooks() { return kToolHooks; }
