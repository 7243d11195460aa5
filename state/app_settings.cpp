// The app settings file and the four app-settings bridge handlers.
#include "state/app_settings.h"

#include <optional>
#include <string_view>

#include "base/atomic_file.h"
#include "base/json_escape.h"
#include "base/number_text.h"
#include "base/read_file.h"
#include "base/strings.h"
#include "model/tool_state.h"
#include "model/wake.h"
#include "platform/os_appearance.h"
#include "platform/os_shell.h"
#include "platform/os_tray.h"
#include "state/session_file.h"

bool g_AlwaysOnTop = false;
bool g_LaunchOnStartup = false;
bool g_StartMinimized = false;
bool g_DisableAnimations = false;
bool g_SiteDesign = true;
bool g_SnapAnimation = true;
bool g_RememberScreenGrant = false;
bool g_ShowWarnings = true;
std::set<std::string> g_SeenWarningIds;
std::set<std::string> g_MinimizedPanels;
std::vector<std::string> g_PanelOrder;
bool g_HasSavedWindowPos = false;
int g_SavedWindowX = 0;
int g_SavedWindowY = 0;
int g_SavedWindowWidth = 420;
int g_SavedWindowHeight = 560;
bool g_SavedMaximized = false;
int g_StartDelaySecs = kDefaultStartDelaySecs;
bool g_KeepInTray = false;
std::string g_ColorScheme = "system";
std::string g_CurrentTheme = "pellomar";

namespace {

const char* const kPanelIds[] = {"panel-ui",      "panel-profile", "panel-spammer",
                                 "panel-keyspam", "panel-tracker", "panel-flick"};

const char* Bool(bool v) { return v ? "true" : "false"; }

template <typename Container>
std::string JoinComma(const Container& items) {
  std::string s;
  bool first = true;
  for (const std::string& item : items) {
    if (!first) s += ',';
    s += item;
    first = false;
  }
  return s;
}

// A JSON array of strings. Panel ids are known plain words; warning ids come
// from the page and the file and are escaped, so an odd id can never make the
// whole answer unreadable for the page.
template <typename Container>
std::string JsonStringArray(const Container& items) {
  std::string s = "[";
  bool first = true;
  for (const std::string& item : items) {
    if (!first) s += ',';
    s += JsonEscapeForBind(item);
    first = false;
  }
  return s + "]";
}

void AppendSetting(std::string& out, const char* key, const std::string& value) {
  out += key;
  out += '=';
  out += value;
  out += '\n';
}

std::string BoolText(bool v) { return v ? "1" : "0"; }

// A start delay in whole seconds, 0 to 10; anything else is no delay value.
std::optional<int> ParseStartDelay(std::string_view text) {
  std::optional<int32_t> v = ParseLeadingInt32(text);
  if (!v || *v < 0 || *v > kMaxStartDelaySecs || std::to_string(*v) != text) return std::nullopt;
  return *v;
}

// One of the three looks; anything else is none.
bool IsColorScheme(std::string_view text) { return text == "system" || text == "light" || text == "dark"; }

// Stores one of the on/off settings that the file and the page name alike;
// false for any other key. Applying a change to the window or the autostart
// entry is left to the caller.
bool StoreSharedFlag(const std::string& key, bool on) {
  if (key == "alwaysOnTop") {
    g_AlwaysOnTop = on;
  } else if (key == "launchOnStartup") {
    g_LaunchOnStartup = on;
  } else if (key == "startMinimized") {
    g_StartMinimized = on;
  } else if (key == "hotkeysEnabled") {
    g_HotkeysEnabled.exchange(on);
  } else if (key == "stopToolsWithMacro") {
    g_StopToolsWithMacro = on;
  } else if (key == "disableAnimations") {
    g_DisableAnimations = on;
  } else if (key == "performanceMode") {
    g_SiteDesign = !on;
  } else if (key == "snapAnimation") {
    g_SnapAnimation = on;
  } else if (key == "showWarnings") {
    g_ShowWarnings = on;
  } else if (key == "rememberScreenGrant") {
    g_RememberScreenGrant = on;
  } else if (key == "keepInTray") {
    g_KeepInTray = on;
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool IsKnownPanelId(const std::string& id) {
  for (const char* known : kPanelIds)
    if (id == known) return true;
  return false;
}

bool ParsePanelOrder(const std::string& text, std::vector<std::string>& order) {
  std::vector<std::string> result;
  for (const std::string& field : SplitString(text, ',')) {
    if (field.empty()) continue;
    if (!IsKnownPanelId(field)) return false;
    for (const std::string& seen : result)
      if (seen == field) return false;
    result.push_back(field);
  }
  order = std::move(result);
  return true;
}

void LoadAppSettings() {
  const std::string path = GetAppSettingsFilePath();
  RemoveStaleTempFiles(path);
  const std::string data = ReadStateFile(path, kAppSettingsFileMaxBytes);
  std::vector<std::string_view> lines;
  SplitStringView(data, '\n', lines);
  std::vector<std::string_view> items;
  for (std::string_view line : lines) {
    size_t eq = line.find('=');
    if (line.empty() || eq == std::string_view::npos) continue;
    const std::string key(line.substr(0, eq));
    const std::string_view value = line.substr(eq + 1);
    const bool on = value == "1";
    if (key == "hotkeyLockOn") {
      g_HotkeyLockEnabled.exchange(on);
    } else if (key == "seenWarnings") {
      SplitStringView(value, ',', items);
      for (std::string_view id : items)
        if (!id.empty()) g_SeenWarningIds.emplace(id);
    } else if (key == "minimizedPanels") {
      SplitStringView(value, ',', items);
      for (std::string_view id : items)
        if (IsKnownPanelId(std::string(id))) g_MinimizedPanels.emplace(id);
    } else if (key == "panelOrder") {
      ParsePanelOrder(std::string(value), g_PanelOrder);
    } else if (key == "windowX" || key == "windowY" || key == "windowWidth" || key == "windowHeight") {
      std::optional<int32_t> v = ParseLeadingInt32(value);
      if (!v) continue;
      if (key == "windowX") {
        g_SavedWindowX = *v;
        g_HasSavedWindowPos = true;
      } else if (key == "windowY") {
        g_SavedWindowY = *v;
      } else if (key == "windowWidth") {
        g_SavedWindowWidth = *v;
      } else {
        g_SavedWindowHeight = *v;
      }
    } else if (key == "windowMaximized") {
      g_SavedMaximized = on;
    } else if (key == "startDelaySecs") {
      if (std::optional<int> d = ParseStartDelay(value)) g_StartDelaySecs = *d;
    } else if (key == "colorScheme") {
      if (IsColorScheme(value)) g_ColorScheme = std::string(value);
    } else {
      StoreSharedFlag(key, on);  // unknown keys change nothing
    }
  }
  // Applied whatever the file says: without the setting a saved permission goes.
  LinuxPortalRememberGrant(g_RememberScreenGrant);
}

bool SaveAppSettings() {
  std::string s;
  AppendSetting(s, "alwaysOnTop", BoolText(g_AlwaysOnTop));
  AppendSetting(s, "launchOnStartup", BoolText(g_LaunchOnStartup));
  AppendSetting(s, "startMinimized", BoolText(g_StartMinimized));
  AppendSetting(s, "hotkeysEnabled", BoolText(g_HotkeysEnabled.load()));
  AppendSetting(s, "hotkeyLockOn", BoolText(g_HotkeyLockEnabled.load()));
  AppendSetting(s, "stopToolsWithMacro", BoolText(g_StopToolsWithMacro));
  AppendSetting(s, "disableAnimations", BoolText(g_DisableAnimations));
  AppendSetting(s, "performanceMode", BoolText(!g_SiteDesign));
  AppendSetting(s, "snapAnimation", BoolText(g_SnapAnimation));
  AppendSetting(s, "showWarnings", BoolText(g_ShowWarnings));
  AppendSetting(s, "seenWarnings", JoinComma(g_SeenWarningIds));
  AppendSetting(s, "minimizedPanels", JoinComma(g_MinimizedPanels));
  AppendSetting(s, "panelOrder", JoinComma(g_PanelOrder));
  AppendSetting(s, "windowX", std::to_string(g_SavedWindowX));
  AppendSetting(s, "windowY", std::to_string(g_SavedWindowY));
  AppendSetting(s, "windowWidth", std::to_string(g_SavedWindowWidth));
  AppendSetting(s, "windowHeight", std::to_string(g_SavedWindowHeight));
  AppendSetting(s, "windowMaximized", BoolText(g_SavedMaximized));
  AppendSetting(s, "startDelaySecs", std::to_string(g_StartDelaySecs));
  AppendSetting(s, "rememberScreenGrant", BoolText(g_RememberScreenGrant));
  AppendSetting(s, "keepInTray", BoolText(g_KeepInTray));
  AppendSetting(s, "colorScheme", g_ColorScheme);
  return WriteFileAtomically(GetAppSettingsFilePath(), s);
}

std::string BindGetAppSettings() {
  g_MainPageReady.store(true);
  std::string j = "{\"alwaysOnTop\":";
  j += Bool(g_AlwaysOnTop);
  j += ",\"launchOnStartup\":";
  j += Bool(g_LaunchOnStartup);
  j += ",\"startMinimized\":";
  j += Bool(g_StartMinimized);
  j += ",\"hotkeysEnabled\":";
  j += Bool(g_HotkeysEnabled.load());
  j += ",\"hotkeyLock\":";
  j += Bool(g_HotkeyLockEnabled.load());
  j += ",\"disableAnimations\":";
  j += Bool(g_DisableAnimations);
  j += ",\"siteDesign\":";
  j += Bool(g_SiteDesign);
  j += ",\"performanceMode\":";
  j += Bool(!g_SiteDesign);
  j += ",\"snapAnimation\":";
  j += Bool(g_SnapAnimation);
  j += ",\"showWarnings\":";
  j += Bool(g_ShowWarnings);
  j += ",\"seenWarnings\":";
  j += JsonStringArray(g_SeenWarningIds);
  j += ",\"minimizedPanels\":";
  j += JsonStringArray(g_MinimizedPanels);
  j += ",\"panelOrder\":";
  j += JsonStringArray(g_PanelOrder);
  // After the older members, so a page that knows only those reads them as before.
  j += ",\"stopToolsWithMacro\":";
  j += Bool(g_StopToolsWithMacro.load());
  j += ",\"startDelaySecs\":";
  j += std::to_string(g_StartDelaySecs);
  j += ",\"rememberScreenGrant\":";
  j += Bool(g_RememberScreenGrant);
  // Whether a tray shows the program's item: without one, closing quits
  // whatever keepInTray says.
  j += ",\"keepInTray\":";
  j += Bool(g_KeepInTray);
  j += ",\"trayAvailable\":";
  j += Bool(OsTrayHostPresent());
  // The chosen look and, for "system", what the desktop prefers now.
  j += ",\"colorScheme\":\"";
  j += g_ColorScheme;
  j += "\",\"desktopDark\":";
  j += Bool(OsDesktopPrefersDark());
  j += '}';
  return j;
}

std::string BindSetAppSetting(const std::string& keyAndValue) {
  std::vector<std::string> f = SplitString(keyAndValue, ',');
  if (f.size() != 2) return {};
  const std::string& key = f[0];
  const bool on = f[1] == "1";
  if (StoreSharedFlag(key, on)) {
    if (key == "alwaysOnTop")
      PlatformApplyAlwaysOnTop(on);
    else if (key == "launchOnStartup")
      PlatformApplyLaunchOnStartup(on);
    else if (key == "rememberScreenGrant")
      LinuxPortalRememberGrant(on);
  } else if (key == "startDelaySecs") {
    std::optional<int> d = ParseStartDelay(f[1]);
    if (!d) return {};
    g_StartDelaySecs = *d;
  } else if (key == "colorScheme") {
    if (!IsColorScheme(f[1])) return {};
    g_ColorScheme = f[1];
  } else if (key == "hotkeyLock") {
    g_HotkeyLockEnabled.exchange(on);
    g_HotkeysUnlocked.exchange(true);
  } else if (key.rfind("min:", 0) == 0) {
    const std::string id = key.substr(4);
    if (IsKnownPanelId(id)) {
      if (on)
        g_MinimizedPanels.insert(id);
      else
        g_MinimizedPanels.erase(id);
    }
  }
  SaveAppSettings();
  return {};
}

bool PagesLookDark() { return g_ColorScheme == "dark" || (g_ColorScheme == "system" && OsDesktopPrefersDark()); }

std::string BindMarkWarningSeen(const std::string& id) {
  if (id.empty() || g_SeenWarningIds.count(id)) return {};
  g_SeenWarningIds.insert(id);
  SaveAppSettings();
  return {};
}

std::string BindSetPanelOrder(const std::string& order) {
  if (ParsePanelOrder(order, g_PanelOrder)) SaveAppSettings();
  return {};
}

void ResetAppSettingsForTest() {
  g_AlwaysOnTop = g_LaunchOnStartup = g_StartMinimized = g_DisableAnimations = false;
  g_SiteDesign = g_SnapAnimation = g_ShowWarnings = true;
  g_RememberScreenGrant = false;
  g_HotkeysEnabled.store(true);
  g_HotkeyLockEnabled.store(true);
  g_HotkeysUnlocked.store(true);
  g_StopToolsWithMacro = true;
  g_SeenWarningIds.clear();
  g_MinimizedPanels.clear();
  g_PanelOrder.clear();
  g_HasSavedWindowPos = false;
  g_SavedWindowX = g_SavedWindowY = 0;
  g_SavedWindowWidth = 420;
  g_SavedWindowHeight = 560;
  g_SavedMaximized = false;
  g_StartDelaySecs = kDefaultStartDelaySecs;
  g_KeepInTray = false;
  g_ColorScheme = "system";
  g_CurrentTheme = "pellomar";
}
