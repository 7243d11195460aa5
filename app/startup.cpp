// Process entry: command-line modes, start-up in its fixed order, the worker
// threads, the main loop and the stop.
#include <pthread.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/app.h"
#include "app/bridge.h"
#include "app/macro_files.h"
#include "app/pages.h"
#include "app/remote_control.h"
#include "app/status_push.h"
#include "app/update_flow.h"
#include "base/data_dir.h"
#include "model/profiles.h"
#include "platform/os_appearance.h"
#include "platform/os_input.h"
#include "platform/os_keys.h"
#include "platform/os_shell.h"
#include "platform/os_webview.h"
#include "platform/os_window.h"
#include "platform/os_window_size.h"
#include "snap/desktop_windows.h"
#include "state/app_settings.h"
#include "state/session_file.h"
#include "tools/autoclicker.h"
#include "tools/keyspammer.h"
#include "tools/playback.h"
#include "tools/recorder.h"
#include "tools/signals.h"
#include "update/selftest.h"

namespace {

constexpr int kMinWindowWidth = 300;
constexpr int kMinWindowHeight = 360;

void SetThreadName(const char* name) { pthread_setname_np(pthread_self(), name); }

void SignalProcessorThread() {
  SetThreadName("PMR signals");
  while (g_AppRunning.load()) {
    ProcessSignals();
    PushToolStateIfChanged();
    WaitUntilWoken(g_SignalWake);
  }
}

// Saves every five seconds; sleeps the whole interval (the stop wakes it).
void SessionAutosaveThread() {
  while (g_AppRunning.load()) {
    {
      std::unique_lock<std::mutex> lock(g_AutosaveWake.mutex);
      g_AutosaveWake.cv.wait_for(lock, std::chrono::seconds(5), [] {
        return g_AutosaveWake.flag.exchange(false) || !g_AppRunning.load();
      });
    }
    if (g_AppRunning.load()) SaveSessionState();
  }
}

void NamedAutoClicker() {
  SetThreadName("PMR autoclicker");
  AutoClickerThread();
}

void NamedKeySpammer() {
  SetThreadName("PMR key spammer");
  KeySpammerThread();
}

void NamedPlayback() {
  SetThreadName("PMR playback");
  PlaybackThread();
}

// Step 20: the main page when capture runs and no GNOME helper is needed,
// otherwise the boot page.
void ChooseFirstPage(webview::WebView& w) {
  if (OsAccessibilityTrusted()) RememberAccessibilityGranted();
  if (OsStartInputTap()) {
    std::string gnome = LinuxGnomeHelperState();
    if (gnome == "n/a" || gnome == "active") {
      LoadMainUi(w);
      return;
    }
  }
  bool ready = false;
  if (OsAccessibilityTrusted()) {
    RememberAccessibilityGranted();
    ready = OsStartInputTap();
  }
  std::string kind = "permissions";
  if (!ready && AccessibilityWasGrantedBefore()) kind = "reset";
  LoadBootPage(w, kind);
}

}  // namespace

void StartWorkerThreads() {
  g_Threads.emplace_back(NamedAutoClicker);
  g_Threads.emplace_back(NamedKeySpammer);
  g_Threads.emplace_back(SignalProcessorThread);
  g_Threads.emplace_back(SessionAutosaveThread);
  g_Threads.emplace_back(NamedPlayback);
}

int PmrMain(int argc, char** argv) {
  webview::prepare_environment();
  CommandLine cl = ParseCommandLine(argc, argv);
  if (cl.selfTest) {
    std::string report;
    bool pass = SelfTestUpdate(cl.selfTestPath, report);
    std::fwrite(report.data(), 1, report.size(), stdout);
    std::fputs(pass ? "SELFTEST-UPDATE: ALL PASS\n" : "SELFTEST-UPDATE: FAILURES ABOVE\n", stdout);
    std::fflush(stdout);
    return pass ? 0 : 1;
  }
  if (cl.hasManifestOverride) g_UpdateManifestOverride = cl.manifestOverride;
  OsPrepareWindowDecorations(cl.child);
  if (cl.child) return 0;

  OsPrepareFileOpenHandling();
  // A data directory that cannot hold the state safely, or a lock that
  // cannot be taken at all, ends the start with a message; only a lock held
  // by another process means another instance.
  std::string problem = DataDirProblem(OsDataDir());
  if (problem.empty() && !OsAcquireSingleInstanceLock(&problem) && problem.empty()) {
    OsActivateOtherInstance();
    return 0;
  }
  if (!problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    OsShowAlert(problem);
    return 1;
  }
  CleanupUpdateTempFiles();
  g_SessionStateFilePath = OsDataDir() + "/session.dat";
  if (!LoadSessionState()) {
    std::lock_guard<std::mutex> lock(profileMutex);
    profiles.push_back(MacroProfile{kDefaultProfileName, "", {}});
  }
  EnsureDefaultProfileExists();
  LoadAppSettings();
  // Before the window's own colours set GTK's dark preference.
  OsWatchDesktopColorScheme(PushDesktopColorScheme);
  OsApplyLaunchAtLogin(g_LaunchOnStartup);
  g_CurrentTheme = LoadThemeFromFile();
  OsKeysWatchLayout();
  OsSetInputHooks(&ToolInputHooks());
  OsInputInit();

  StartWorkerThreads();

  std::unique_ptr<webview::WebView> view;
  try {
    view = std::make_unique<webview::WebView>();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Pellomar could not open its window: %s\n", e.what());
    ShutDown();
    return 1;
  }
  {
    webview::WebView& w = *view;
    g_MasterWindow = w.window();
    g_MasterEvalFn = [&w](const std::string& js) { w.eval(js); };
    g_MasterDispatchFn = [&w](std::function<void()> fn) { w.dispatch(std::move(fn)); };
    w.set_title(kWindowTitle);
    // The page's background and text in the look it will show (it sends
    // its own colours again whenever the look changes).
    OsSetTitleBarColors(g_MasterWindow, PagesLookDark() ? TitleBarColors{{13, 14, 21}, {255, 255, 255}}
                                                        : TitleBarColors{{243, 244, 248}, {23, 26, 41}});
    BindSetTitleBarColors(w);
    OsInstallMainMenu(kMenuName);
    int firstWidth = kDefaultWindowWidth, firstHeight = kDefaultWindowHeight;
    OsFitFirstWindowSize(firstWidth, firstHeight, kMinWindowWidth, kMinWindowHeight);
    w.set_size(firstWidth, firstHeight, webview::Hint::None);
    // The smallest window at which the page still fits without clipping.
    OsSetPageMinimumSize(g_MasterWindow, kMinWindowWidth, kMinWindowHeight);
    OsSetWindowIcon(g_MasterWindow);
    w.init(InjectedUserScript());
    DesktopWindowsStart(g_MasterWindow, true, g_MasterEvalFn, g_MasterDispatchFn,
                        std::function<void()>());
    BindBridgeFunctions(w);
    ChooseFirstPage(w);
    if (g_HasSavedWindowPos)
      OsRestoreWindowPlacement(g_MasterWindow, g_SavedWindowX, g_SavedWindowY, g_SavedWindowWidth,
                               g_SavedWindowHeight, g_SavedMaximized && !g_StartMinimized);
    SaveGeometry();
    if (g_AlwaysOnTop) OsSetAlwaysOnTop(g_MasterWindow, true);
    if (g_StartMinimized)
      OsMiniaturize(g_MasterWindow);
    else
      OsBringToFront(g_MasterWindow);
    OsInstallLifecycleHooks(
        g_MasterWindow,
        [] {
          SaveGeometry();
          DesktopWindowsCheckSnap();
        },
        ShutDown, OsInputTapOnSessionLocked);
    OsInstallFileOpenHandlers(g_MasterWindow, OpenMacroFiles);
    StartRemoteControl([&w] { w.terminate(); });
    StartUpdateCheckThread();

    w.run();
    StopRemoteControl();

    {
      std::lock_guard<std::mutex> lock(g_UpdateUiMutex);
      g_UpdateInstallCancel.store(true);
    }
    SaveGeometry();
    g_MasterWindow = nullptr;
    ShutDown();
    {
      // The detached update thread reads these under the same lock.
      std::lock_guard<std::mutex> lock(g_UpdateUiMutex);
      g_MasterEvalFn = nullptr;
      g_MasterDispatchFn = nullptr;
    }
  }
  view.reset();
  ShutDown();
  return 0;
}
