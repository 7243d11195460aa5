// Process-wide state of the application core, the wake functions, UI updates
// from background threads, the orderly stop and the small shared helpers.
#include "app/app.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/os_input.h"
#include "platform/os_shell.h"
#include "platform/os_window.h"
#include "snap/desktop_windows.h"
#include "state/app_settings.h"
#include "state/session_file.h"
#include "tools/signals.h"

std::vector<std::thread> g_Threads;

void* g_MasterWindow = nullptr;
std::function<void(const std::string&)> g_MasterEvalFn;
std::function<void(std::function<void()>)> g_MasterDispatchFn;

std::mutex g_UpdateUiMutex;
std::atomic<bool> g_UpdateInstallCancel{false};
std::string g_UpdateManifestOverride;

bool UpdateUi(const std::function<void()>& fn) {
  std::lock_guard<std::mutex> lock(g_UpdateUiMutex);
  if (g_UpdateInstallCancel.load() || !g_MasterEvalFn) return false;
  fn();
  return true;
}

void SaveGeometry() {
  if (!g_MasterWindow) return;
  int x = 0, y = 0, width = 0, height = 0;
  bool maximized = false;
  OsGetWindowPlacement(g_MasterWindow, x, y, width, height, maximized);
  if (width <= 0 || height <= 0) return;
  g_SavedWindowX = x;
  g_SavedWindowY = y;
  g_SavedWindowWidth = width;
  g_SavedWindowHeight = height;
  g_SavedMaximized = maximized;
  g_HasSavedWindowPos = true;
  SaveAppSettings();
}

void ShutDown() {
  static std::atomic<bool> done{false};
  if (done.exchange(true)) return;

  {
    std::lock_guard<std::mutex> lock(g_UpdateUiMutex);
    g_UpdateInstallCancel.store(true);
  }
  SaveGeometry();
  // The last save waits for the profile lock: skipping it here would lose the
  // changes made since the previous autosave.
  SaveSessionStateBlocking();
  g_AppRunning.store(false);

  triggerAutoClickStop.store(true);
  triggerKeySpamStop.store(true);
  ProcessSignals();

  OsStopInputTap();
  DesktopWindowsStop();
  LinuxPointerStop();

  g_SignalWake.Wake();
  g_AutoClickWake.Wake();
  g_KeySpamWake.Wake();
  g_PlaybackWake.Wake();
  g_AutosaveWake.Wake();

  for (auto& t : g_Threads)
    if (t.joinable()) t.join();
  g_Threads.clear();
}

void PlatformApplyAlwaysOnTop(bool on) {
  if (g_MasterWindow) OsSetAlwaysOnTop(g_MasterWindow, on);
}
void PlatformApplyLaunchOnStartup(bool on) { OsApplyLaunchAtLogin(on); }

