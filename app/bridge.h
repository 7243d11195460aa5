#pragma once
// The native bridge: functions the page calls, and the script injected into
// every page.
#include <string>

namespace webview { class WebView; }

// Removes every square bracket and double quote of a bridge argument; nothing
// is unescaped, so ["a","b"] and ["a,b"] both give a,b.
std::string ParseJSString(const std::string& text);
// The user script added at document start of every page (main and boot).
std::string InjectedUserScript();
// setTitleBarColors for the main window, bound right after the title-bar
// colours are set.
void BindSetTitleBarColors(webview::WebView& w);
// Every other bridge function, in the table's order.
void BindBridgeFunctions(webview::WebView& w);
