// Placeholders for the window layer and desktop integration until they land.
#include <unistd.h>

#include <climits>
#include <string>

#include "platform/os_window.h"

bool ParseThemeColor(const std::string&, RgbColor&) { return false; }
void OsPrepareWindowDecorations(bool) {}
void OsSetTitleBarColors(void*, const TitleBarColors&) {}
void OsSetWindowCornersRounded(void*, bool) {}
void OsSetAlwaysOnTop(void*, bool) {}
void OsResizeWindowClamped(void*, int, int, bool) {}
void OsGetWindowPlacement(void*, int& x, int& y, int& w, int& h, bool& maximized) {
  x = y = w = h = 0;
  maximized = false;
}
void OsRestoreWindowPlacement(void*, int, int, int, int, bool) {}
bool OsGetWindowFrame(void*, int&, int&, int&, int&) { return false; }
bool OsGetPageFrame(void*, int&, int&, int&, int&) { return false; }
void OsMoveWindowFrame(void*, int, int) {}
void OsBringToFront(void*) {}
void OsMiniaturize(void*) {}
bool OsWindowVisible(void*) { return true; }
void OsInstallMainMenu(const std::string&) {}
std::string OsReadClipboardText(bool) { return {}; }

std::string OsResourceDir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}
void OsPrepareFileOpenHandling() {}
bool OsAcquireSingleInstanceLock() { return true; }
void OsActivateOtherInstance() {}
void OsApplyLaunchAtLogin(bool) {}
void OsInstallLifecycleHooks(void*, std::function<void()>, std::function<void()>,
                             std::function<void()>) {}
void OsInstallFileOpenHandlers(void*, std::function<void(const std::vector<std::string>&)>) {}
void OsShowAlert(const std::string&) {}
void OsOpenUrl(const char*) {}
