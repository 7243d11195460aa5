// Placeholders for persistence until profiles, the session file and the app
// settings land: nothing is read or written.
#include <cstdlib>

#include "state/app_settings.h"
#include "state/profiles.h"
#include "state/session_file.h"

std::vector<MacroProfile> profiles;
int currentProfileIdx = 0;
std::mutex profileMutex;
std::atomic<int> g_ProfilesRev{0};

void EnsureDefaultProfileExists() {}
void SnapshotActiveProfileSettings() {}
void ResetSpammerKeySpamDefaults() {}
std::string BuildProfilesJsonLocked() { return "{}"; }

std::vector<std::string> SplitString(const std::string& text, char separator) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t pos = text.find(separator, start);
    if (pos == std::string::npos) {
      out.push_back(text.substr(start));
      break;
    }
    out.push_back(text.substr(start, pos - start));
    start = pos + 1;
  }
  return out;
}
bool LoadSessionState() { return false; }
void SaveSessionState() {}
void SaveSessionStateBlocking() {}
std::string SerializeProfileSettings() { return {}; }
void ApplyProfileSettings(const std::string&) {}

bool g_HasSavedWindowPos = false;
int g_SavedWindowX = 0;
int g_SavedWindowY = 0;
int g_SavedWindowWidth = 0;
int g_SavedWindowHeight = 0;
bool g_SavedMaximized = false;
bool g_AlwaysOnTop = false;
bool g_StartMinimized = false;
bool g_LaunchOnStartup = false;
std::string g_CurrentTheme = "pellomar";

std::string XdgDataHome() {
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "/tmp") + "/.local/share";
}
std::string OsDataDir() { return XdgDataHome() + "/Pellomar"; }
std::string GetAppSettingsFilePath() { return OsDataDir() + "/appsettings.txt"; }
std::string GetThemeFilePath() { return OsDataDir() + "/theme.txt"; }
std::string GetTrackerStatusFilePath() { return OsDataDir() + "/status.txt"; }
void LoadAppSettings() {}
void SaveAppSettings() {}
std::string LoadThemeFromFile() { return "pellomar"; }
void RememberAccessibilityGranted() {}
bool AccessibilityWasGrantedBefore() { return false; }
std::string BindGetProfiles() { return "{}"; }
void BindAddProfile(const std::string&) {}
void BindDeleteProfile() {}
void BindSwitchProfile(const std::string&) {}
void BindClearProfile() {}
std::string BindGetAppSettings() { return "{}"; }
std::string BindMarkWarningSeen(const std::string&) { return {}; }
std::string BindSetAppSetting(const std::string&) { return {}; }
std::string BindSetPanelOrder(const std::string&) { return {}; }
