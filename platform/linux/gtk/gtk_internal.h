#pragma once
// Shared between the files of the GTK platform layer and its tests: the
// texts and rules that do not need a display, the per-process state, and the
// seams through which tests drive the shell-backend branch and observe what
// reaches the input layer.
#include <gtk/gtk.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "platform/os_window.h"

namespace pmrgtk {

constexpr const char* kEditionWord = "free";
constexpr int kCornerRadius = 8;
constexpr int kNoPosition = INT_MIN;

// ---- Texts and rules --------------------------------------------------------

// The corner style sheet (rounded windows, square on request or when maximized).
std::string CornerStyleCss();
// The title-bar style sheet for the given colours.
std::string TitleBarCss(const TitleBarColors& colors);
// Whether a title-bar background asks for the dark theme.
bool PrefersDarkTheme(const TitleBarColors& colors);

// Command-line file collection over the argument list (first entry = program).
std::vector<std::string> CollectLaunchFiles(const std::vector<std::string>& args);
// A dropped or named file the program accepts (dropped files also ".mcr").
bool IsAcceptedFileName(const std::string& name, bool dropped);

std::string ExecutablePath();
std::string XdgConfigHome();
std::string AutostartEntryPath();
std::string AutostartEntryText(const std::string& programPath, const std::string& icon = "");
// The Icon= value of the autostart entry: the icon file beside the executable,
// or the icon's name inside an AppImage.
std::string AutostartIcon(bool appImage);
// The icon folder inside the resource directory.
inline constexpr const char* kWindowIconDir = "linux-ui/icons";
std::string LockFilePath();
std::string PendingOpenFilePath();
// The process id named by a lock file's first line, 0 when there is none.
int LockFileOwnerPid(const std::string& content);
// Every missing component of path (after the first character), then path
// itself, made with mode; failures are ignored.
void MakeDirectories(const std::string& path, unsigned mode);

// ---- Per-process state ------------------------------------------------------

struct LifecycleHooks {
  GtkWindow* window = nullptr;
  std::function<void()> geometry;
  std::function<void()> shutdown;
  std::function<void()> sessionLocked;
  std::function<void(const std::vector<std::string>&)> openFiles;
  guint geometryTimer = 0;
};
extern LifecycleHooks g_Hooks;
extern GtkWindow* g_DestroyedMainWindow;
extern std::vector<GtkDialog*> g_RunningDialogs;
extern std::vector<std::string> g_LaunchFiles;
extern int g_LockFds;
extern bool g_OwnTitleBars;
extern bool g_ShellAbove;
// Set once the program is told to end (a termination signal): closing the
// main window then ends it even when it would otherwise go to the tray.
extern bool g_QuitRequested;

struct SessionWatch {
  GDBusConnection* system = nullptr;
  std::string sessionPath;
  bool active = true;
  bool locked = false;
  bool screensaverActive = false;
  bool usable = true;
};
extern SessionWatch g_Session;

// ---- Internal operations -----------------------------------------------------

struct WorkArea {
  int x = 0, y = 0, width = 1920, height = 1080;
};
WorkArea WorkAreaFor(GtkWindow* window);
bool OnX11();
void RunWhenMapped(GtkWindow* window, std::function<void(GtkWindow*)> task);
void PrepareWindowWhenMapped(GtkWindow* window, bool centred);
void MoveFrameWhenMapped(GtkWindow* window, int x, int y);
void PrepareCornerStyle();
// Reads the pending-open file, deletes it and hands its paths to the handler.
void DeliverPendingFiles();
// Starts the session watch on the given buses (either may be null); once per
// process through OsInstallLifecycleHooks, again in tests after a reset.
void StartSessionWatch(GDBusConnection* system, GDBusConnection* session);
void ResetSessionWatchForTest();
// Applies a screensaver or session change and reports a change of usability.
void ReevaluateSessionUsable();

// ---- Seams -------------------------------------------------------------------

// The shell-backend operations used here; tests replace them to drive the
// branch taken when the display is not X11.
struct ShellOps {
  void (*pointerInit)();
  bool (*getFrame)(int& x, int& y, int& w, int& h);
  bool (*moveFrame)(int x, int y);
  bool (*resizeFrame)(int w, int h);
  bool (*setAbove)(bool above);
  bool (*setRounded)(bool rounded);
  bool (*isMaximized)(bool& maximized);
  void (*prepareWindow)(int w, int h, int x, int y);
};
extern ShellOps g_ShellOps;
// -1: ask GDK; 0: behave as on a non-X11 display; 1: as on X11.
extern int g_DisplayKindOverride;
// Where usability changes go (the input layer's LinuxInputSetSessionUsable).
extern void (*g_ReportSessionUsable)(bool usable);

}  // namespace pmrgtk
