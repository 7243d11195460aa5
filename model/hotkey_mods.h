#pragma once
// Hotkeys with modifiers: a hotkey is a key or button (VK code) plus a mask of
// the modifiers held with it (Ctrl, Alt, Shift, Super; either side counts).
// A mask of 0 is a plain hotkey, as every hotkey was before masks existed.
// Only the final key of a combination is swallowed: the modifiers reach the
// desktop as they were pressed and are released there normally.
#include <atomic>
#include <string>

inline constexpr int kModCtrl = 1;
inline constexpr int kModAlt = 2;
inline constexpr int kModShift = 4;
inline constexpr int kModSuper = 8;
inline constexpr int kModAll = kModCtrl | kModAlt | kModShift | kModSuper;

// The modifiers that go with vkRecord, vkPlay, vkAutoClicker, vkKeySpamHotkey
// and vkUnlock.
extern std::atomic<int> modsRecord;
extern std::atomic<int> modsPlay;
extern std::atomic<int> modsAutoClicker;
extern std::atomic<int> modsKeySpamHotkey;
extern std::atomic<int> modsUnlock;
// The modifiers held with the key captured for a waiting reassignment; stored
// before capturedReassignKey, so whoever sees the key sees its modifiers.
extern std::atomic<int> capturedReassignMods;

// The modifier bit of a modifier key (left, right or generic), 0 for any
// other code.
int ModifierBitOf(int vk);
// The mask of the hotkey of a reassignment kind (record ... unlock); null for
// other kinds.
std::atomic<int>* HotkeyModsOf(int kind);
// The name of a combination as the desktop writes it: "Ctrl+Shift+F6";
// just the key's name for mask 0.
std::string HotkeyComboName(int vk, int mods);
// A mask read from a file or the page: only the four known bits survive.
int CleanModifierMask(long long mask);

// Modifier keys seen by the input hooks on the capture thread; the mask of
// those held now that reached the desktop (a swallowed one does not count).
void NoteModifierKey(int vk, bool down, bool swallowed);
int HeldModifierMask();
void ResetHeldModifiers();
