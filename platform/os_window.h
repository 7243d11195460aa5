#pragma once
// The GTK platform layer: the main window on the desktop and desktop
// integration. Window handles are GtkWindow* passed as void*. Implemented in
// platform/linux/gtk/.
#include <functional>
#include <string>
#include <vector>

struct RgbColor {
  int r = 0, g = 0, b = 0;
};
struct TitleBarColors {
  RgbColor background;
  RgbColor foreground;
};
bool ParseThemeColor(const std::string& text, RgbColor& out);

// Window management and decorations.
void OsPrepareWindowDecorations(bool child);
void OsSetTitleBarColors(void* window, const TitleBarColors& colors);
void OsSetWindowCornersRounded(void* window, bool rounded);
void OsSetAlwaysOnTop(void* window, bool on);
void OsResizeWindowClamped(void* window, int width, int height, bool keepOnScreen);
void OsGetWindowPlacement(void* window, int& x, int& y, int& width, int& height, bool& maximized);
void OsRestoreWindowPlacement(void* window, int x, int y, int width, int height, bool maximized);
bool OsGetWindowFrame(void* window, int& x, int& y, int& width, int& height);
bool OsGetPageFrame(void* window, int& x, int& y, int& width, int& height);
void OsMoveWindowFrame(void* window, int x, int y);
void OsBringToFront(void* window);
void OsMiniaturize(void* window);
bool OsWindowVisible(void* window);
void OsInstallMainMenu(const std::string& name);
std::string OsReadClipboardText(bool primary);

// Desktop integration.
std::string OsResourceDir();
void OsPrepareFileOpenHandling();
bool OsAcquireSingleInstanceLock();
void OsActivateOtherInstance();
void OsApplyLaunchAtLogin(bool on);
void OsInstallLifecycleHooks(void* window, std::function<void()> geometry,
                             std::function<void()> shutdown,
                             std::function<void()> sessionLocked);
void OsInstallFileOpenHandlers(void* window,
                               std::function<void(const std::vector<std::string>&)> handler);
void OsShowAlert(const std::string& message);
void OsOpenUrl(const char* url);
