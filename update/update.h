#pragma once
// Self-update: the background check, cleanup of old update folders, and the
// self-test of the update rules.
#include <string>

namespace webview { class WebView; }

void CleanupUpdateTempFiles();
void StartUpdateCheckThread();
bool SelfTestUpdate(const std::string& vectorsPath, std::string& report);
// The asynchronous startUpdate bridge call; answers through w.resolve(id, ...).
void BindStartUpdate(webview::WebView& w, const std::string& id, const std::string& args);
