// Key numbering: the VK <-> evdev key table and key names that follow the
// keyboard layout the desktop has active.
#include <gtk/gtk.h>
#include <linux/input-event-codes.h>

#include <array>
#include <mutex>
#include <string>

#include "platform/os_keys.h"

const KeyPair kKeys[kKeyCount] = {
    {8, KEY_BACKSPACE},
    {9, KEY_TAB},
    {13, KEY_ENTER},
    {13, KEY_KPENTER},
    {160, KEY_LEFTSHIFT},
    {16, KEY_LEFTSHIFT},
    {161, KEY_RIGHTSHIFT},
    {162, KEY_LEFTCTRL},
    {17, KEY_LEFTCTRL},
    {163, KEY_RIGHTCTRL},
    {164, KEY_LEFTALT},
    {18, KEY_LEFTALT},
    {165, KEY_RIGHTALT},
    {91, KEY_LEFTMETA},
    {92, KEY_RIGHTMETA},
    {93, KEY_COMPOSE},
    {19, KEY_PAUSE},
    {20, KEY_CAPSLOCK},
    {27, KEY_ESC},
    {32, KEY_SPACE},
    {33, KEY_PAGEUP},
    {34, KEY_PAGEDOWN},
    {35, KEY_END},
    {36, KEY_HOME},
    {37, KEY_LEFT},
    {38, KEY_UP},
    {39, KEY_RIGHT},
    {40, KEY_DOWN},
    {44, KEY_SYSRQ},
    {44, KEY_PRINT},
    {42, KEY_PRINT},
    {45, KEY_INSERT},
    {46, KEY_DELETE},
    {47, KEY_HELP},
    {41, KEY_SELECT},
    {95, KEY_SLEEP},
    {3, KEY_CANCEL},
    {12, KEY_CLEAR},
    // digit row 0..9
    {48, KEY_0}, {49, KEY_1}, {50, KEY_2}, {51, KEY_3}, {52, KEY_4},
    {53, KEY_5}, {54, KEY_6}, {55, KEY_7}, {56, KEY_8}, {57, KEY_9},
    // letters A..Z
    {65, KEY_A}, {66, KEY_B}, {67, KEY_C}, {68, KEY_D}, {69, KEY_E}, {70, KEY_F},
    {71, KEY_G}, {72, KEY_H}, {73, KEY_I}, {74, KEY_J}, {75, KEY_K}, {76, KEY_L},
    {77, KEY_M}, {78, KEY_N}, {79, KEY_O}, {80, KEY_P}, {81, KEY_Q}, {82, KEY_R},
    {83, KEY_S}, {84, KEY_T}, {85, KEY_U}, {86, KEY_V}, {87, KEY_W}, {88, KEY_X},
    {89, KEY_Y}, {90, KEY_Z},
    // keypad 0..9
    {96, KEY_KP0}, {97, KEY_KP1}, {98, KEY_KP2}, {99, KEY_KP3}, {100, KEY_KP4},
    {101, KEY_KP5}, {102, KEY_KP6}, {103, KEY_KP7}, {104, KEY_KP8}, {105, KEY_KP9},
    {106, KEY_KPASTERISK},
    {107, KEY_KPPLUS},
    {108, KEY_KPCOMMA},
    {109, KEY_KPMINUS},
    {110, KEY_KPDOT},
    {111, KEY_KPSLASH},
    // F1..F24
    {112, KEY_F1}, {113, KEY_F2}, {114, KEY_F3}, {115, KEY_F4}, {116, KEY_F5}, {117, KEY_F6},
    {118, KEY_F7}, {119, KEY_F8}, {120, KEY_F9}, {121, KEY_F10}, {122, KEY_F11}, {123, KEY_F12},
    {124, KEY_F13}, {125, KEY_F14}, {126, KEY_F15}, {127, KEY_F16}, {128, KEY_F17}, {129, KEY_F18},
    {130, KEY_F19}, {131, KEY_F20}, {132, KEY_F21}, {133, KEY_F22}, {134, KEY_F23}, {135, KEY_F24},
    {144, KEY_NUMLOCK},
    {145, KEY_SCROLLLOCK},
    {173, KEY_MUTE},
    {174, KEY_VOLUMEDOWN},
    {175, KEY_VOLUMEUP},
    {186, KEY_SEMICOLON},
    {187, KEY_EQUAL},
    {188, KEY_COMMA},
    {189, KEY_MINUS},
    {190, KEY_DOT},
    {191, KEY_SLASH},
    {192, KEY_GRAVE},
    {219, KEY_LEFTBRACE},
    {220, KEY_BACKSLASH},
    {221, KEY_RIGHTBRACE},
    {222, KEY_APOSTROPHE},
    {226, KEY_102ND},
};

namespace {

struct Tables {
  std::array<int32_t, 256> vkToEvdev;
  std::array<int32_t, 768> evdevToVk;
  Tables() {
    vkToEvdev.fill(-1);
    evdevToVk.fill(0);
    for (const KeyPair& k : kKeys) {
      if (k.vk >= 0 && k.vk < 256 && vkToEvdev[k.vk] == -1) vkToEvdev[k.vk] = k.evdev;
      if (k.evdev >= 0 && k.evdev < 768 && evdevToVk[k.evdev] == 0) evdevToVk[k.evdev] = k.vk;
    }
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

// Labels the active layout prints on evdev keys 0..255. Written only on the
// GTK main thread, read from any thread, always under g_LayoutMutex.
std::array<std::string, 256> g_LayoutCache;
std::mutex g_LayoutMutex;

std::string LabelFor(GdkKeymap* keymap, int code) {
  if (!keymap) return {};
  GdkKeymapKey key{static_cast<guint>(code + 8), 0, 0};
  guint keyval = gdk_keymap_lookup_key(keymap, &key);
  if (keyval == 0) return {};
  switch (keyval) {
    case GDK_KEY_dead_grave: return "`";
    case GDK_KEY_dead_acute: return "\u00B4";
    case GDK_KEY_dead_circumflex: return "^";
    case GDK_KEY_dead_tilde: return "~";
    case GDK_KEY_dead_diaeresis: return "\u00A8";
    case GDK_KEY_dead_cedilla: return "\u00B8";
    default: break;
  }
  gunichar cp = gdk_keyval_to_unicode(gdk_keyval_to_upper(keyval));
  if (cp <= 0x20 || cp == 0x22 || cp == 0x5C || !g_unichar_isprint(cp)) return {};
  char buf[8] = {};
  int n = g_unichar_to_utf8(cp, buf);
  return std::string(buf, static_cast<size_t>(n));
}

void RefreshLayoutCache() {
  std::array<std::string, 256> scratch;
  GdkDisplay* display = gdk_display_get_default();
  GdkKeymap* keymap = display ? gdk_keymap_get_for_display(display) : nullptr;
  for (int c = 0; c < 256; ++c) scratch[c] = LabelFor(keymap, c);
  std::lock_guard<std::mutex> lock(g_LayoutMutex);
  g_LayoutCache.swap(scratch);
}

void OnKeysChanged(GdkKeymap*, gpointer) { RefreshLayoutCache(); }

std::string FixedName(int vk) {
  if (vk >= 96 && vk <= 105) return "Num " + std::to_string(vk - 96);
  if (vk >= 112 && vk <= 135) return "F" + std::to_string(vk - 111);
  switch (vk) {
    case 1: return "Left Mouse";
    case 2: return "Right Mouse";
    case 4: return "Middle Mouse";
    case 5: return "Mouse 4 (Side)";
    case 6: return "Mouse 5 (Side)";
    case 8: return "Backspace";
    case 9: return "Tab";
    case 13: return "Enter";
    case 16: case 160: return "Shift";
    case 17: case 162: return "Ctrl";
    case 18: case 164: return "Alt";
    case 19: return "Pause";
    case 20: return "Caps Lock";
    case 27: return "Esc";
    case 32: return "Space";
    case 33: return "Page Up";
    case 34: return "Page Down";
    case 35: return "End";
    case 36: return "Home";
    case 37: return "Left";
    case 38: return "Up";
    case 39: return "Right";
    case 40: return "Down";
    case 44: return "Print Screen";
    case 45: return "Insert";
    case 46: return "Delete";
    case 91: return "Super";
    case 92: return "Right Super";
    case 93: return "Menu";
    case 106: return "Num *";
    case 107: return "Num +";
    case 109: return "Num -";
    case 110: return "Num .";
    case 111: return "Num /";
    case 144: return "Num Lock";
    case 145: return "Scroll Lock";
    case 161: return "Right Shift";
    case 163: return "Right Ctrl";
    case 165: return "Right Alt";
    case 173: return "Mute";
    case 174: return "Volume Down";
    case 175: return "Volume Up";
    case 192: return "`";
    default: return {};
  }
}

std::string FallbackName(int vk) {
  if ((vk >= 48 && vk <= 57) || (vk >= 65 && vk <= 90)) return std::string(1, static_cast<char>(vk));
  switch (vk) {
    case 186: return ";";
    case 187: return "=";
    case 188: return ",";
    case 189: return "-";
    case 190: return ".";
    case 191: return "/";
    case 219: return "[";
    case 220: return "Backslash";
    case 221: return "]";
    case 222: return "'";
    case 226: return "<";
    default: return {};
  }
}

}  // namespace

int VkToEvdev(int vk) {
  if (vk < 0 || vk > 255) return -1;
  return T().vkToEvdev[vk];
}

int EvdevToVk(int code) {
  if (code < 0 || code > 767) return 0;
  return T().evdevToVk[code];
}

std::string OsKeyName(int vk) {
  std::string name = FixedName(vk);
  if (!name.empty()) return name;
  if (vk >= 1 && vk <= 255) {
    int code = VkToEvdev(vk);
    if (code >= 0 && code <= 255) {
      std::lock_guard<std::mutex> lock(g_LayoutMutex);
      name = g_LayoutCache[code];
    }
    if (!name.empty()) return name;
  }
  name = FallbackName(vk);
  if (!name.empty()) return name;
  return "Key[" + std::to_string(vk) + "]";
}

void OsKeysWatchLayout() {
  static bool watching = false;  // main thread only
  if (!gdk_display_get_default()) gtk_init_check(nullptr, nullptr);
  RefreshLayoutCache();
  if (watching) return;
  GdkDisplay* display = gdk_display_get_default();
  GdkKeymap* keymap = display ? gdk_keymap_get_for_display(display) : nullptr;
  if (!keymap) return;
  g_signal_connect(keymap, "keys-changed", G_CALLBACK(OnKeysChanged), nullptr);
  watching = true;
}

std::string GetKeyName(int vk) { return OsKeyName(vk); }
