#pragma once
// Program-wide key numbering (VK codes) and key names. Implemented in
// platform/linux/input/keys.cpp.
//
// A VK code follows the Windows virtual-key numbers; mouse buttons are 1
// left, 2 right, 4 middle, 5 and 6 the side buttons; 0 means no key.
#include <cstdint>
#include <string>

// One row of the key table: a VK code and the Linux input-event key code.
struct KeyPair {
  int32_t vk;
  int32_t evdev;
};

// The key table in its fixed order. Where a VK code or an evdev code occurs
// in more than one row, the first row wins in the lookups below.
inline constexpr int kKeyCount = 131;
extern const KeyPair kKeys[kKeyCount];

// The evdev key code for a VK code; -1 when vk is outside 0..255 or has no row.
// Any thread.
int VkToEvdev(int vk);
// The VK code for an evdev key code; 0 when code is outside 0..767 or has no
// row (mouse button codes included). Any thread.
int EvdevToVk(int code);
// The key's display label (UTF-8): fixed names first, then the label the
// active keyboard layout prints on the key, then plain fallbacks, then
// "Key[<vk>]". Any thread.
std::string OsKeyName(int vk);
// Fills the layout label cache and refreshes it whenever the keymap changes.
// Once, on the GTK main thread (initialises GTK when nobody has yet).
void OsKeysWatchLayout();
// Platform-neutral forwarder used by the status JSON.
std::string GetKeyName(int vk);
