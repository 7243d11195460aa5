#pragma once
// App settings file and the small state files of the data directory.
#include <string>

extern bool g_HasSavedWindowPos;
extern int g_SavedWindowX;
extern int g_SavedWindowY;
extern int g_SavedWindowWidth;
extern int g_SavedWindowHeight;
extern bool g_SavedMaximized;
extern bool g_AlwaysOnTop;
extern bool g_StartMinimized;
extern bool g_LaunchOnStartup;
extern std::string g_CurrentTheme;

std::string XdgDataHome();
std::string OsDataDir();
std::string GetAppSettingsFilePath();
std::string GetThemeFilePath();
std::string GetTrackerStatusFilePath();

void LoadAppSettings();
void SaveAppSettings();
std::string LoadThemeFromFile();
void RememberAccessibilityGranted();
bool AccessibilityWasGrantedBefore();

// Bridge handlers (argument already unwrapped); results as the bridge returns them.
std::string BindGetAppSettings();
std::string BindMarkWarningSeen(const std::string& id);
std::string BindSetAppSetting(const std::string& keyAndValue);
std::string BindSetPanelOrder(const std::string& order);
