// The update check after start, and the update the page starts: check again,
// (authorize,) download with progress, verify, install, relaunch.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <thread>

#include "app/app.h"
#include "app/update_flow.h"
#include "base/json_escape.h"
#include "platform/os_update.h"
#include "platform/os_webview.h"

namespace {

std::atomic<bool> updateInstallRunning{false};

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Reads a local manifest file: empty when missing, empty or too large. At
// most one byte more than a manifest may hold is read, so a huge file or a
// device that never ends costs nothing.
std::string ReadManifestFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::string();
  std::string text(kMaxManifestBytes + 1, '\0');
  size_t got = 0;
  while (got < text.size()) {
    ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (got > kMaxManifestBytes) return std::string();
  text.resize(got);
  return text;
}

// Evaluates `script` on the main loop and waits (at most 2 s) until it ran,
// then pauses `pauseMs`. False when the page may no longer be changed.
bool ShowStep(const std::string& script, int pauseMs) {
  struct Shown {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
  };
  auto shown = std::make_shared<Shown>();
  {
    std::lock_guard<std::mutex> lock(g_UpdateUiMutex);
    if (g_UpdateInstallCancel.load() || !g_MasterEvalFn || !g_MasterDispatchFn) return false;
    auto eval = g_MasterEvalFn;
    g_MasterDispatchFn([eval, script, shown] {
      eval(script);
      std::lock_guard<std::mutex> l(shown->m);
      shown->done = true;
      shown->cv.notify_all();
    });
  }
  {
    std::unique_lock<std::mutex> l(shown->m);
    shown->cv.wait_for(l, std::chrono::seconds(2), [&] { return shown->done; });
  }
  SleepMs(pauseMs);
  return true;
}

void Fail(webview::WebView& w, const std::string& id, const std::string& message) {
  updateInstallRunning.store(false);
  std::lock_guard<std::mutex> lock(g_UpdateUiMutex);
  if (g_UpdateInstallCancel.load() || !g_MasterEvalFn) return;
  w.resolve(id, 0, JsonEscapeForBind(message));
}

void EndQuietly() { updateInstallRunning.store(false); }

bool ShuttingDown() { return g_UpdateInstallCancel.load(); }

void UpdateThread(webview::WebView* view, std::string id) {
  webview::WebView& w = *view;
  UpdateCheckResult check = CheckForUpdate(g_UpdateManifestOverride);
  if (ShuttingDown()) return EndQuietly();
  if (!check.available) return Fail(w, id, "Update failed: the update is no longer available. Try again later.");

  bool preAuthorized = false;
  if (OsUpdateAuthorizesFirst()) {
    if (!ShowStep("if (window.onUpdateAuthorizing) onUpdateAuthorizing();", 0) || ShuttingDown())
      return EndQuietly();
    std::string message = OsAuthorizeUpdate();
    if (!message.empty()) return Fail(w, id, message);
    if (ShuttingDown()) {
      OsAbandonAuthorizedUpdate();
      return EndQuietly();
    }
    preAuthorized = true;
  }

  UpdateProgressFn progress = [](int64_t received, int64_t total) {
    std::lock_guard<std::mutex> lock(g_UpdateUiMutex);
    if (g_UpdateInstallCancel.load() || !g_MasterEvalFn) return false;
    g_MasterEvalFn("if (window.onUpdateProgress) onUpdateProgress(" + std::to_string(received) + "," +
                   std::to_string(total) + ");");
    return true;
  };
  std::string staged;
  std::string message = OsDownloadAndStageUpdate(check.info, progress, staged);
  if (preAuthorized && (ShuttingDown() || !message.empty())) OsAbandonAuthorizedUpdate();
  if (ShuttingDown()) return EndQuietly();
  if (!message.empty()) return Fail(w, id, message);

  if (!preAuthorized) {
    bool asks = OsUpdateAsksPassword();
    std::string script = std::string("if (window.onUpdateInstalling) onUpdateInstalling(") +
                         (asks ? "true" : "false") + ");";
    if (!ShowStep(script, asks ? 700 : 150) || ShuttingDown()) return EndQuietly();
  } else {
    UpdateUi([] { g_MasterEvalFn("if (window.onUpdateInstalling) onUpdateInstalling(false);"); });
  }

  message = OsInstallStagedUpdate(staged);
  if (!message.empty()) return Fail(w, id, message);
  // The program ends normally; the relauncher starts the new version.
  UpdateUi([view] { g_MasterDispatchFn([view] { view->terminate(); }); });
}

}  // namespace

std::string ExpectedUpdateTier() { return std::string("linux-") + kBuildEdition + "-" + PackageType(); }

UpdateCheckResult CheckForUpdate(const std::string& manifestOverride) {
  UpdateCheckResult result;
  if (PackageType().empty()) return result;

  std::string manifest;
  if (manifestOverride.empty()) {
    std::string url = std::string("https://") + kProductWebHost + "/update/" + ExpectedUpdateTier() + ".json";
    if (!HttpsGet(url, kMaxManifestBytes, nullptr, nullptr, manifest)) return result;
  } else if (StartsWith(manifestOverride, "https://")) {
    if (!HttpsGet(manifestOverride, kMaxManifestBytes, nullptr, nullptr, manifest)) return result;
  } else if (StartsWith(manifestOverride, "http://")) {
    return result;
  } else {
    manifest = ReadManifestFile(manifestOverride);
    if (manifest.empty()) return result;
  }

  UpdateManifestInfo info;
  if (LinuxEvaluateReleaseManifest(manifest, ExpectedUpdateTier(), kCurrentVersion, info)) {
    result.available = 1;
    result.info = info;
  }
  return result;
}

void StartUpdateCheckThread() {
  std::thread([] {
    for (int i = 0; i < 50 && g_AppRunning.load(); ++i) SleepMs(100);
    while (g_AppRunning.load() && !g_MainPageReady.load()) SleepMs(500);
    if (!g_AppRunning.load()) return;
    UpdateCheckResult r = CheckForUpdate(g_UpdateManifestOverride);
    if (!r.available || !g_AppRunning.load()) return;
    std::string script = "if (window.onUpdateAvailable) window.onUpdateAvailable(" +
                         JsonEscapeForBind(r.info.version) + "," + JsonEscapeForBind(r.currentVersion) + ");";
    UpdateUi([&script] { g_MasterEvalFn(script); });
  }).detach();
}

void BindStartUpdate(webview::WebView& w, const std::string& id, const std::string&) {
  if (updateInstallRunning.exchange(true)) {
    w.resolve(id, 0, JsonEscapeForBind("An update is already in progress."));
    return;
  }
  std::thread(UpdateThread, &w, id).detach();
}
