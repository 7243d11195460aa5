#pragma once
// Self-update as the program runs it: the background check, the update the
// page starts, cleanup of old update folders. The rules are update/'s.
#include <string>

#include "update/update_core.h"

namespace webview { class WebView; }

struct UpdateCheckResult {
  int available = 0;
  UpdateManifestInfo info;
  std::string currentVersion = kCurrentVersion;
};

// "linux-free-" + package type.
std::string ExpectedUpdateTier();
// Whether a newer signed release exists. `manifestOverride` is empty, an
// https:// URL, or a local file path.
UpdateCheckResult CheckForUpdate(const std::string& manifestOverride);

void CleanupUpdateTempFiles();
void StartUpdateCheckThread();
// The asynchronous startUpdate bridge call; answers through w.resolve(id, ...).
void BindStartUpdate(webview::WebView& w, const std::string& id, const std::string& args);
