#pragma once
// Self-update: the background check, the page-started update, cleanup of old
// update folders, and the self-test of the update rules.
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
bool SelfTestUpdate(const std::string& vectorsPath, std::string& report);
// The asynchronous startUpdate bridge call; answers through w.resolve(id, ...).
void BindStartUpdate(webview::WebView& w, const std::string& id, const std::string& args);
