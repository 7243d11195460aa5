#pragma once
// Keeps the hotkeys apart and safe while they are reassigned: a key another
// tool already uses is refused (the page names the tool that has it), and a
// key people type with (letters, digits, Space, Enter, ...) or the left mouse
// button waits for the user's confirmation before it becomes a hotkey, since a
// hotkey is swallowed everywhere on the desktop.
#include <string>

// The reassignment kind (ReassignKind) whose hotkey is `vk` with the modifier
// mask `mods` (hotkey_mods.h), leaving out `exceptKind`; 0 when no hotkey uses
// that combination. The unlock key counts whether or not the lock feature is on.
int HotkeyOwnerOf(int vk, int exceptKind, int mods = 0);
// Keys that type text or click: a hotkey on one of them takes it away from
// every other program.
bool IsTypingKey(int vk);
// The same for a combination: with Ctrl, Alt or Super held a key types
// nothing; with Shift alone it still does.
bool IsTypingCombo(int vk, int mods);

// Called by the signal processor with a captured key for a hotkey kind
// (record, play, auto clicker, key-spam hotkey, unlock). True: apply it now.
// False: it was refused (another tool has it) or is held until confirmed.
bool GuardHotkeyReassignment(int kind, int vk, int mods = 0);
// Stores `vk` with the modifiers `mods` as the hotkey of `kind` (no checks).
void StoreHotkey(int kind, int vk, int mods = 0);

// The user's answer for a held typing key (bridge `confirmHotkey`): "1"
// applies it unless another tool took the key meanwhile, anything else drops it.
void ConfirmPendingHotkey(const std::string& answer);
// Drops a held key (a new reassignment or a reset begins).
void ClearPendingHotkey();

struct HotkeyNotice {
  int seq = 0;    // grows with every refusal; 0 before the first
  int kind = 0;   // the kind that asked for the key
  int vk = 0;     // the key
  int owner = 0;  // the kind that already has it
  int mods = 0;   // the modifiers held with the key
};
struct PendingHotkey {
  int kind = 0;  // 0: nothing waits
  int vk = 0;
  int mods = 0;
};
HotkeyNotice LastRefusedHotkey();
PendingHotkey PendingHotkeyConfirmation();

// The word the page uses for a kind ("rec", "play", ...; "" for none).
const char* ReassignKindWord(int kind);

void ResetHotkeyGuardForTest();
