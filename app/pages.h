#pragma once
// The pages the window shows: the main page and the boot page, both read
// from the resource directory and loaded from a string without a base URI.
#include <string>

namespace webview { class WebView; }

// Loads the boot page with the kind ("permissions" or "reset") filled in.
void LoadBootPage(webview::WebView& w, const std::string& kind);
// Clears g_MainPageReady and loads the main page with its scripts inlined.
void LoadMainUi(webview::WebView& w);

// The HTML LoadBootPage shows for a given boot page file content.
std::string BuildBootPageHtml(const std::string& file, const std::string& kind);
// The HTML LoadMainUi shows for a main page directory (holding index.html).
std::string BuildMainPageHtml(const std::string& uiDir);

inline constexpr const char* kBootPagePath = "linux-ui/boot.html";
inline constexpr const char* kBootModePlaceholder = "__PMR_BOOT_MODE__";
inline constexpr size_t kMaxInlinedPageBytes = 2097152;
