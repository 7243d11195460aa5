// Modifier masks of the hotkeys, the held-modifier state of the capture
// thread and the names of combinations.
#include "model/hotkey_mods.h"

#include <array>

#include "platform/os_keys.h"
#include "model/tool_state.h"

std::atomic<int> modsRecord{0};
std::atomic<int> modsPlay{0};
std::atomic<int> modsAutoClicker{0};
std::atomic<int> modsKeySpamHotkey{0};
std::atomic<int> modsUnlock{0};
std::atomic<int> capturedReassignMods{0};

namespace {

// Which modifier keys are down and reached the desktop, by VK code. Written
// only by the capture thread; read there too (HandleHotkeyDown runs on it).
std::array<std::atomic<bool>, 256> g_ModHeld{};

constexpr int kModifierVks[] = {16, 160, 161, 17, 162, 163, 18, 164, 165, 91, 92};

}  // namespace

int ModifierBitOf(int vk) {
  switch (vk) {
    case 17: case 162: case 163: return kModCtrl;
    case 18: case 164: case 165: return kModAlt;
    case 16: case 160: case 161: return kModShift;
    case 91: case 92: return kModSuper;
    default: return 0;
  }
}

std::atomic<int>* HotkeyModsOf(int kind) {
  switch (kind) {
    case kReassignRecord: return &modsRecord;
    case kReassignPlay: return &modsPlay;
    case kReassignAuto: return &modsAutoClicker;
    case kReassignKeySpamHotkey: return &modsKeySpamHotkey;
    case kReassignUnlock: return &modsUnlock;
    default: return nullptr;
  }
}

std::string HotkeyComboName(int vk, int mods) {
  std::string name;
  // The order the desktops write them in.
  if (mods & kModCtrl) name += "Ctrl+";
  if (mods & kModAlt) name += "Alt+";
  if (mods & kModShift) name += "Shift+";
  if (mods & kModSuper) name += "Super+";
  return name + GetKeyName(vk);
}

int CleanModifierMask(long long mask) { return static_cast<int>(mask & kModAll); }

void NoteModifierKey(int vk, bool down, bool swallowed) {
  if (vk < 0 || vk >= 256 || !ModifierBitOf(vk)) return;
  g_ModHeld[static_cast<size_t>(vk)].store(down && !swallowed);
}

int HeldModifierMask() {
  int mask = 0;
  for (int vk : kModifierVks)
    if (g_ModHeld[static_cast<size_t>(vk)].load()) mask |= ModifierBitOf(vk);
  return mask;
}

void ResetHeldModifiers() {
  for (auto& m : g_ModHeld) m.store(false);
}
