// The settings line (43 fields), the profile settings line (20 fields) and the
// key-spam target list, with tolerant readers for every older field count.
#include <cstdint>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "base/strings.h"
#include "model/hold_mode.h"
#include "model/hotkey_mods.h"
#include "model/panic_stop.h"
#include "model/settings_extras.h"
#include "model/settings_line.h"
#include "model/tool_state.h"

namespace {

void AppendInt(std::string& out, long long v) {
  out += std::to_string(v);
  out += ',';
}

// Field i of the settings line that is a plain 32-bit integer: where it goes.
void StoreSettingsInt(int index, int32_t v) {
  switch (index) {
    case 0: StoreSetting(autoClickIntervalHours, v); break;
    case 1: StoreSetting(autoClickIntervalMins, v); break;
    case 2: StoreSetting(autoClickIntervalSecs, v); break;
    case 3: StoreSetting(autoClickIntervalMs, v); break;
    case 4: StoreSetting(autoClickerButtonIdx, v); break;
    case 5: StoreSetting(autoClickClickType, v); break;
    case 6: StoreSetting(autoClickRepeatMode, v); break;
    case 7: StoreSetting(autoClickRepeatTimes, v); break;
    case 8: autoClickLocationMode.store(v); break;
    case 9: autoClickFixedX.store(v); break;
    case 10: autoClickFixedY.store(v); break;
    case 18: StoreSetting(iLoopIntervalMs, v); break;
    case 19: vkRecord.store(v); break;
    case 20: vkPlay.store(v); break;
    case 22: vkAutoClicker.store(v); break;
    case 23: StoreSetting(keySpamIntervalHours, v); break;
    case 24: StoreSetting(keySpamIntervalMins, v); break;
    case 25: StoreSetting(keySpamIntervalSecs, v); break;
    case 26: StoreSetting(keySpamIntervalMs, v); break;
    case 27: StoreSetting(keySpamRepeatMode, v); break;
    case 28: StoreSetting(keySpamRepeatTimes, v); break;
    case 29: vkKeySpamHotkey.store(v); break;
    case 30: vkKeySpamTarget.store(v); break;
    default: break;
  }
}

bool* SettingsFlag(int index) {
  switch (index) {
    case 11: return &bRecordMouseMovement;
    case 12: return &bRecordMouseClicks;
    case 13: return &bRecordMouseScroll;
    case 14: return &bRecordKeyboard;
    case 15: return &bUseRelativeMouse;
    case 17: return &bLoopSequence;
    default: return nullptr;
  }
}

// Reads fields [first, last] of the settings line in order; stops at the
// first field that is not a number, keeping what was read before it.
void ReadSettingsFields(const std::vector<std::string_view>& f, int first, int last) {
  for (int i = first; i <= last; ++i) {
    if (i == 21) continue;  // reserved
    if (bool* flag = SettingsFlag(i)) {
      StoreSetting(*flag, f[static_cast<size_t>(i)] == "1");
      continue;
    }
    if (i == 16) {
      std::optional<float> speed = ParseLeadingFloat(f[16]);
      if (!speed) return;
      // "nan" and "inf" read as numbers but no speed can be either: keep the
      // current one, as for any unreadable value.
      if (std::isfinite(*speed)) StoreSetting(fPlaybackSpeed, *speed);
      continue;
    }
    std::optional<int32_t> v = ParseLeadingInt32(f[static_cast<size_t>(i)]);
    if (!v) return;
    StoreSettingsInt(i, *v);
  }
}

// One target, vkKeySpamTarget, and chord mode off: what a line without a
// target list means.
void SingleTargetFromVk() {
  keySpamTargets[0].store(vkKeySpamTarget.load());
  keySpamTargetCount.store(1);
  keySpamChordMode.store(false);
}

// Auto clicker fields 0 to 10, shared by both lines.
void AppendAutoClickerFields(std::string& s) {
  AppendInt(s, ReadSetting(autoClickIntervalHours));
  AppendInt(s, ReadSetting(autoClickIntervalMins));
  AppendInt(s, ReadSetting(autoClickIntervalSecs));
  AppendInt(s, ReadSetting(autoClickIntervalMs));
  AppendInt(s, ReadSetting(autoClickerButtonIdx));
  AppendInt(s, ReadSetting(autoClickClickType));
  AppendInt(s, ReadSetting(autoClickRepeatMode));
  AppendInt(s, ReadSetting(autoClickRepeatTimes));
  AppendInt(s, autoClickLocationMode.load());
  AppendInt(s, autoClickFixedX.load());
  AppendInt(s, autoClickFixedY.load());
}

void AppendKeySpamIntervalFields(std::string& s) {
  AppendInt(s, ReadSetting(keySpamIntervalHours));
  AppendInt(s, ReadSetting(keySpamIntervalMins));
  AppendInt(s, ReadSetting(keySpamIntervalSecs));
  AppendInt(s, ReadSetting(keySpamIntervalMs));
  AppendInt(s, ReadSetting(keySpamRepeatMode));
  AppendInt(s, ReadSetting(keySpamRepeatTimes));
}

// ---- hold, turbo, hotkey modifiers, panic stop (fields 36-42) ----
// Lines of older versions end before field 36 and keep the defaults: no
// turbo, plain hotkeys, the default panic combination. An unreadable mask or
// combination keeps the current value, like every other field.
void ReadHoldAndComboFields(const std::vector<std::string_view>& f) {
  const size_t n = f.size();
  if (n > 36) g_TurboAuto.store(f[36] == "1");
  std::atomic<int>* const masks[] = {&modsRecord, &modsPlay, &modsAutoClicker, &modsKeySpamHotkey, &modsUnlock};
  for (size_t i = 0; i < 5 && 37 + i < n; ++i)
    if (std::optional<int32_t> v = ParseLeadingInt32(f[37 + i])) masks[i]->store(CleanModifierMask(*v));
  if (n > 42) {
    std::optional<int32_t> v = ParseLeadingInt32(f[42]);
    if (v && *v >= kPanicOff && *v <= kPanicEscThrice) g_PanicCombo.store(*v);
  }
}
// ---- end of the group ----

}  // namespace

std::string SerializeKeySpamTargetList() {
  std::string s;
  int count = keySpamTargetCount.load();
  if (count > kKeySpamTargetSlots) count = kKeySpamTargetSlots;
  for (int i = 0; i < count; ++i) {
    if (i > 0) s += '|';
    s += std::to_string(keySpamTargets[i].load());
  }
  return s;
}

bool DeserializeKeySpamTargetList(std::string_view text) {
  int stored = 0;
  // Entries are looked at one by one up to the third readable one; a list of
  // millions of separators costs no more than its first entries.
  size_t start = 0;
  while (start < text.size() && stored < kMaxKeySpamTargets) {
    size_t end = text.find('|', start);
    if (end == std::string_view::npos) end = text.size();
    std::optional<int32_t> v = ParseLeadingInt32(text.substr(start, end - start));
    start = end + 1;
    if (!v) continue;  // entries that are not numbers are skipped
    keySpamTargets[stored++].store(*v);
  }
  keySpamTargetCount.store(stored);
  return true;
}

std::string SerializeSettings() {
  std::string s;
  s.reserve(160);
  AppendAutoClickerFields(s);                 // 0-10
  AppendInt(s, ReadSetting(bRecordMouseMovement));         // 11
  AppendInt(s, ReadSetting(bRecordMouseClicks));           // 12
  AppendInt(s, ReadSetting(bRecordMouseScroll));           // 13
  AppendInt(s, ReadSetting(bRecordKeyboard));              // 14
  AppendInt(s, ReadSetting(bUseRelativeMouse));            // 15
  AppendDefaultFloat(s, static_cast<double>(ReadSetting(fPlaybackSpeed)));  // 16
  s += ',';
  AppendInt(s, ReadSetting(bLoopSequence));                // 17
  AppendInt(s, ReadSetting(iLoopIntervalMs));              // 18
  AppendInt(s, vkRecord.load());              // 19
  AppendInt(s, vkPlay.load());                // 20
  AppendInt(s, 0);                            // 21 reserved
  AppendInt(s, vkAutoClicker.load());         // 22
  AppendKeySpamIntervalFields(s);             // 23-28
  AppendInt(s, vkKeySpamHotkey.load());       // 29
  AppendInt(s, vkKeySpamTarget.load());       // 30
  s += SerializeKeySpamTargetList();          // 31
  s += ',';
  AppendInt(s, keySpamChordMode.load());      // 32
  AppendInt(s, g_HoldModeAuto.load());        // 33
  AppendInt(s, g_HoldModeKeySpam.load());     // 34
  s += std::to_string(vkUnlock.load());       // 35
  // ---- hold, turbo, hotkey modifiers, panic stop (fields 36-42) ----
  s += ',';
  AppendInt(s, g_TurboAuto.load());           // 36
  AppendInt(s, modsRecord.load());            // 37
  AppendInt(s, modsPlay.load());              // 38
  AppendInt(s, modsAutoClicker.load());       // 39
  AppendInt(s, modsKeySpamHotkey.load());     // 40
  AppendInt(s, modsUnlock.load());            // 41
  s += std::to_string(g_PanicCombo.load());   // 42
  // ---- end of the group ----
  AppendSettingsExtras(s);                    // 43-46 jitter and click sequence
  return s;
}

void DeserializeSettings(std::string_view line) {
  // Nothing past the last field of the jitter and sequence group is read, so
  // a line is split no further than that.
  std::vector<std::string_view> f;
  SplitStringView(line, ',', f, kSettingsExtrasFirst + kExtrasFieldCount + 1);
  const size_t n = f.size();
  if (n < 23) return;
  ReadSettingsFields(f, 0, 22);
  if (n >= 31) ReadSettingsFields(f, 23, 30);
  bool listRead = false;
  if (n >= 33) {
    listRead = DeserializeKeySpamTargetList(f[31]);
    if (listRead) keySpamChordMode.store(f[32] == "1");
  }
  if (!listRead) SingleTargetFromVk();
  if (n >= 35) {
    g_HoldModeAuto.store(f[33] == "1");
    g_HoldModeKeySpam.store(f[34] == "1");
  }
  if (n >= 36) {
    if (std::optional<int32_t> v = ParseLeadingInt32(f[35])) vkUnlock.store(*v);
  }
  ReadHoldAndComboFields(f);
  ReadSettingsExtras(f, kSettingsExtrasFirst);
}

std::string SerializeProfileSettings() {
  std::string s;
  s.reserve(96);
  AppendAutoClickerFields(s);             // 0-10
  AppendKeySpamIntervalFields(s);         // 11-16
  AppendInt(s, vkKeySpamTarget.load());   // 17
  s += SerializeKeySpamTargetList();      // 18
  s += ',';
  s += std::to_string(keySpamChordMode.load() ? 1 : 0);  // 19
  AppendSettingsExtras(s);                // 20-23 jitter and click sequence
  return s;
}

void DeserializeProfileSettings(std::string_view line) {
  std::vector<std::string_view> f;
  SplitStringView(line, ',', f, kProfileExtrasFirst + kExtrasFieldCount + 1);
  if (f.size() < 18) return;
  ReadSettingsExtras(f, kProfileExtrasFirst);
  // Fields 0-10 match the settings line; 11-16 are its fields 23-28, 17 is 30.
  for (int i = 0; i < 18; ++i) {
    std::optional<int32_t> v = ParseLeadingInt32(f[static_cast<size_t>(i)]);
    if (!v) return;  // keep what was read so far; the targets are left alone
    StoreSettingsInt(i <= 10 ? i : (i == 17 ? 30 : i + 12), *v);
  }
  bool listRead = false;
  if (f.size() >= 20) {
    listRead = DeserializeKeySpamTargetList(f[18]);
    if (listRead) keySpamChordMode.store(f[19] == "1");
  }
  if (!listRead) SingleTargetFromVk();
}
