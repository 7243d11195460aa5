#pragma once
// The pages the window shows: the main page and the boot page.
#include <string>

namespace webview { class WebView; }

void LoadBootPage(webview::WebView& w, const std::string& kind);
void LoadMainUi(webview::WebView& w);
