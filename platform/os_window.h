#pragma once
// The GTK platform layer: the program's windows on the desktop (decorations,
// corners, title-bar colours, keep-above, sizing and placement, frames,
// clipboard) and desktop integration (resource directory, single instance,
// files opened from outside, autostart, lifecycle hooks, the session's lock
// state, alerts). Window handles are GtkWindow* passed as void*.
// Implemented in platform/linux/gtk/. Unless noted otherwise every operation
// runs on the GTK main thread.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct RgbColor {
  uint8_t r = 0, g = 0, b = 0;
};
// Title-bar colours: background red, green, blue, then foreground red, green, blue.
struct TitleBarColors {
  RgbColor background;
  RgbColor foreground;
};

// "#rgb", "#rrggbb" (either case) or "rgb(r, g, b)" with decimal values
// 0-255, white space allowed around the whole text and around each number.
// False (outputs untouched) for anything else.
bool ParseThemeColor(const std::string& text, int& red, int& green, int& blue);
inline bool ParseThemeColor(const std::string& text, RgbColor& out) {
  int r = 0, g = 0, b = 0;
  if (!ParseThemeColor(text, r, g, b)) return false;
  out = RgbColor{static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)};
  return true;
}

// ---- Window management and decorations -------------------------------------

// Once, before any window exists: initialises GTK and arranges that every
// top-level window gets rounded corners and, on KDE Wayland with server-side
// decorations, the program's own header bar. In child mode only GTK and the
// hook are set up.
void OsPrepareWindowDecorations(bool child);

// Gives the window (and every later window and dialog of the process) the
// program's icon, read from "linux-ui/icons" in the resource directory
// (PNG sizes, the SVG as a fallback). False when no icon could be read.
bool OsSetWindowIcon(void* window);
// Colours every title bar of the process; also sets the dark-theme preference.
void OsSetTitleBarColors(void* window, const TitleBarColors& colors);
void OsSetWindowCornersRounded(void* window, bool rounded);
void OsSetAlwaysOnTop(void* window, bool on);
// Resizes within the work area of the window's monitor.
void OsResizeWindowClamped(void* window, int width, int height, bool keepOnScreen);
// Zeros and false for the main window once it has been destroyed.
void OsGetWindowPlacement(void* window, int& x, int& y, int& width, int& height, bool& maximized);
// Size applied when both are positive; the position only when it lies on a
// present monitor.
void OsRestoreWindowPlacement(void* window, int x, int y, int width, int height, bool maximized);
// The visible frame (shadows excluded) and the page area on screen.
bool OsGetWindowFrame(void* window, int& x, int& y, int& width, int& height);
bool OsGetPageFrame(void* window, int& x, int& y, int& width, int& height);
void OsMoveWindowFrame(void* window, int x, int y);
void OsBringToFront(void* window);
void OsMiniaturize(void* window);
bool OsWindowVisible(void* window);
// Application name and program name (the window class "pellomar-free").
void OsInstallMainMenu(const std::string& name);
std::string OsReadClipboardText(bool primary);

// ---- Desktop integration ---------------------------------------------------

// Directory of the running executable ("." when unknown). Any thread.
std::string OsResourceDir();
// "app.pellomar.free". Any thread.
std::string OsBundleIdentifier();
// Start-up, first step: collects the .pmrtheme/.pmrmacro files named on the
// command line (read from /proc/self/cmdline).
void OsPrepareFileOpenHandling();
// Start-up, second step: true when this process now holds the per-user lock.
// On false, `problem` (when given) stays empty when another instance holds
// the lock, and otherwise says in one sentence why the lock could not be
// taken at all (the lock file is a link, a directory, cannot be created...).
bool OsAcquireSingleInstanceLock(std::string* problem = nullptr);
// Hands the collected files to the running instance and wakes it.
void OsActivateOtherInstance();
// Writes or removes the autostart entry.
void OsApplyLaunchAtLogin(bool enabled);
// Geometry saving (debounced), closing on SIGTERM/SIGINT/SIGHUP, activation
// on SIGUSR2, and the session lock watch. The shutdown callback is kept but
// never called here.
void OsInstallLifecycleHooks(void* window, std::function<void()> geometry, std::function<void()> shutdown,
                             std::function<void()> sessionLocked);
// Installs the open-files handler and the navigation filter of the window's
// web view; delivers files collected or handed over so far.
void OsInstallFileOpenHandlers(void* window, std::function<void(const std::vector<std::string>&)> handler);
// A native file dialog (the file-chooser portal where one exists) for one
// file of the given extension (".pmrmacro"). `save` asks where to save, with
// `suggestedName` filled in; otherwise which file to open. `done` runs later
// on the main thread with the chosen path, or the empty text when the user
// cancelled. Main thread.
void OsChooseFile(bool save, const std::string& suggestedName, const std::string& extension,
                  std::function<void(const std::string& path)> done);
// Modal information alert on the main window (parentless before it exists;
// nothing when there is no display).
void OsShowAlert(const std::string& message);
// Opens the address with the desktop's default handler; false when none could
// be started (no browser, no handler for the scheme).
bool OsOpenUrl(const char* url);
// "Settings".
const char* OsSettingsAppName();
// Nothing on this platform.
void OsOpenSoftwareUpdate();
