#pragma once
// The native bridge: functions the page calls, and the script injected into
// every page.
#include <string>

namespace webview { class WebView; }

// Removes every square bracket and double quote of a bridge argument.
std::string ParseJSString(const std::string& text);
// The user script added at document start of every page.
std::string InjectedUserScript();
// setTitleBarColors, bound right after the title-bar colours are set.
void BindSetTitleBarColors(webview::WebView& w);
// Every other bridge function, in the table's order.
void BindBridgeFunctions(webview::WebView& w);
