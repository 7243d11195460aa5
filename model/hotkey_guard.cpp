// Refusal of hotkeys that another tool has, and the confirmation step for
// typing keys.
#include "model/hotkey_guard.h"

#include <mutex>

#include "model/tool_state.h"
#include "model/hotkey_mods.h"

namespace {

std::mutex g_GuardMutex;
HotkeyNotice g_Refused;
PendingHotkey g_Pending;

std::atomic<int>* HotkeyOf(int kind) {
  switch (kind) {
    case kReassignRecord: return &vkRecord;
    case kReassignPlay: return &vkPlay;
    case kReassignAuto: return &vkAutoClicker;
    case kReassignKeySpamHotkey: return &vkKeySpamHotkey;
    case kReassignUnlock: return &vkUnlock;
    default: return nullptr;
  }
}

}  // namespace

const char* ReassignKindWord(int kind) {
  switch (kind) {
    case kReassignRecord: return "rec";
    case kReassignPlay: return "play";
    case kReassignAuto: return "auto";
    case kReassignKeySpamHotkey: return "keyspamhotkey";
    case kReassignKeySpamTarget: return "keyspamtarget";
    case kReassignUnlock: return "unlock";
    default: return "";
  }
}

int HotkeyOwnerOf(int vk, int exceptKind, int mods) {
  if (vk == 0) return 0;
  for (int kind : {kReassignRecord, kReassignPlay, kReassignAuto, kReassignKeySpamHotkey, kReassignUnlock}) {
    if (kind == exceptKind) continue;
    if (HotkeyOf(kind)->load() == vk && HotkeyModsOf(kind)->load() == mods) return kind;
  }
  return 0;
}

bool IsTypingKey(int vk) {
  if (vk == 1) return true;                     // left mouse button
  if (vk == 8 || vk == 9 || vk == 13) return true;  // Backspace, Tab, Enter
  if (vk == 32) return true;                    // Space
  if (vk >= 48 && vk <= 57) return true;        // digits
  if (vk >= 65 && vk <= 90) return true;        // letters
  if (vk >= 96 && vk <= 111) return true;       // keypad digits and operators
  if (vk >= 186 && vk <= 192) return true;      // ; = , - . / `
  if (vk >= 219 && vk <= 223) return true;      // [ \ ] ' and the extra OEM key
  if (vk == 226) return true;                   // the key beside left Shift on ISO boards
  return false;
}

bool IsTypingCombo(int vk, int mods) { return IsTypingKey(vk) && (mods & ~kModShift) == 0; }

void StoreHotkey(int kind, int vk, int mods) {
  std::atomic<int>* hk = HotkeyOf(kind);
  if (!hk) return;
  // The mask first: the dispatch on the capture thread never sees the new key
  // with the old key's modifiers.
  HotkeyModsOf(kind)->store(CleanModifierMask(mods));
  hk->store(vk);
}

bool GuardHotkeyReassignment(int kind, int vk, int mods) {
  if (!HotkeyOf(kind)) return false;
  mods = CleanModifierMask(mods);
  std::lock_guard<std::mutex> lock(g_GuardMutex);
  g_Pending = PendingHotkey{};
  // The same combination again: nothing changes.
  if (HotkeyOf(kind)->load() == vk && HotkeyModsOf(kind)->load() == mods) return true;
  if (int owner = HotkeyOwnerOf(vk, kind, mods)) {
    g_Refused.seq += 1;
    g_Refused.kind = kind;
    g_Refused.vk = vk;
    g_Refused.owner = owner;
    g_Refused.mods = mods;
    return false;
  }
  if (IsTypingCombo(vk, mods)) {
    g_Pending = PendingHotkey{kind, vk, mods};
    return false;
  }
  return true;
}

void ConfirmPendingHotkey(const std::string& answer) {
  std::lock_guard<std::mutex> lock(g_GuardMutex);
  PendingHotkey p = g_Pending;
  g_Pending = PendingHotkey{};
  if (p.kind == 0 || answer != "1") return;
  if (int owner = HotkeyOwnerOf(p.vk, p.kind, p.mods)) {
    g_Refused.seq += 1;
    g_Refused.kind = p.kind;
    g_Refused.vk = p.vk;
    g_Refused.owner = owner;
    g_Refused.mods = p.mods;
    return;
  }
  StoreHotkey(p.kind, p.vk, p.mods);
}

void ClearPendingHotkey() {
  std::lock_guard<std::mutex> lock(g_GuardMutex);
  g_Pending = PendingHotkey{};
}

HotkeyNotice LastRefusedHotkey() {
  std::lock_guard<std::mutex> lock(g_GuardMutex);
  return g_Refused;
}

PendingHotkey PendingHotkeyConfirmation() {
  std::lock_guard<std::mutex> lock(g_GuardMutex);
  return g_Pending;
}

void ResetHotkeyGuardForTest() {
  std::lock_guard<std::mutex> lock(g_GuardMutex);
  g_Refused = HotkeyNotice{};
  g_Pending = PendingHotkey{};
}
