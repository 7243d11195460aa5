// Status JSON, settings JSON, the status poll and the comma lists of the
// auto clicker and key spammer panels.
#include "app/status_json.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <mutex>
#include <vector>

#include "base/json_escape.h"
#include "base/number_text.h"
#include "model/hotkey_guard.h"
#include "model/profiles.h"
#include "model/tool_state.h"
#include "platform/os_keys.h"
#include "state/app_settings.h"
#include "state/session_file.h"
#include "tools/playback.h"
#include "model/click_sequence.h"
#include "model/jitter.h"
#include "tools/tool_rate.h"
#include "model/wake.h"
#include "model/hold_mode.h"
#include "model/hotkey_mods.h"
#include "model/panic_stop.h"

std::atomic<bool> g_PanelHoverActive{false};

namespace {

const char* Bool(bool v) { return v ? "true" : "false"; }

std::string KeyNameJson(int vk) { return JsonEscapeForBind(GetKeyName(vk)); }
// A hotkey with its modifiers, "Ctrl+Shift+F6"; the plain key name without.
std::string ComboNameJson(int vk, int mods) { return JsonEscapeForBind(HotkeyComboName(vk, mods)); }

// Default stream formatting of a double: 6 significant digits, the shorter
// of fixed and scientific form, no trailing zeros; always with a '.'.
// A value that is not finite (a hand-edited session file can hold "nan" or
// "inf") has no JSON form: it is written as `fallback` so the text stays valid.
std::string FormatDouble(double v, double fallback) {
  return FormatDefaultFloat(std::isfinite(v) ? v : fallback);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

int ClampToInt(double v) {
  if (v >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (v <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(v);  // truncates toward zero
}

// Writes `text` as the whole content of `path`; false when the file could
// not be opened or not all of the text was written (a full disk), so the
// caller tries again. The text is written over the old content and the file then
// cut to its length: truncating first makes ext4 flush the file to disk on
// close (its replace-by-truncate safeguard), which would cost milliseconds and
// a disk write on every poll.
//
// The file is private like every state file (0600, also when an older
// version left it readable by others) and is never written through a link or
// into a FIFO or device standing in its place.
bool ReplaceFileContent(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  if ((st.st_mode & 0777) != 0600) ::fchmod(fd, 0600);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (::ftruncate(fd, static_cast<off_t>(done)) != 0) {
    // The content is complete; a longer old tail could not be cut.
  }
  ::close(fd);
  return done == text.size();
}

}  // namespace

std::string BuildStatusJson(const std::string& restore) {
  const char* state = isRecording.load() ? "Recording" : (isPlaying.load() ? "Playing" : "Idle");
  size_t count = 0;
  if (currentProfileIdx >= 0 && static_cast<size_t>(currentProfileIdx) < profiles.size())
    count = profiles[static_cast<size_t>(currentProfileIdx)].events.size();

  std::string targets = "[";
  int n = keySpamTargetCount.load();
  if (n > kKeySpamTargetSlots) n = kKeySpamTargetSlots;
  for (int i = 0; i < n; ++i) {
    if (i > 0) targets += ',';
    targets += KeyNameJson(keySpamTargets[i].load());
  }
  targets += ']';

  std::string j;
  j.reserve(512);
  j += "{\"state\":\"";
  j += state;
  j += "\",\"count\":";
  j += std::to_string(count);
  j += ",\"restore\":";
  j += restore;
  j += ",\"hkRec\":";
  j += ComboNameJson(vkRecord.load(), modsRecord.load());
  j += ",\"hkPlay\":";
  j += ComboNameJson(vkPlay.load(), modsPlay.load());
  j += ",\"hkAuto\":";
  j += ComboNameJson(vkAutoClicker.load(), modsAutoClicker.load());
  j += ",\"hkKeySpam\":";
  j += ComboNameJson(vkKeySpamHotkey.load(), modsKeySpamHotkey.load());
  j += ",\"hkUnlock\":";
  j += ComboNameJson(vkUnlock.load(), modsUnlock.load());
  j += ",\"lockOn\":";
  j += Bool(g_HotkeyLockEnabled.load());
  j += ",\"unlocked\":";
  j += Bool(g_HotkeysUnlocked.load());
  j += ",\"keySpamTargets\":";
  j += targets;
  j += ",\"keySpamChord\":";
  j += Bool(keySpamChordMode.load());
  j += ",\"ksCap\":3";
  j += ",\"reassigning\":\"";
  j += ReassignKindWord(currentReassign.load());
  j += '"';
  j += ",\"panelHover\":";
  j += Bool(g_PanelHoverActive.load());
  j += ",\"autoClicking\":";
  j += Bool(isAutoClicking.load());
  j += ",\"keySpamming\":";
  j += Bool(isKeySpamming.load());
  j += ",\"picking\":";
  j += Bool(isPickingLocation.load());
  j += ",\"locMode\":";
  j += std::to_string(autoClickLocationMode.load());
  j += ",\"canUndoContinue\":false";
  j += ",\"siteDesign\":";
  j += Bool(g_SiteDesign);
  j += ",\"noAnimations\":";
  j += Bool(g_DisableAnimations);
  j += ",\"snapAnimation\":";
  j += Bool(g_SnapAnimation);
  j += ",\"profiles\":";
  j += BuildProfilesJsonLocked();
  j += PlaybackStatusJsonMembers();
  // Live counts of the running tools (reset when a tool starts), and the
  // outcome of a hotkey reassignment the page has to explain.
  j += ",\"clicks\":";
  j += std::to_string(currentClickCount.load());
  j += ",\"keyPresses\":";
  j += std::to_string(currentKeySpamCount.load());
  HotkeyNotice refused = LastRefusedHotkey();
  j += ",\"hotkeyRefused\":{\"seq\":";
  j += std::to_string(refused.seq);
  j += ",\"kind\":\"";
  j += ReassignKindWord(refused.kind);
  j += "\",\"key\":";
  j += refused.vk ? ComboNameJson(refused.vk, refused.mods) : "\"\"";
  j += ",\"owner\":\"";
  j += ReassignKindWord(refused.owner);
  j += "\"}";
  PendingHotkey pending = PendingHotkeyConfirmation();
  j += ",\"hotkeyPending\":{\"kind\":\"";
  j += ReassignKindWord(pending.kind);
  j += "\",\"key\":";
  j += pending.vk ? ComboNameJson(pending.vk, pending.mods) : "\"\"";
  j += '}';
  // The last finished run of each tool (number of runs first, then the count).
  j += ",\"clickRuns\":";
  j += std::to_string(lastClickRun.runs.load());
  j += ",\"lastClicks\":";
  j += std::to_string(lastClickRun.count.load());
  j += ",\"keyPressRuns\":";
  j += std::to_string(lastKeySpamRun.runs.load());
  j += ",\"lastKeyPresses\":";
  j += std::to_string(lastKeySpamRun.count.load());
  // The rates the running tools really reach (0 while stopped), per second.
  const int64_t now = MonotonicNs();
  j += ",\"clickRate\":";
  j += FormatDouble(isAutoClicking.load() ? g_ClickRate.PerSecond(now) : 0.0, 0.0);
  j += ",\"keyRate\":";
  j += FormatDouble(isKeySpamming.load() ? g_KeySpamRate.PerSecond(now) : 0.0, 0.0);
  // ---- panic stops so far (the page says what happened when it grows) ----
  j += ",\"panicStops\":";
  j += std::to_string(g_PanicStops.load());
  // ---- end of the group ----
  j += '}';
  return j;
}

std::string BuildSettingsJson() {
  struct Member {
    const char* key;
    std::string value;
  };
  const Member members[] = {
      {"sh", std::to_string(ReadSetting(autoClickIntervalHours))},
      {"sm", std::to_string(ReadSetting(autoClickIntervalMins))},
      {"ss", std::to_string(ReadSetting(autoClickIntervalSecs))},
      {"sms", std::to_string(ReadSetting(autoClickIntervalMs))},
      {"sbtn", std::to_string(ReadSetting(autoClickerButtonIdx))},
      {"stype", std::to_string(ReadSetting(autoClickClickType))},
      {"rptMode", std::to_string(ReadSetting(autoClickRepeatMode))},
      {"rptTimes", std::to_string(ReadSetting(autoClickRepeatTimes))},
      {"locMode", std::to_string(autoClickLocationMode.load())},
      {"fixedX", std::to_string(autoClickFixedX.load())},
      {"fixedY", std::to_string(autoClickFixedY.load())},
      {"tmv", Bool(ReadSetting(bRecordMouseMovement))},
      {"tcl", Bool(ReadSetting(bRecordMouseClicks))},
      {"tsc", Bool(ReadSetting(bRecordMouseScroll))},
      {"tke", Bool(ReadSetting(bRecordKeyboard))},
      {"tre", Bool(ReadSetting(bUseRelativeMouse))},
      {"tspd", FormatDouble(static_cast<double>(ReadSetting(fPlaybackSpeed)), 1.0)},
      {"tloop", Bool(ReadSetting(bLoopSequence))},
      {"tloopMs", std::to_string(ReadSetting(iLoopIntervalMs))},
      {"ksh", std::to_string(ReadSetting(keySpamIntervalHours))},
      {"ksm", std::to_string(ReadSetting(keySpamIntervalMins))},
      {"kss", std::to_string(ReadSetting(keySpamIntervalSecs))},
      {"ksms", std::to_string(ReadSetting(keySpamIntervalMs))},
      {"ksRptMode", std::to_string(ReadSetting(keySpamRepeatMode))},
      {"ksRptTimes", std::to_string(ReadSetting(keySpamRepeatTimes))},
      {"holdAuto", Bool(g_HoldModeAuto.load())},
      {"holdKeySpam", Bool(g_HoldModeKeySpam.load())},
      // Jitter and click sequence group.
      {"jitterMs", std::to_string(ReadSetting(autoClickJitterMs))},
      {"jitterRadius", std::to_string(ReadSetting(autoClickJitterRadius))},
      {"ksJitterMs", std::to_string(ReadSetting(keySpamJitterMs))},
      {"sequence", ClickSequenceJson()},
      // ---- turbo and the panic combination ----
      {"turbo", Bool(g_TurboAuto.load())},
      {"panicCombo", std::to_string(g_PanicCombo.load())},
      // ---- end of the group ----
  };
  std::string j = "{";
  bool first = true;
  for (const Member& m : members) {
    if (!first) j += ',';
    first = false;
    j += '"';
    j += m.key;
    j += "\":";
    j += m.value;
  }
  j += '}';
  return j;
}

std::string GetPanelSettingsFilePath() { return OsDataDir() + "/panelsettings.txt"; }

void RefreshPanelSettingsFile() {
  // Main thread only, like every bridge call.
  static std::string lastWritten;
  std::string json = BuildSettingsJson();
  if (json == lastWritten) return;
  if (ReplaceFileContent(GetPanelSettingsFilePath(), json)) lastWritten = std::move(json);
}

std::string RunStatusPoll() {
  std::string status;
  {
    std::lock_guard<std::mutex> lock(profileMutex);
    status = BuildStatusJson("[]");
  }
  RefreshPanelSettingsFile();
  SaveStatusToFile(status);  // failures ignored
  return status;
}

// ---- comma lists -------------------------------------------------------------

double FieldNumber(const std::string& field, double current) {
  const char* p = field.data();
  const char* end = p + field.size();
  while (p < end && IsSpace(*p)) ++p;
  if (p < end && *p == '+') {  // an explicit plus sign, as strtod accepts
    ++p;
    if (p < end && *p == '-') return current;
  }
  double v = 0;
  // from_chars ignores the locale, so "0.5" reads the same under any LC_NUMERIC.
  auto [next, ec] = std::from_chars(p, end, v, std::chars_format::general);
  if (ec != std::errc() || next == p) return current;
  while (next < end && *next == ' ') ++next;  // only spaces may trail
  if (next != end || !std::isfinite(v)) return current;
  return v;
}

int FieldInt(const std::string& field, int current) {
  return ClampToInt(FieldNumber(field, static_cast<double>(current)));
}

int FieldCount(const std::string& field, int current) {
  double v = FieldNumber(field, static_cast<double>(current));
  if (v > 1e9) return 1000000000;
  if (v > 0) return static_cast<int>(v);
  return 0;
}

void ApplyIntervalFields(const std::string& hours, const std::string& mins,
                         const std::string& secs, const std::string& ms,
                         int& outHours, int& outMins, int& outSecs, int& outMs) {
  auto clamp = [](double v) { return v < 0 ? 0.0 : (v > 1e6 ? 1e6 : v); };
  double h = clamp(FieldNumber(hours, ReadSetting(outHours)));
  double m = clamp(FieldNumber(mins, ReadSetting(outMins)));
  double s = clamp(FieldNumber(secs, ReadSetting(outSecs)));
  double milli = clamp(FieldNumber(ms, ReadSetting(outMs)));

  // Each unit keeps its whole part; its fraction becomes milliseconds that
  // are handed down unit by unit. Nothing is ever carried upward.
  double* lower[3] = {&m, &s, &milli};
  const double lowerSize[3] = {60000.0, 1000.0, 1.0};
  double* units[3] = {&h, &m, &s};
  const double unitMs[3] = {3600000.0, 60000.0, 1000.0};
  for (int u = 0; u < 3; ++u) {
    double whole = std::trunc(*units[u]);
    double carry = std::round((*units[u] - whole) * unitMs[u]);
    *units[u] = whole;
    for (int l = u; l < 3 && carry > 0; ++l) {
      double q = std::floor(carry / lowerSize[l]);
      *lower[l] += q;
      carry -= q * lowerSize[l];
    }
  }
  // The workers and the autosave read these while the page changes them.
  StoreSetting(outHours, static_cast<int>(h));
  StoreSetting(outMins, static_cast<int>(std::trunc(m)));
  StoreSetting(outSecs, static_cast<int>(std::trunc(s)));
  StoreSetting(outMs, static_cast<int>(std::round(milli)));
}

void ApplyAutoClickerUpdate(const std::string& list) {
  std::vector<std::string> f = SplitString(list, ',');
  if (f.size() < 9) return;
  ApplyIntervalFields(f[0], f[1], f[2], f[3], autoClickIntervalHours, autoClickIntervalMins,
                      autoClickIntervalSecs, autoClickIntervalMs);
  StoreSetting(autoClickerButtonIdx, FieldInt(f[4], ReadSetting(autoClickerButtonIdx)));
  StoreSetting(autoClickClickType, FieldInt(f[5], ReadSetting(autoClickClickType)));
  StoreSetting(autoClickRepeatMode, FieldInt(f[6], ReadSetting(autoClickRepeatMode)));
  StoreSetting(autoClickRepeatTimes, FieldCount(f[7], ReadSetting(autoClickRepeatTimes)));
  autoClickLocationMode.store(FieldInt(f[8], autoClickLocationMode.load()));
  SnapshotActiveProfileSettings();
}

void ApplyKeySpamUpdate(const std::string& list) {
  std::vector<std::string> f = SplitString(list, ',');
  if (f.size() < 6) return;
  ApplyIntervalFields(f[0], f[1], f[2], f[3], keySpamIntervalHours, keySpamIntervalMins,
                      keySpamIntervalSecs, keySpamIntervalMs);
  StoreSetting(keySpamRepeatMode, FieldInt(f[4], ReadSetting(keySpamRepeatMode)));
  StoreSetting(keySpamRepeatTimes, FieldCount(f[5], ReadSetting(keySpamRepeatTimes)));
  SnapshotActiveProfileSettings();
}

void ApplyRecorderUpdate(const std::string& list) {
  const std::vector<std::string> f = SplitString(list, ',');
  auto field = [&f](size_t i) -> const std::string* { return i < f.size() ? &f[i] : nullptr; };
  // The playback thread reads these while it runs: each is stored whole.
  auto flag = [&](size_t i, bool& target) {
    if (const std::string* text = field(i)) {
      const double v = FieldNumber(*text, std::nan(""));
      if (!std::isnan(v)) std::atomic_ref<bool>(target).store(v != 0);
    }
  };
  flag(0, bRecordKeyboard);
  flag(1, bRecordMouseClicks);
  flag(2, bRecordMouseMovement);
  flag(3, bRecordMouseScroll);
  flag(4, bUseRelativeMouse);
  if (const std::string* text = field(5)) {
    const double v = FieldNumber(*text, std::nan(""));
    if (!std::isnan(v)) {
      const double clamped = v < 0.1 ? 0.1 : (v > 10.0 ? 10.0 : v);
      std::atomic_ref<float>(fPlaybackSpeed).store(static_cast<float>(clamped));
    }
  }
  flag(6, bLoopSequence);
  if (const std::string* text = field(7)) {
    const double v = FieldNumber(*text, std::nan(""));
    if (!std::isnan(v)) {
      const double clamped = v < 0 ? 0.0 : (v > kMaxLoopIntervalMs ? kMaxLoopIntervalMs : std::trunc(v));
      std::atomic_ref<int>(iLoopIntervalMs).store(static_cast<int>(clamped));
    }
  }
  SnapshotActiveProfileSettings();
}

void ApplyFixedSpotUpdate(const std::string& list) {
  const std::vector<std::string> f = SplitString(list, ',');
  if (f.size() < 2) return;
  const double x = FieldNumber(f[0], std::nan(""));
  const double y = FieldNumber(f[1], std::nan(""));
  if (std::isnan(x) || std::isnan(y)) return;
  autoClickFixedX.store(FieldInt(f[0], 0));
  autoClickFixedY.store(FieldInt(f[1], 0));
  autoClickLocationMode.store(1);
  SnapshotActiveProfileSettings();
}

void ApplyJitterUpdate(const std::string& list) {
  const std::vector<std::string> f = SplitString(list, ',');
  auto apply = [&f](size_t i, int& target, int max) {
    if (i >= f.size()) return;
    const double v = FieldNumber(f[i], std::nan(""));
    if (std::isnan(v)) return;
    StoreSetting(target, static_cast<int>(v < 0 ? 0.0 : (v > max ? max : std::trunc(v))));
  };
  apply(0, autoClickJitterMs, kMaxJitterMs);
  apply(1, autoClickJitterRadius, kMaxJitterRadius);
  apply(2, keySpamJitterMs, kMaxJitterMs);
  SnapshotActiveProfileSettings();
}
