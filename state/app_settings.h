#pragma once
// The data directory, the app settings file (behaviour, look, panels, window
// placement) and the small state files: theme, status, access marker.
#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "base/data_dir.h"

// ---- data directory ------------------------------------------------------------
std::string GetAppSettingsFilePath();    // <data dir>/appsettings.txt
std::string GetThemeFilePath();          // <data dir>/theme.txt
std::string GetStatusFilePath();         // <data dir>/status.txt
std::string GetAccessMarkerFilePath();   // <data dir>/macpermissions.txt

// Largest small state files that are read back; a larger one reads as missing.
inline constexpr size_t kAppSettingsFileMaxBytes = size_t{1} << 20;
inline constexpr size_t kSmallStateFileMaxBytes = size_t{64} << 10;  // theme, access marker

// ---- app settings ----------------------------------------------------------------
// (g_HotkeysEnabled, g_HotkeyLockEnabled, g_HotkeysUnlocked and
// g_StopToolsWithMacro live with the tool state.)
extern bool g_AlwaysOnTop;
extern bool g_LaunchOnStartup;
extern bool g_StartMinimized;
extern bool g_DisableAnimations;
extern bool g_SiteDesign;  // the file stores its negation as performanceMode
extern bool g_SnapAnimation;
extern bool g_ShowWarnings;
// Keep the screen-share permission of the portal pointer stream beyond this
// run (its restore token saved in the data directory); off by default.
extern bool g_RememberScreenGrant;
extern std::set<std::string> g_SeenWarningIds;   // ordered byte-wise
extern std::set<std::string> g_MinimizedPanels;  // known panel ids only
extern std::vector<std::string> g_PanelOrder;
extern bool g_HasSavedWindowPos;
extern int g_SavedWindowX;
extern int g_SavedWindowY;
extern int g_SavedWindowWidth;
extern int g_SavedWindowHeight;
extern bool g_SavedMaximized;
// Seconds the page counts down before a tool it starts begins (0-10);
// hotkeys always start at once.
extern int g_StartDelaySecs;
constexpr int kDefaultStartDelaySecs = 2;
constexpr int kMaxStartDelaySecs = 10;
// Closing the window keeps the program running in the tray (when a tray
// shows its item); off by default.
extern bool g_KeepInTray;
// The page's look: "system" (the desktop's light or dark preference),
// "light" or "dark".
extern std::string g_ColorScheme;
// Whether the pages look dark now: "dark", or "system" with a desktop that
// prefers dark.
bool PagesLookDark();
extern std::string g_CurrentTheme;  // theme key, "pellomar" until loaded

// The six panel ids, exact and case-sensitive.
bool IsKnownPanelId(const std::string& id);
// Comma list of panel ids, empty fields skipped; an unknown or repeated id
// rejects the whole text and leaves `order` untouched.
bool ParsePanelOrder(const std::string& text, std::vector<std::string>& order);

// A missing file keeps every default; unknown keys and bad lines are skipped.
void LoadAppSettings();
// Rewrites the whole file (atomically); false when it could not be written,
// in which case the previous file is left whole.
bool SaveAppSettings();

// ---- small files -------------------------------------------------------------------
// First line of the theme file; "pellomar" when missing or empty.
std::string LoadThemeFromFile();
// Replaces the status file's content with `json` (no line end); failures ignored.
void SaveStatusToFile(const std::string& json);
// The access marker line "accessibilityGranted=<OsBundleIdentifier()>".
bool AccessibilityWasGrantedBefore();
void RememberAccessibilityGranted();

// ---- bridge handlers (argument already unwrapped by ParseJSString) --------------
// The app settings JSON; also sets g_MainPageReady.
std::string BindGetAppSettings();
std::string BindMarkWarningSeen(const std::string& id);
std::string BindSetAppSetting(const std::string& keyAndValue);
std::string BindSetPanelOrder(const std::string& order);
// What BindSetAppSetting applies at once. Defined by the window layer
// (app/app.cpp), which owns the main window.
void PlatformApplyAlwaysOnTop(bool on);
void PlatformApplyLaunchOnStartup(bool on);

// Every app setting back to its default (tests).
void ResetAppSettingsForTest();
